// Accumulating the normal equations from the equation records and solving them.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine/adjustment_engine.h"
#include "engine/normal_solver.h"

namespace torvek {
namespace {

// The report gives memory in decimal megabytes, as the system's tools do.
constexpr double kBytesPerMegabyte = 1e6;

}  // namespace

bool AdjustmentEngine::accumulateNormals() {
    AdjustmentState& s = *state_;
    normalsFormed_ = false;
    const int n = s.unknownCount;
    if (!startNormals(n))
        return reportError("Error: Not enough memory for request\n");
    scratch_.equationScratch.rewind();
    EquationFeed feed(*solver_, n);
    for (int record = 0; record < s.observationCount; ++record) {
        EquationRecord equation;
        if (!readEquation(scratch_.equationScratch, equation, record < s.controlConstraintCount))
            break;
        feed.add(equation);
    }
    if (!solver_->finish())
        return reportError("Error: Not enough memory for request\n");
    return true;
}

bool AdjustmentEngine::startNormals(int n) {
    return solver_->start(n, n - state_->coordinateUnknownCount);
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

bool AdjustmentEngine::solveNormals(SolveStep step) {
    AdjustmentState& s = *state_;
    NormalSolver& solver = *solver_;
    settings_.singularityRetry = false;
    scratch_.equationScratch.rewind();
    const int n = s.unknownCount;

    if (step == SolveStep::kFullInverse) {
        normalsFormed_ = false;
        return solver.completeInverse() && !progress_.pollAbort(stage::kInverseFormed);
    }

    s.reserveUnknowns(n);
    for (int u = 1; u <= n; ++u)
        s.solution[u] = s.solutionSigma[u] = 0;
    // The equations of this iteration were added as they were formed; otherwise they are read
    // back here.
    const bool formed = normalsFormed_;
    normalsFormed_ = false;
    if (!formed && !accumulateNormals())
        return false;
    for (int u = 1; u <= n; ++u)
        if (solver.element(u, u) == 0.0)
            reportMissingEquation(u);
    if (progress_.pollAbort(stage::kEquationsChecked))
        return false;
    if (s.sigmaScale == kNoEquationMark)
        return false;

    const NormalSolver::Factorisation factorisation = solver.factorise();
    if (factorisation.outOfMemory && factorisation.bytesNeeded > 0.0)
        return reportError(
            "Error: Not enough memory for request: the factorisation needs about "
            "%.0f MB and %.0f MB are left to the program\n",
            factorisation.bytesNeeded / kBytesPerMegabyte,
            factorisation.bytesAvailable / kBytesPerMegabyte);
    if (factorisation.outOfMemory)
        return reportError("Error: Not enough memory for request\n");
    if (factorisation.badPivot != 0) {
        reportBadPivot(factorisation.badPivot);
        return false;
    }
    if (progress_.pollAbort(stage::kFactorised))
        return false;
    // Only the last iteration's standard deviations are stored: a solver that must form an
    // inverse for them alone (the sparse one's selected inverse, the costliest step of a large
    // network) does so in the last iteration only and leaves the earlier sigmas 0.
    const int iterations = settings_.overConstrained ? 2 : 1;
    const bool lastIteration = s.iterationCount + 1 >= iterations;
    if (!solver.solve(s.solution.data(), lastIteration))
        return reportError("Error: Not enough memory for request\n");
    char size[160];
    if (s.iterationCount == 0 && solver.describe(size, sizeof size))
        report_.print("Engine: %s; %s\n", solver.name(), size);
    if (progress_.pollAbort(stage::kSolved))
        return false;
    s.sigmaScale = 1.0;
    for (int u = 1; u <= n; ++u)
        s.solutionSigma[u] = std::sqrt(std::max(solver.inverse(u, u), 0.0)) * s.sigmaScale;
    return true;
}

}  // namespace torvek
