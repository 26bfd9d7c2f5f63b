#pragma once
#include <cstddef>
#include <memory>

#include "engine/normal_accumulation.h"
#include "engine/scratch_records.h"

namespace torvek {

/// A store of the normal equations N x = u and their solver: the dense single-precision triangle
/// of `torvek` (dense_normal_solver.h) or the sparse double-precision one of `torvek-large`.
/// Unknowns are numbered 1..n as in the engine; the bias unknowns come last. One solver serves
/// one attempt after the other: start() begins each assembly anew.
class NormalSolver {
  public:
    /// What a factorisation found.
    struct Factorisation {
        /// 0 on success, else the 1-based unknown whose pivot was not a finite positive number.
        int badPivot = 0;
        /// Memory could not be had: nothing else is valid.
        bool outOfMemory = false;
        /// When the solver refused to start the factorisation because its estimate of the memory
        /// needed (bytes) exceeds what the process can still have: both numbers, else 0.
        double bytesNeeded = 0.0;
        double bytesAvailable = 0.0;
    };

    virtual ~NormalSolver() = default;

    /// Name of the engine for the report, e.g. "sparse".
    virtual const char* name() const = 0;
    /// Most sites an attempt may load, >= 1: what the store holds, not what memory allows.
    virtual int siteLimit() const = 0;
    /// Most unknowns a system may have, >= 4.
    virtual int unknownLimit() const = 0;
    /// Begins the assembly of a system of order n, [0, unknownLimit()], with a zero matrix and
    /// right-hand side; the last `trailing` unknowns (the bias unknowns, [0, n]) stay last in the
    /// ordering. False when memory is short.
    virtual bool start(int n, int trailing) = 0;
    /// Adds one equation whose terms `plan` was made for (plan.fits(equation), made with this
    /// system's n): coefficient_r x coefficient_c x weight to N, coefficient x weight x
    /// misclosure subtracted from u, for the unknowns the plan keeps. An equation of weight 0
    /// adds nothing.
    virtual void add(const EquationRecord& equation, const accumulation::TermPlan& plan) = 0;
    /// Ends the assembly; false when memory is short.
    virtual bool finish() = 0;
    /// Element N_ij, 1 <= i, j <= n, either order (1/m^2 for coordinate unknowns), 0 where N
    /// holds none; valid after finish() until factorise().
    virtual double element(int i, int j) const = 0;
    /// Element u_i of the right-hand side, 1 <= i <= n; valid after finish() until solve().
    virtual double rightHandSide(int i) const = 0;
    /// Orders and factorises N.
    virtual Factorisation factorise() = 0;
    /// Solves N x = u into x (1-based, x[0] unused, n + 1 elements) and, when `invert`, stores
    /// the inverse elements the results need. Without it a solver may leave the inverse unformed
    /// (inverse() then gives 0) unless solving forms it anyway (the dense solver's diagonal).
    /// False when memory is short.
    virtual bool solve(double* x, bool invert) = 0;
    /// Completes the inverse of the last solve where the solver defers work to the end of the
    /// attempt (after the adjustment tests); false when there is no solved system.
    virtual bool completeInverse() = 0;
    /// Element (i, j) of N^-1, 1-based, either order: after solve() at least the diagonal, after
    /// completeInverse() also every pair of unknowns that share an equation; 0 where the solver
    /// holds none.
    virtual double inverse(int i, int j) const = 0;
    /// One line on the size of the last system for the report (unknowns, nonzeros of N and of
    /// its factor); false, leaving `text` empty, when the solver adds no line to the report.
    virtual bool describe(char* text, std::size_t size) const = 0;
    /// Releases every buffer.
    virtual void release() = 0;
};

/// Makes the solver an engine uses; nullptr: the built-in dense solver.
using NormalSolverFactory = std::unique_ptr<NormalSolver> (*)();

/// Passes equations to a solver with the plan of their terms, made once for each run of
/// equations that name the same unknowns (a vector's three), so that every solver sums the
/// coefficients of the same unknowns in the same order.
class EquationFeed {
  public:
    /// `n`: the order the solver was started with.
    EquationFeed(NormalSolver& solver, int n) : solver_(solver), n_(n) {}

    void add(const EquationRecord& equation) {
        if (equation.weight == 0)
            return;  // adds nothing
        if (!plan_.fits(equation))
            plan_.make(equation, n_);
        solver_.add(equation, plan_);
    }

  private:
    NormalSolver& solver_;
    int n_;
    accumulation::TermPlan plan_;
};

}  // namespace torvek
