#pragma once
#include <suitesparse/cholmod.h>

#include <vector>

namespace torvek {

/// The elements of N^-1 on the pattern of N's supernodal Cholesky factor L (N = L L^T, permuted),
/// which holds the diagonal and every pair of unknowns that share an equation.
class SupernodalInverse {
  public:
    /// Overwrites the values of `factor` (supernodal, real, as cholmod_l_factorize leaves it)
    /// with those of N^-1 in the same layout; the factor is no longer usable for solving. Throws
    /// std::bad_alloc when memory is short.
    void invertInPlace(cholmod_factor& factor);
    /// Element (a, b) of the permuted N^-1, 0 <= a, b < n; 0 outside L's pattern. Valid after
    /// invertInPlace() until the factor changes.
    double element(const cholmod_factor& factor, SuiteSparse_long a, SuiteSparse_long b) const;
    /// Forgets the inverse.
    void clear();
    bool empty() const { return superOfColumn_.empty(); }

  private:
    void gatherBelow(const cholmod_factor& factor, const SuiteSparse_long* below, int m,
                     std::vector<double>& zRR, std::vector<SuiteSparse_long>& position) const;

    std::vector<SuiteSparse_long> superOfColumn_;
};

}  // namespace torvek
