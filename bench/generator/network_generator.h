#pragma once
// Survey networks of any size up to the program's limits, for benchmarks: a grid of sites with
// baselines to their neighbours, simulated with realistic GPS precision.
#include <string>

#include "dataset/project_data_set.h"

namespace torvek::bench {

struct NetworkShape {
    int sites = 500;              // 2 .. 500
    int vectors = 3000;           // wanted number of baselines (at least sites - 1)
    bool overConstrained = true;  // four fixed components instead of three
    unsigned seed = 1;
    /// Metres; above 0 every site is also a weighted control point with this sigma in latitude,
    /// longitude and height, as in a densification of coordinates known beforehand. The inverse
    /// of such a network's factor holds values that fall below the smallest normal float.
    double siteSigma = 0;
};

/// A grid network around latitude 46.5, longitude 7.5 (degrees) with 1.5 km spacing: every site
/// joined to its grid neighbours, then repeated sessions on random short lines until the wanted
/// number of baselines is reached. The first site is fixed; an over-constrained network also fixes
/// the height of the last site. Vector sigmas 3 mm horizontal, 8 mm vertical.
ProjectDataSet makeGridNetwork(const NetworkShape& shape);

}  // namespace torvek::bench
