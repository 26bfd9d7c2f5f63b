#pragma once

// The adjusted datum bias parameters of a network as the output data set keeps them: rotations
// about the north, east and up axes of the reference point (arc seconds), the scale correction
// (ppm), and the same rotations expressed about the Earth-centred X, Y and Z axes.

#include <cstddef>

namespace torvek {

class AdjustedDataSet;

// Number of values getBiasResults delivers.
inline constexpr std::size_t kBiasReportValueCount = 14;

// Stores the adjusted bias parameters: (b1, s1) about north, (b2, s2) about east, (b3, s3) about
// up, all in arc seconds, and (b4, s4) the scale correction in ppm, together with the rotations
// about X, Y and Z at the reference point (latitude in decimal degrees [-90, 90], longitude in
// decimal degrees) and their sigmas, which take no account of correlations. Every sigma passes
// the bias sigma rule first: 0 stays 0, anything else is at least 0.001. Appends an adjustment
// record when there is none; false only when none could be appended.
bool setBiasResults(AdjustedDataSet& dataSet, double b1, double s1, double b2, double s2, double b3,
                    double s3, double b4, double s4, double latitude, double longitude);

// The bias results in the order and signs of the closing report: b1, s1, b2, s2, b3, s3 as
// stored; then -wX, sX, -wY, sY, -wZ, sZ (the Earth-centred rotations, reversed); then -b4, s4
// (the scale correction, reversed). All fourteen are 0 when the data set has no adjustment
// record. A reversed zero is +0, so that no "-0" reaches the report. Always true.
bool getBiasResults(const AdjustedDataSet& dataSet, double out[kBiasReportValueCount]);

}  // namespace torvek
