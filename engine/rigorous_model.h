#pragma once
// The rigorous model of torvek-large: every vector weighted by its full Earth-centred covariance,
// the datum bias parameters held by a sigma of 0.001 or less fixed exactly, and per-component
// residual statistics (redundancy numbers, standardized and studentized residuals, minimal
// detectable biases) from the selected inverse of the last iteration.
#include <array>
#include <cstdint>
#include <vector>

#include "engine/engine_limits.h"
#include "engine/scratch_records.h"
#include "geodesy/local_frame.h"
#include "report/rigorous_section.h"

namespace torvek {

/// A bias parameter whose a-priori sigma (arc seconds or ppm) is above 0 and at most this is
/// fixed exactly in the rigorous model: the smallest constraint sigma of the data set.
inline constexpr double kEliminatedBiasSigma = kFixedBiasSigma;

/// A vector in use as the rigorous model weighs it, in the order of the vector scratch records.
struct RigorousVector {
    std::int32_t record = 0;  // record number in the data set (1-based)
    int fromSite = 0, toSite = 0;
    Vector3 observed{};                                           // dX, dY, dZ, metres
    char label1[kNameSlotSize] = {}, label2[kNameSlotSize] = {};  // as the vector records
    /// L and L^-1 of the covariance along the reference point's north, east, up (m^2) with
    /// C = L L^T; the equations are premultiplied by L^-1.
    Matrix3 factor{}, inverseFactor{};
};

/// The tests of one Earth-centred component of a vector (metres; at the a-priori sigma0 of 1
/// where not said otherwise).
struct RigorousComponent {
    double observed = 0, adjusted = 0;
    double residual = 0;       // v = adjusted - observed
    double residualSigma = 0;  // sqrt((Qvv)_ii)
    double redundancy = 0;     // (Qvv P)_ii
    double standardized = 0;   // Baarda's w
    double studentized = 0;    // w at the a-posteriori sigma0
    double mdb = 0;            // minimal detectable bias
    bool outlier = false;      // tau test on the studentized residual
};

/// One vector in use: its three components and the adjusted vector.
struct RigorousVectorResult {
    std::int32_t record = 0;
    int fromSite = 0, toSite = 0;
    char from[4] = {}, to[4] = {};
    std::array<RigorousComponent, 3> components{};
    double length = 0;            // metres
    double azimuth = 0;           // degrees clockwise from north at the start site, [0, 360)
    double heightDifference = 0;  // ellipsoidal, metres
    /// Largest |studentized| of the three components.
    double largestStudentized() const;
};

/// One adjusted site.
struct RigorousSiteResult {
    char name[4] = {};
    bool adjusted = false;                             // at least one component is an unknown
    Vector3 xyz{};                                     // metres
    double latitude = 0, longitude = 0, height = 0;    // degrees, degrees, ellipsoidal metres
    Matrix3 covarianceXYZ{}, covarianceNEU{};          // m^2, at the a-priori sigma0
    double semiMajor = 0, semiMinor = 0, azimuth = 0;  // metres, degrees; at the confidence
    double heightSigma = 0;                            // metres, at the confidence (1-D)
};

/// The relative precision of two sites joined by a vector in use.
struct RigorousPairResult {
    int fromSite = 0, toSite = 0;
    char from[4] = {}, to[4] = {};
    Matrix3 covarianceXYZ{};  // Q_tt + Q_ff - 2 Q_tf, m^2, at the a-priori sigma0
    double distance = 0;      // metres
    double semiMajor = 0, semiMinor = 0, azimuth = 0;  // metres, degrees; at the confidence
    double verticalSigma = 0;                          // metres, at the confidence (1-D)
    double ppm = 0;                                    // semiMajor / distance x 1e6
};

/// Everything the rigorous model adds to a run.
struct RigorousResults {
    bool valid = false;
    int degreesOfFreedom = 0;
    double aprioriSigma0 = 1.0, posteriorSigma0 = 0;
    bool scaledByPosterior = false;
    bool preanalysis = false;  // planned vectors: no residual, chi-square or outlier exists
    double chiSquare = 0, chiSquareLower = 0, chiSquareUpper = 0;
    bool chiSquarePassed = false;
    double criticalValue = 0, alpha0 = 0, power = 0, delta0 = 0;
    double confidence = 0.95;  // fraction
    double ellipseScale = 0;   // sigma0 x sqrt(chi2_2(p)) applied to the ellipses
    double heightScale = 0;    // sigma0 x sqrt(chi2_1(p)) applied to the height sigmas
    double redundancySum = 0;  // of every observation, constraints included
    std::vector<RigorousSiteResult> sites;
    std::vector<RigorousVectorResult> vectors;
    std::vector<RigorousPairResult> pairs;
};

/// The report's line of component `axis` (0 x, 1 y, 2 z) of vector `v`: its record, sites, axis
/// letter, residual (metres), studentized residual and MDB (metres).
FlaggedComponent flaggedComponent(const RigorousVectorResult& v, int axis);

/// Premultiplies the three equations of a vector (north, east, up at the reference point) and
/// their misclosures by `inverseFactor` (L^-1), giving unit weights. The terms of the bias
/// parameters marked in `eliminated` are taken out first: their value (arc seconds or ppm) times
/// the coefficient goes into the misclosure and the unknown becomes 0.
void whitenVectorEquations(EquationRecord (&equations)[3], const Matrix3& inverseFactor,
                           const bool (&eliminated)[kBiasParameterCount],
                           const double (&biasValue)[kBiasParameterCount]);

}  // namespace torvek
