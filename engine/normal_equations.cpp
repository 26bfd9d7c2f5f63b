// Accumulating the normal equations from the equation records and solving them.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine/adjustment_engine.h"
#include "engine/cholesky.h"

namespace torvek {
namespace {

// Adds the coefficients of an unknown named more than once (a vector whose two ends are the same
// site names each of its unknowns twice) and orders the terms by unknown number, so that every
// product lands in the upper triangle once. The sort is stable (terms of equal numbers keep their
// order, so repeated coefficients are added in the order written) and ends whatever the numbers
// are; the terms of a vector equation come as two ascending runs of site unknowns and an
// ascending run of bias unknowns, which insertion orders in a few steps.
int mergeAndSortTerms(EquationTerm* terms, int count) {
    for (int k = 1; k < count; ++k) {
        const EquationTerm term = terms[k];
        int at = k;
        while (at > 0 && terms[at - 1].unknown > term.unknown) {
            terms[at] = terms[at - 1];
            --at;
        }
        terms[at] = term;
    }
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

// Equations that name the same unknowns, accumulated together: a vector's three equations (north,
// east, up) do. Each element of the normal matrix then receives the products of the equations one
// after the other, in the order the equations were written, exactly as when each equation is
// accumulated in turn; only the matrix is visited once instead of three times.
struct EquationGroup {
    static constexpr int kMaxEquations = 3;
    int equations = 0;
    // The unknowns of this solve that the equations name, in ascending order; a fixed
    // coordinate (0), or a number that is not an unknown of this solve, adds nothing.
    int terms = 0;
    int unknown[kVectorEquationTerms];
    double coefficient[kMaxEquations][kVectorEquationTerms];
    double weight[kMaxEquations];
    double misclosure[kMaxEquations];

    // Adds the equation if it fits: same unknowns, room left. False, having changed nothing,
    // otherwise.
    bool add(const EquationRecord& equation, int count, int n) {
        if (equations == kMaxEquations)
            return false;
        int kept[kVectorEquationTerms];
        double values[kVectorEquationTerms];
        int used = 0;
        for (int r = 0; r < count; ++r) {
            if (equation.terms[r].unknown >= 1 && equation.terms[r].unknown <= n) {
                kept[used] = equation.terms[r].unknown;
                values[used] = equation.terms[r].coefficient;
                ++used;
            }
        }
        if (equations == 0) {
            terms = used;
            std::copy(kept, kept + used, unknown);
        } else if (used != terms || !std::equal(kept, kept + used, unknown)) {
            return false;
        }
        std::copy(values, values + used, coefficient[equations]);
        weight[equations] = equation.weight;
        misclosure[equations] = equation.misclosure;
        ++equations;
        return true;
    }

    // Adds the group to the packed matrix of order n and to the right-hand side u, then empties
    // the group.
    void accumulateInto(float* packed, int n, std::vector<double>& u) {
        for (int r = 0; r < terms; ++r) {
            // Element (ur, uc) of row ur is at rowStart + uc.
            const std::ptrdiff_t rowStart =
                static_cast<std::ptrdiff_t>(packedIndex(unknown[r], unknown[r], n)) - unknown[r];
            for (int c = r; c < terms; ++c) {
                float element = packed[rowStart + unknown[c]];
                for (int e = 0; e < equations; ++e) {
                    // The product is formed in double precision; the sum is stored as a float.
                    element = static_cast<float>(element +
                                                 coefficient[e][r] * coefficient[e][c] * weight[e]);
                }
                packed[rowStart + unknown[c]] = element;
            }
            for (int e = 0; e < equations; ++e)
                u[unknown[r]] -= coefficient[e][r] * (weight[e] * misclosure[e]);
        }
        equations = 0;
    }
};

}  // namespace

bool AdjustmentEngine::accumulateNormals() {
    AdjustmentState& s = *state_;
    const int n = s.unknownCount;
    if (!normalMatrix_.allocate(n))
        return reportError("Error: Not enough memory for request\n");
    for (int u = 1; u <= n; ++u)
        s.solution[u] = s.solutionSigma[u] = 0;
    normalMatrix_.setOrder(n);
    normalMatrix_.clear();
    float* const packed = normalMatrix_.data();
    scratch_.equationScratch.rewind();
    EquationGroup group;
    for (int record = 0; record < s.observationCount; ++record) {
        EquationRecord equation;
        if (!readEquation(scratch_.equationScratch, equation, record < s.controlConstraintCount))
            break;
        int count = equation.termCount;
        if (count != 1)
            count = mergeAndSortTerms(equation.terms, count);
        if (equation.weight == 0)
            continue;  // adds nothing
        if (!group.add(equation, count, n)) {
            group.accumulateInto(packed, n, s.solution);
            group.add(equation, count, n);
        }
    }
    group.accumulateInto(packed, n, s.solution);
    return true;
}

bool AdjustmentEngine::solveNormals(int mode) {
    AdjustmentState& s = *state_;
    settings_.singularityRetry = false;
    scratch_.equationScratch.rewind();
    const int n = s.unknownCount;

    if (mode == 2) {
        // The inverse factor of the last mode 0 solve is in the matrix; without one there is
        // nothing to invert.
        if (!normalMatrix_.isAllocated() || normalMatrix_.capacity() < n)
            return false;
        normalMatrix_.setOrder(n);
        formFullInverse(normalMatrix_.data(), n);
        return !progress_.pollAbort(stage::kInverseFormed);
    }

    if (!accumulateNormals())
        return false;
    float* matrix = normalMatrix_.data();
    for (int u = 1; u <= n; ++u) {
        if (normalMatrix_.at(u, u) != 0.0f)
            continue;
        report_.setStyle(9, 1, 0, 0);
        if (u <= s.coordinateUnknownCount) {
            report_.print("Error: There is no equation for unknown %3d ( site %4.4s)\n", u,
                          s.unknownSite[u].name);
            settings_.singularityRetry = true;
        } else {
            report_.print("Error: There is no equation for unknown %3d\n", u);
        }
        report_.setStyle(9, 3, 0, 0);
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
