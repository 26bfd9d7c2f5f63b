#pragma once

#include <string>

#include "front/network_results.h"

namespace torvek::front {

// Factor that turns standard deviations into the semi-axes of a horizontal confidence ellipse:
// sqrt(-2 ln(1 - p)), the square root of the chi-square quantile with two degrees of freedom at
// probability p = confidencePercent / 100. It is 1 at 39.35 % and 2.4477 at 95 %. Confidence
// levels outside (0, 100) give 1.
double horizontalConfidenceFactor(double confidencePercent);

// The largest "round" number (1, 2 or 5 times a power of ten) not above `value` (> 0).
double roundDown125(double value);

// An SVG picture of the network in the local frame of the reference point, north up: sites
// (control as triangles, filled when fixed), vectors (those whose normalized residuals exceed the
// tau critical value in red and labelled with their largest normalized residual; vectors out of
// use dashed), horizontal confidence ellipses at the run's confidence level, enlarged by a stated
// round factor and labelled with their semi-axes in millimetres, a scale bar and a legend. The
// ellipses' axes are north and east: the data set keeps no north-east correlation of a site.
std::string renderNetworkSvg(const NetworkResults& results);

}  // namespace torvek::front
