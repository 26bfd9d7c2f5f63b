#pragma once
#include <memory>

#include "engine/normal_solver.h"

namespace torvek {

/// The normal equations held sparse in double precision: assembled from the equations, ordered
/// by constrained approximate minimum degree (the bias unknowns last), factorised by CHOLMOD, and
/// inverted only on the factor's pattern (Takahashi recurrences), which holds every element the
/// results need: the diagonal and every pair of unknowns that share an equation.
std::unique_ptr<NormalSolver> makeSparseNormalSolver();

/// Seconds spent in each phase of the last solve, for the benchmarks.
struct SparsePhaseTimes {
    double assemble = 0, order = 0, factorise = 0, solve = 0, selectedInverse = 0;
};
/// The phase times of `solver`, which makeSparseNormalSolver made.
SparsePhaseTimes sparsePhaseTimes(const NormalSolver& solver);

}  // namespace torvek
