// Accumulating the normal equations from the equation records and solving them.
#include <algorithm>
#include <cmath>

#include "engine/adjustment_engine.h"
#include "engine/cholesky.h"

namespace torvek {
namespace {

// Adds the coefficients of an unknown named more than once (a vector whose two ends are the same
// site names each of its unknowns twice) and orders the terms by unknown number, so that every
// product lands in the upper triangle once. A fixed number of passes over a short list: it ends
// whatever the numbers are, equal ones included.
int mergeAndSortTerms(EquationTerm* terms, int count) {
    for (int pass = 0; pass < count; ++pass)
        for (int k = 0; k + 1 < count - pass; ++k)
            if (terms[k].unknown > terms[k + 1].unknown)
                std::swap(terms[k], terms[k + 1]);
    int kept = 0;
    for (int k = 0; k < count; ++k) {
        if (kept > 0 && terms[k].unknown != 0 && terms[kept - 1].unknown == terms[k].unknown) {
            terms[kept - 1].coefficient += terms[k].coefficient;
        } else {
            terms[kept++] = terms[k];
        }
    }
    return kept;
}

}  // namespace

void AdjustmentEngine::accumulateNormals() {
    AdjustmentState& s = *state_;
    const int n = s.unknownCount;
    for (int u = 1; u <= n; ++u)
        s.solution[u] = s.solutionSigma[u] = 0;
    normalMatrix_.setOrder(n);
    normalMatrix_.clear();
    scratch_.equationScratch.rewind();
    for (int record = 0; record < s.observationCount; ++record) {
        EquationRecord equation;
        if (!readEquation(scratch_.equationScratch, equation, record < s.controlConstraintCount))
            break;
        int count = equation.termCount;
        if (count != 1)
            count = mergeAndSortTerms(equation.terms, count);
        const double p = equation.weight;
        if (p == 0)
            continue;
        for (int r = 0; r < count; ++r) {
            const int ur = equation.terms[r].unknown;
            if (ur < 1 || ur > n)
                continue;  // fixed coordinate (0), or not an unknown of this solve
            const double cr = equation.terms[r].coefficient;
            for (int c = r; c < count; ++c) {
                const int uc = equation.terms[c].unknown;
                if (uc < 1 || uc > n)
                    continue;
                float& element = normalMatrix_.at(ur, uc);
                // The product is formed in double precision; the sum is stored as a float.
                element = static_cast<float>(element + cr * equation.terms[c].coefficient * p);
            }
            s.solution[ur] -= cr * (p * equation.misclosure);
        }
    }
}

bool AdjustmentEngine::solveNormals(SolveStep step) {
    AdjustmentState& s = *state_;
    settings_.singularityRetry = false;
    scratch_.equationScratch.rewind();
    const int n = s.unknownCount;
    normalMatrix_.setOrder(n);
    float* matrix = normalMatrix_.data();

    if (step == SolveStep::kFullInverse) {
        formFullInverse(matrix, n);
        return !progress_.pollAbort(stage::kInverseFormed);
    }

    accumulateNormals();
    for (int u = 1; u <= n; ++u) {
        if (normalMatrix_.at(u, u) != 0.0f)
            continue;
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
    if (progress_.pollAbort(stage::kEquationsChecked))
        return false;
    if (s.sigmaScale == kNoEquationMark)
        return false;

    const int badPivot = factorizeCholesky(matrix, n);
    if (badPivot != 0) {
        if (badPivot <= s.coordinateUnknownCount) {
            report_.print("Error: Solution is singular. Unknown %3d ( site %4.4s)\n", badPivot,
                          s.unknownSite[badPivot].name);
            settings_.singularityRetry = true;
        } else {
            report_.print("Error: Solution is singular. Unknown %3d\n", badPivot);
        }
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
