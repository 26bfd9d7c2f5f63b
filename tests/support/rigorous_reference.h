#pragma once
// An independent dense double-precision solution of the rigorous model for networks whose sites
// are either fixed or free in all three components and whose datum bias parameters are held:
// Earth-centred coordinates as unknowns, each vector weighted by the inverse of its 3 x 3
// covariance. Written from the textbook formulas (Qxx = N^-1, Qvv = C - A Qxx A^T, r =
// diag(Qvv P), w = (P v)_i / sqrt((P Qvv P)_ii), MDB = delta0 / sqrt((P Qvv P)_ii)), not from the
// engine's whitening.
#include <array>
#include <vector>

#include "support/synthetic_network.h"

namespace torvek::testing {

using Cov3 = std::array<double, 9>;  // row by row, m^2

struct ReferenceVector {
    int from = 0, to = 0;  // site indices
    Triple observed{};     // dX, dY, dZ, metres
    Cov3 covariance{};
};

struct ReferenceComponent {
    double residual = 0, redundancy = 0, standardized = 0, studentized = 0, mdb = 0;
};

struct RigorousReference {
    std::vector<Triple> xyz;  // adjusted sites
    std::vector<std::array<ReferenceComponent, 3>> vectors;
    std::vector<double> qxx;  // 3m x 3m cofactor matrix of the free sites' X, Y, Z, row by row
    std::vector<int> firstUnknown;  // per site: index of its X in qxx, -1 when fixed
    int degreesOfFreedom = 0;
    double posteriorSigma0 = 0, redundancySum = 0;

    /// The 3 x 3 covariance block of sites i and j (0 when either is fixed), m^2.
    Cov3 block(int i, int j) const;
};

/// Solves the network: `start` holds every site's Earth-centred position (the fixed ones' values,
/// the free ones' approximations), `free` which are unknowns. Linear, so one step from `start`
/// is the solution; `delta0` the non-centrality of the minimal detectable bias.
RigorousReference solveRigorousReference(const std::vector<Triple>& start,
                                         const std::vector<bool>& free,
                                         const std::vector<ReferenceVector>& vectors,
                                         double delta0);

}  // namespace torvek::testing
