// Accumulating the normal equations from the equation records and solving them.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine/adjustment_engine.h"
#include "engine/cholesky.h"
#include "engine/normal_accumulation.h"

namespace torvek {

bool AdjustmentEngine::accumulateNormals() {
    AdjustmentState& s = *state_;
    normalsFormed_ = false;
    const int n = s.unknownCount;
    if (!startNormals(n))
        return reportError("Error: Not enough memory for request\n");
    scratch_.equationScratch.rewind();
    NormalAccumulator accumulator(normalMatrix_.data(), n, s.solution.data());
    for (int record = 0; record < s.observationCount; ++record) {
        EquationRecord equation;
        if (!readEquation(scratch_.equationScratch, equation, record < s.controlConstraintCount))
            break;
        accumulator.add(equation);
    }
    accumulator.finish();
    return true;
}

bool AdjustmentEngine::startNormals(int n) {
    AdjustmentState& s = *state_;
    if (!normalMatrix_.allocate(n))
        return false;
    for (int u = 1; u <= n; ++u)
        s.solution[u] = s.solutionSigma[u] = 0;
    normalMatrix_.setOrder(n);
    normalMatrix_.clear();
    return true;
}

void AdjustmentEngine::reportMissingEquation(int u) {
    AdjustmentState& s = *state_;
    report_.setStyle(style::kError);
    if (u <= s.coordinateUnknownCount) {
        report_.print("Error: There is no equation for unknown %3d ( site %4.4s)\n", u,
                      s.unknownSite[u].name);
        settings_.singularityRetry = true;
    } else {
        report_.print("Error: There is no equation for unknown %3d\n", u);
    }
    report_.setStyle(style::kBody);
    s.sigmaScale = kNoEquationMark;
}

void AdjustmentEngine::reportBadPivot(int u) {
    const AdjustmentState& s = *state_;
    if (u <= s.coordinateUnknownCount) {
        report_.print("Error: Solution is singular. Unknown %3d ( site %4.4s)\n", u,
                      s.unknownSite[u].name);
        settings_.singularityRetry = true;
    } else {
        report_.print("Error: Solution is singular. Unknown %3d\n", u);
    }
}

bool AdjustmentEngine::solveWithSolver(SolveStep step) {
    AdjustmentState& s = *state_;
    NormalSolver& solver = *solver_;
    const int n = s.unknownCount;
    if (step == SolveStep::kFullInverse) {
        // The selected inverse was formed with the solution; only the stage is left to announce.
        return !progress_.pollAbort(stage::kInverseFormed);
    }
    s.reserveUnknowns(n);
    for (int u = 1; u <= n; ++u)
        s.solution[u] = s.solutionSigma[u] = 0;
    bool assembled = solver.start(n, n - s.coordinateUnknownCount);
    if (assembled) {
        scratch_.equationScratch.rewind();
        for (int record = 0; record < s.observationCount; ++record) {
            EquationRecord equation;
            if (!readEquation(scratch_.equationScratch, equation,
                              record < s.controlConstraintCount))
                break;
            solver.add(equation);
        }
        assembled = solver.finish();
    }
    if (!assembled)
        return reportError("Error: Not enough memory for request\n");
    for (int u = 1; u <= n; ++u)
        if (solver.diagonal(u) == 0.0)
            reportMissingEquation(u);
    if (progress_.pollAbort(stage::kEquationsChecked))
        return false;
    if (s.sigmaScale == kNoEquationMark)
        return false;

    const NormalSolver::Factorisation factorisation = solver.factorise();
    if (factorisation.outOfMemory)
        return reportError("Error: Not enough memory for request\n");
    if (factorisation.badPivot != 0) {
        reportBadPivot(factorisation.badPivot);
        return false;
    }
    if (progress_.pollAbort(stage::kFactorised))
        return false;
    // Only the last iteration's standard deviations are stored: the selected inverse, the
    // costliest step of a large network, is formed for it alone, and earlier iterations leave
    // their sigmas 0.
    const int iterations = settings_.overConstrained ? 2 : 1;
    const bool lastIteration = s.iterationCount + 1 >= iterations;
    if (!solver.solve(s.solution.data(), lastIteration))
        return reportError("Error: Not enough memory for request\n");
    if (s.iterationCount == 0) {
        char size[160];
        solver.describe(size, sizeof size);
        report_.print("Engine: %s; %s\n", solver.name(), size);
    }
    if (progress_.pollAbort(stage::kSolved))
        return false;
    s.sigmaScale = 1.0;
    for (int u = 1; u <= n; ++u)
        s.solutionSigma[u] =
            lastIteration ? std::sqrt(std::max(solver.inverse(u, u), 0.0)) * s.sigmaScale : 0.0;
    return true;
}

bool AdjustmentEngine::solveNormals(SolveStep step) {
    AdjustmentState& s = *state_;
    settings_.singularityRetry = false;
    if (solver_)
        return solveWithSolver(step);
    scratch_.equationScratch.rewind();
    const int n = s.unknownCount;

    if (step == SolveStep::kFullInverse) {
        normalsFormed_ = false;
        // The inverse factor of the last kCorrections solve is in the matrix; without one there is
        // nothing to invert.
        if (!normalMatrix_.isAllocated() || normalMatrix_.capacity() < n)
            return false;
        normalMatrix_.setOrder(n);
        formFullInverse(normalMatrix_.data(), n);
        return !progress_.pollAbort(stage::kInverseFormed);
    }

    // The equations of this iteration were added as they were formed; otherwise they are read
    // back here.
    const bool formed = normalsFormed_ && normalMatrix_.order() == n;
    normalsFormed_ = false;
    if (!formed && !accumulateNormals())
        return false;
    float* matrix = normalMatrix_.data();
    for (int u = 1; u <= n; ++u) {
        if (normalMatrix_.at(u, u) != 0.0f)
            continue;
        reportMissingEquation(u);
    }
    if (progress_.pollAbort(stage::kEquationsChecked))
        return false;
    if (s.sigmaScale == kNoEquationMark)
        return false;

    const int badPivot = factorizeCholesky(matrix, n);
    if (badPivot != 0) {
        reportBadPivot(badPivot);
        return false;
    }
    if (progress_.pollAbort(stage::kFactorised))
        return false;

    forwardSubstitute(matrix, n, s.solution.data() + 1, s.solutionSigma.data() + 1);
    invertFactor(matrix, n);
    if (progress_.pollAbort(stage::kSolved))
        return false;

    s.sigmaScale = 1.0;
    std::vector<double> q(static_cast<std::size_t>(n) + 1, 0.0);
    solveFromInverseFactor(matrix, n, s.solutionSigma.data() + 1, s.solution.data() + 1,
                           q.data() + 1);
    for (int i = 1; i <= n; ++i)
        s.solutionSigma[i] = std::sqrt(q[i]) * s.sigmaScale;
    return true;
}

}  // namespace torvek
