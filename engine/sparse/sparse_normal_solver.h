#pragma once
#include <memory>

#include "engine/normal_solver.h"

namespace torvek {

/// Unknowns (bias unknowns not counted) from which the sparse solver orders by nested
/// dissection rather than approximate minimum degree: measured on generated campaign networks,
/// nested dissection gives a factor that is as large but factorises and inverts faster from about
/// 1,000 sites on, and below that the two take about the same time.
inline constexpr int kNestedDissectionFrom = 3000;

/// The normal equations held sparse in double precision: assembled from the equations, ordered
/// with the bias unknowns last (the others by approximate minimum degree, or by nested dissection
/// from `nestedDissectionFrom` of them on), factorised by CHOLMOD into supernodes, and inverted
/// only on the factor's pattern, which holds every element the results need: the diagonal and
/// every pair of unknowns that share an equation. The ordering and the factor's structure are
/// kept from one iteration to the next while the system's pattern stays the same.
std::unique_ptr<NormalSolver> makeSparseNormalSolver(int nestedDissectionFrom);
/// The solver torvek-large uses.
std::unique_ptr<NormalSolver> makeSparseNormalSolver();

/// True once a solver of this process refused a factorisation because its estimate of the memory
/// needed (the factor, the selected inverse on its pattern and the largest update block) exceeded
/// what the process could still have (its RLIMIT_AS less what it maps, and the system's available
/// memory with free swap); the report then says "Error: Not enough memory for request: ...".
bool sparseMemoryRefused();

/// Sets the threads of the BLAS kernels to `threads`, 1..kMaxBlasThreads, through OpenBLAS's own
/// call when the process has it (it reads its environment only when it is loaded); false when
/// there is no such call, and then only the environment (OPENBLAS_NUM_THREADS, OMP_NUM_THREADS)
/// decides. One thread also keeps the factorisation's OpenMP regions on the calling thread.
bool setBlasThreads(int threads);
/// Most BLAS threads torvek-large takes (--threads).
inline constexpr int kMaxBlasThreads = 64;

/// Seconds spent in each phase of the last solve, for the benchmarks; `assemble` runs from
/// start() to the end of finish(), with whatever the caller did between its equations.
struct SparsePhaseTimes {
    double assemble = 0, order = 0, factorise = 0, solve = 0, selectedInverse = 0;
};
/// The phase times of `solver`, which makeSparseNormalSolver made.
SparsePhaseTimes sparsePhaseTimes(const NormalSolver& solver);

}  // namespace torvek
