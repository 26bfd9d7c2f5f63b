#pragma once
#include <cstddef>
#include <memory>

#include "engine/scratch_records.h"

namespace torvek {

/// A store of the normal equations N x = u and their solver, for the engines that do not hold N
/// as the built-in dense single-precision triangle (normal_matrix.h). Unknowns are numbered
/// 1..n as in the engine; the bias unknowns come last. One solver serves one attempt after the
/// other: start() begins each assembly anew.
class NormalSolver {
  public:
    /// What a factorisation found.
    struct Factorisation {
        /// 0 on success, else the 1-based unknown whose pivot was not a finite positive number.
        int badPivot = 0;
        /// Memory could not be had: nothing else is valid.
        bool outOfMemory = false;
    };

    virtual ~NormalSolver() = default;

    /// Name of the engine for the report, e.g. "sparse".
    virtual const char* name() const = 0;
    /// Begins the assembly of a system of order n >= 0 with a zero matrix and right-hand side;
    /// the last `trailing` unknowns (the bias unknowns, [0, n]) stay last in the ordering. False
    /// when memory is short.
    virtual bool start(int n, int trailing) = 0;
    /// Adds one equation: coefficient_r x coefficient_c x weight to N, coefficient x weight x
    /// misclosure subtracted from u. Unknown numbers outside 1..n (fixed components: 0) are left
    /// out; an unknown named twice has its coefficients added.
    virtual void add(const EquationRecord& equation) = 0;
    /// Ends the assembly; false when memory is short.
    virtual bool finish() = 0;
    /// Diagonal element N_uu, 1 <= u <= n (1/m^2 for coordinate unknowns); valid after finish().
    virtual double diagonal(int u) const = 0;
    /// Orders and factorises N.
    virtual Factorisation factorise() = 0;
    /// Solves N x = u into x (1-based, x[0] unused, n + 1 elements) and, when `invert`, stores
    /// the inverse elements the results need (selected inverse on the factor's pattern); without
    /// it inverse() gives 0. False when memory is short.
    virtual bool solve(double* x, bool invert) = 0;
    /// Element (i, j) of N^-1, 1-based, either order; 0 where the selected inverse holds none
    /// (never for a diagonal element or for two unknowns that share an equation).
    virtual double inverse(int i, int j) const = 0;
    /// One line on the size of the last system: unknowns, nonzeros of N and of its factor.
    virtual void describe(char* text, std::size_t size) const = 0;
    /// Releases every buffer.
    virtual void release() = 0;
};

/// Makes the solver an engine uses; nullptr: the built-in dense solver.
using NormalSolverFactory = std::unique_ptr<NormalSolver> (*)();

}  // namespace torvek
