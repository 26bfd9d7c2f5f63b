#pragma once
// Survey networks whose true coordinates are known, with simulated GPS vectors, for checking the
// adjustment against the truth and against an independent solution written here.
#include <array>
#include <string>
#include <vector>

#include "dataset/project_data_set.h"

namespace torvek::testing {

using Triple = std::array<double, 3>;

struct SyntheticSite {
    std::string name;                       // up to four characters
    double latitude = 0;                    // true geodetic latitude, degrees
    double longitude = 0;                   // true longitude, degrees
    double height = 0;                      // true ellipsoidal height, metres
    double geoidHeight = 0;                 // metres; elevation = height - geoidHeight
    bool fixed[3] = {false, false, false};  // latitude, longitude, elevation
    double sigma[3] = {0, 0, 0};            // constraint sigmas, metres
    Triple startOffset{0, 0, 0};  // north, east, up metres added to the truth in the data set
    bool inUse = true;
};

struct SyntheticVector {
    int from = 0, to = 0;                    // indices into the site list
    Triple localSigma{0.003, 0.003, 0.008};  // north, east, up at the reference point, metres
    int weightDivisor = 2;
    bool inUse = true;
    bool covarianceForm = false;  // store the Cartesian covariances instead of correlations
    Triple observed{0, 0, 0};     // dX, dY, dZ after simulate()
};

/// Fixes all three components of a site.
inline void fixSite(SyntheticSite& site) {
    site.fixed[0] = site.fixed[1] = site.fixed[2] = true;
}

struct SyntheticNetwork {
    double semiMajorAxis = 6378137.0;
    double inverseFlattening = 298.257223563;
    double referenceLatitude = 0, referenceLongitude = 0;  // degrees
    double confidenceLevel = 95.0;
    bool minimallyConstrained = false;
    double biasApriori[8] = {};  // (value, sigma) of the rotations about N, E, U and the scale
    std::vector<SyntheticSite> sites;
    std::vector<SyntheticVector> vectors;

    /// Observed vectors = true differences plus normal noise drawn with each vector's local sigmas
    /// (times `noiseScale`), applied along the reference point's north, east and up.
    void simulate(unsigned seed, double noiseScale = 1.0);
    /// The data set a front end would prepare from this network.
    ProjectDataSet toDataSet() const;
    /// True Earth-centred coordinates of site k, metres (computed here, independently).
    Triple trueCartesian(int k) const;
    /// Writes the data set to `path`.
    void writeTo(const std::string& path) const;
};

/// Rows X, Y, Z; columns north, east, up of the local frame at (latitude, longitude) in degrees.
std::array<Triple, 3> localAxes(double latitudeDegrees, double longitudeDegrees);

/// Earth-centred coordinates of a geodetic position (degrees, metres) on the ellipsoid (a, 1/f).
Triple geodeticToCartesian(double latitudeDegrees, double longitudeDegrees, double height,
                           double semiMajorAxis, double inverseFlattening);

/// A ring of `count` sites around (latitude, longitude) with radius about `radiusMetres`, named
/// "S001", "S002", ...; every site joined to the next two, so every site has four vectors.
SyntheticNetwork ringNetwork(int count, double latitude, double longitude, double radiusMetres);

/// A network whose adjustment meets a site without equations, so that a retry follows: two sites
/// of one name ("S003"). The connectivity test joins a vector end to the last site of that name it
/// meets before the other end is found, so vectors reach both; the engine finds every vector end
/// at the first, so the other has no equation. Site order: S003 (b), S002, S003 (a), S001 (fixed).
SyntheticNetwork duplicateNameNetwork();

/// Three fixed sites and a free one, all at one place (30 N, 20 E, 10 m), each fixed site joined
/// to the free one by a vector of zero length and no noise: the free datum bias parameters (the
/// rotations and the scale) appear in no equation, a singular system that no retry mends.
SyntheticNetwork zeroLengthNetwork();

/// An independent double-precision least-squares solution of the same model, iterated to
/// convergence with geodetic coordinates and the four bias parameters as unknowns.
struct ReferenceSolution {
    std::vector<Triple> position;  // adjusted latitude, longitude (degrees), ellipsoidal height
    std::vector<Triple> sigma;     // north, east, up standard deviations, metres
    double bias[4] = {}, biasSigma[4] = {};
    double chiSquare = 0;
    int observations = 0, unknowns = 0;
    double unitWeightError = 1;
};

/// `biasSigma`: the a-priori sigmas of the bias parameters to use (0 free), as the program settles
/// them for the network's control; the fixes and constraint sigmas are the sites' own.
ReferenceSolution solveReference(const SyntheticNetwork& network, const double biasSigma[4]);

}  // namespace torvek::testing

namespace torvek::testing {
/// Geodetic latitude and longitude (degrees) and ellipsoidal height (metres) of an Earth-centred
/// position, by fixed-point iteration on the latitude to far below a micrometre.
Triple cartesianToGeodetic(const Triple& xyz, double semiMajorAxis, double inverseFlattening);
}  // namespace torvek::testing
