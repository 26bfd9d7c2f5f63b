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

/// Most sites a session network has: every four-character name of digits and capital letters.
inline constexpr int kMaxSessionNetworkSites = 36 * 36 * 36 * 36;

/// A large campaign network of `sites` sites, [2, kMaxSessionNetworkSites], on a jittered grid
/// with 1.5 km spacing around the same origin: one observing session of up to four receivers per
/// site (the site and its nearest neighbours east, north and north-east), each session giving a
/// vector between every two of its receivers (about six vectors per site), and a fixed control
/// site about every 2000 sites (at least two). Sites 1..9999 are named "0001".."9999", later ones
/// in digits and capital letters. Vector sigmas as makeGridNetwork's.
ProjectDataSet makeSessionNetwork(int sites, unsigned seed);

}  // namespace torvek::bench
