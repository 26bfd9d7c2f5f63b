#pragma once

#include <string>
#include <vector>

#include "front/results/network_results.h"
#include "front/results/rigorous_statistics.h"

namespace torvek::front {

// Factor that turns standard deviations into the semi-axes of a horizontal confidence ellipse:
// sqrt(-2 ln(1 - p)), the square root of the chi-square quantile with two degrees of freedom at
// probability p = confidencePercent / 100. It is 1 at 39.35 % and 2.4477 at 95 %. Confidence
// levels outside (0, 100) give 1.
double horizontalConfidenceFactor(double confidencePercent);

// The largest "round" number (1, 2 or 5 times a power of ten) not above `value` (> 0).
double roundDown125(double value);

struct PlotOptions {
    // How many times larger than the map the confidence ellipses are drawn: any positive factor;
    // 0 chooses one (see chooseEllipseEnlargement).
    double ellipseEnlargement = 0.0;
    // Oriented ellipses by position in the results' sites (a NaN semi-axis where a site has
    // none), drawn turned by their azimuth in place of the north-east ones; empty for those.
    std::vector<OrientedEllipse> siteEllipses;
};

// The enlargement of the ellipses chosen for a plot of `pixelsPerMetre` (> 0) whose drawing area
// has `plotSide` pixels on its shorter side: from the series 1, 2, 5 x 10^k, by the scale of the
// map alone, so that two runs of one network are drawn alike and their ellipses compare; a
// semi-axis of 1 cm then takes about 6 % of the side. Only when the largest semi-axis
// `largestSemiAxis` (metres) would then fill more than a quarter of the side does the factor go
// down the series until it fits.
double chooseEllipseEnlargement(double pixelsPerMetre, double plotSide, double largestSemiAxis);

// An SVG picture of the network in the local frame of the reference point, north up: sites
// (control as triangles, filled when fixed), vectors (those whose normalized residuals exceed the
// tau critical value in red and labelled with their largest normalized residual and its sign;
// vectors out of use dashed), horizontal confidence ellipses at the run's confidence level,
// enlarged by a stated factor and labelled with their semi-axes in millimetres, a scale bar and a
// legend of every symbol and line style below the map. Labels are placed where they cross the
// fewest vector lines and other labels, and never reach into the legend. The ellipses' axes are
// north and east (the data set keeps no north-east correlation of a site), unless
// options.siteEllipses gives oriented ones for every site: each is then turned so that its
// semi-major axis points to its azimuth (SVG transform "rotate(azimuth - 90 cx cy)").
std::string renderNetworkSvg(const NetworkResults& results, const PlotOptions& options = {});

}  // namespace torvek::front
