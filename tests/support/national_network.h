#pragma once
// The real national GNSS network beside the project (232 points, 5589 vectors, diagonal
// Earth-centred covariances) as a synthetic network: read from its XML file at run time, never
// kept in the project. The test suite compares the program's solution with an independent one;
// the benchmarks and the comparison script adjust the data set written from it.
#include <string>
#include <vector>

#include "support/synthetic_network.h"

namespace torvek::testing {

/// The network's file, relative to the project's source folder.
inline constexpr const char* kNationalNetworkFile = "../shared/realdata/sjtsk05-dopnul.gama-g3.xml";

struct NetworkPoint {
    std::string id;  // the file's own id, up to 8 characters
    bool fixed = false;
    bool hasPosition = false;
    Triple xyz{0, 0, 0};  // Earth-centred, metres
};

struct NetworkVector {
    std::string from, to;
    Triple delta{0, 0, 0};     // metres
    Triple variance{0, 0, 0};  // diagonal of the Earth-centred covariance, m^2
};

struct NetworkFile {
    std::vector<NetworkPoint> points;
    std::vector<NetworkVector> vectors;
};

/// Reads the points and vectors of the file's text; tolerant of layout, strict about the numbers
/// it needs. Points before the constrained-points and free-points markers are control;
/// constrained points are not supported. False with `problem` set on damage.
bool parseNetworkFile(const std::string& text, NetworkFile& file, std::string& problem);

/// The data set a front end would prepare from the file: WGS84, the reference point at the mean
/// position, points named "P001", "P002", ... in file order, control points fixed, free points
/// without coordinates started from a neighbour plus the vector between them, and each vector
/// weighted by the north, east and up sigmas of its covariance at the reference point (held at
/// kMinimumSigma at least, so that the data set stores exactly what the program weighs). False
/// with `problem` set when a vector names an unknown point, two points share an id or a point
/// cannot be given a start position.
bool buildNationalNetwork(NetworkFile file, SyntheticNetwork& network, std::string& problem);

/// Reads and builds the network from the file at `path`; false with `problem` set when the file
/// is missing or damaged.
bool loadNationalNetwork(const std::string& path, SyntheticNetwork& network, std::string& problem);

}  // namespace torvek::testing
