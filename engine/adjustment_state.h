#pragma once
#include <cstddef>
#include <vector>

#include "engine/engine_limits.h"
#include "engine/rigorous_model.h"
#include "geodesy/local_frame.h"

namespace torvek {

/// One loaded site: its current position (updated by every iteration) and its unknowns.
struct SiteState {
    char name[4] = {};                  // the data set name, not terminated
    char nameSlot[kNameSlotSize] = {};  // "%4.4s" and blanks, 14 characters
    double latitude = 0;                // radians
    double longitude = 0;               // radians
    double height = 0;                  // ellipsoidal height, metres (elevation + geoid height)
    double geoidHeight = 0;             // metres
    double sinLatitude = 0, cosLatitude = 1, sinLongitude = 0, cosLongitude = 1;
    double x = 0, y = 0, z = 0;  // Earth-centred Cartesian coordinates, metres
    /// Unknown numbers of the north, east and up corrections; 0 means the component is fixed.
    int unknownNumber[3] = {};
};

/// Which site and component an unknown belongs to (coordinate unknowns only).
struct UnknownSite {
    char name[4] = {};
    int component = 0;  // 0 north (latitude), 1 east (longitude), 2 up (height)
};

/// The engine's state of one adjustment attempt, rebuilt by every attempt.
struct AdjustmentState {
    AdjustmentState()
        : sites(kMaxSites + 1),
          unknownSite(kMaxUnknowns + 1),
          solution(kMaxUnknowns + 1),
          solutionSigma(kMaxUnknowns + 1) {}

    /// Makes room for sites 1..count; the built-in sizes already hold the dense engine's limits.
    void reserveSites(int count) {
        if (count >= static_cast<int>(sites.size()))
            sites.resize(static_cast<std::size_t>(count) + 1);
    }
    /// Makes room for unknowns 1..count in the per-unknown arrays.
    void reserveUnknowns(int count) {
        if (count < static_cast<int>(solution.size()))
            return;
        const std::size_t size = static_cast<std::size_t>(count) + 1;
        unknownSite.resize(size);
        solution.resize(size);
        solutionSigma.resize(size);
    }

    // Ellipsoid and reference frame.
    double semiMajorAxis = 0;  // metres
    double inverseFlattening = 0;
    double eccentricitySquared = 0;
    double referenceLatitude = 0;   // radians
    double referenceLongitude = 0;  // radians
    double referenceLatitudeDegrees = 0, referenceLongitudeDegrees = 0;
    double sinReferenceLatitude = 0, cosReferenceLatitude = 1;
    double sinReferenceLongitude = 0, cosReferenceLongitude = 1;
    Matrix3 centreRotation{};  // R0: columns north, east, up at the reference point
    // The frame of the vector sigmas (localVectorSigmas) at the reference point, its angles
    // converted with radiansFromDegrees as that function converts them: the same bits.
    Matrix3 sigmaFrame{};

    // Sites 1..loadedSiteCount (index 0 unused) and unknowns 1..coordinateUnknownCount.
    std::vector<SiteState> sites;
    std::vector<UnknownSite> unknownSite;

    int loadedSiteCount = 0;
    int coordinateUnknownCount = 0;
    int unknownCount = 0;
    int observationCount = 0;
    int usedVectorCount = 0;
    int biasGroupCount = 0;
    int biasConstraintCount = 0;
    int vectorNameCount = 0;
    int controlConstraintCount = 0;
    int horizontalControlCount = 0;
    int verticalControlCount = 0;
    int iterationCount = 0;
    int degreesOfFreedom = 0;
    int rejectedVectorCount[kBiasGroupSlots] = {};
    int tiltConstraintAxis = 0;  // 0 none, 1 rotation about north, 2 rotation about east
    int firstVerticalControlSite = 0, secondVerticalControlSite = 0;

    /// Right-hand side on entry to a solve, corrections on return (unknown u at position u).
    std::vector<double> solution;
    /// Intermediate values during a solve, standard deviations on return.
    std::vector<double> solutionSigma;
    double sigmaScale = 0;
    double posteriorSigmaScale = 0;

    /// The rigorous model's vectors in use (in the order of the vector records) and results.
    std::vector<RigorousVector> rigorousVectors;
    RigorousResults rigorous;

    /// Unknown number of bias parameter k (1..4) of bias group g (1-based).
    int biasUnknown(int group, int k) const { return coordinateUnknownCount + 4 * (group - 1) + k; }
};

}  // namespace torvek
