#pragma once

// The adjusted datum bias parameters of a network: rotations about the north, east and up axes of
// the reference point (arc seconds) and the scale correction (ppm), together with the same
// rotations expressed about the Earth-centred X, Y and Z axes, in the block the output data set
// stores and in the order and signs of the closing report.

#include <array>
#include <cstddef>

namespace torvek {

// One datum bias parameter: value and standard deviation, in arc seconds for a rotation and in
// ppm for the scale correction.
struct BiasEstimate {
    double value = 0.0;
    double sigma = 0.0;
};

// The four datum bias parameters of a bias group, in their fixed order.
struct BiasParameters {
    BiasEstimate aboutNorth;  // rotation about the north axis of the reference point
    BiasEstimate aboutEast;   // rotation about its east axis
    BiasEstimate aboutUp;     // rotation about its up axis
    BiasEstimate scale;       // scale correction
};

// Seven (value, sigma) pairs: the stored block of adjusted bias results, and the closing report's
// bias values.
inline constexpr std::size_t kBiasValueCount = 14;
using BiasValues = std::array<double, kBiasValueCount>;

// The stored block of the adjusted parameters `adjusted` of one bias group: the pairs about north,
// east and up and of the scale, as given; then (wX, sX, wY, sY, wZ, sZ), the rotations about the
// Earth-centred X, Y and Z axes, w = R (bN, bE, bU) with R the local frame matrix at the
// reference point (latitude in decimal degrees [-90, 90], longitude in decimal degrees, converted
// with radiansFromDegrees), and their sigmas without correlations, the square roots of the
// diagonal of R diag(sN^2, sE^2, sU^2) R^T. The scale correction takes no part in the rotation.
// Sigmas are taken as given: the caller applies the data set's sigma rule first.
[[nodiscard]] BiasValues biasResultBlock(const BiasParameters& adjusted, double latitude,
                                         double longitude);

// A stored block in the order and signs of the closing report: bN, sN, bE, sE, bU, sU as stored;
// then -wX, sX, -wY, sY, -wZ, sZ (the Earth-centred rotations, reversed); then -bScale, sScale
// (the scale correction, reversed). A reversed zero is +0, so that no "-0" reaches the report.
[[nodiscard]] BiasValues biasReportValues(const BiasValues& stored);

}  // namespace torvek
