// Accumulating the normal equations from the equation records and solving them.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "engine/adjustment_engine.h"
#include "engine/cholesky.h"

namespace torvek {
namespace {

// How the terms of an equation become the terms it adds to the normal equations: coefficients of
// an unknown named more than once (a vector whose two ends are the same site names each of its
// unknowns twice) added up in the order written, the unknowns ordered by number so that every
// product lands in the upper triangle once, and fixed coordinates (0) and numbers that are not
// unknowns of this solve left out. The plan depends only on the unknown numbers as written, so the
// three equations of a vector share one.
struct TermPlan {
    // The unknown numbers it was made for, as written; count -1: made for none yet.
    int count = -1;
    int named[kVectorEquationTerms];
    // The unknowns of this solve, ascending; the coefficient of unknown[k] is the sum of the
    // written terms source[first[k]] .. source[first[k + 1] - 1], in that order.
    int kept = 0;
    int unknown[kVectorEquationTerms];
    int first[kVectorEquationTerms + 1];
    int source[kVectorEquationTerms];

    bool fits(const EquationRecord& equation) const {
        if (equation.termCount != count)
            return false;
        for (int k = 0; k < count; ++k)
            if (equation.terms[k].unknown != named[k])
                return false;
        return true;
    }

    void make(const EquationRecord& equation, int n) {
        count = equation.termCount;
        int order[kVectorEquationTerms];
        for (int k = 0; k < count; ++k) {
            named[k] = equation.terms[k].unknown;
            // A stable insertion: the terms of a vector equation come as two ascending runs of
            // site unknowns and an ascending run of bias unknowns, ordered in a few steps.
            int at = k;
            while (at > 0 && named[order[at - 1]] > named[k]) {
                order[at] = order[at - 1];
                --at;
            }
            order[at] = k;
        }
        kept = 0;
        int sources = 0;
        for (int k = 0; k < count;) {
            const int u = named[order[k]];
            int end = k + 1;
            while (u != 0 && end < count && named[order[end]] == u)
                ++end;
            if (u >= 1 && u <= n) {
                unknown[kept] = u;
                first[kept] = sources;
                for (int j = k; j < end; ++j)
                    source[sources++] = order[j];
                ++kept;
            }
            k = end;
        }
        first[kept] = sources;
    }

    void coefficients(const EquationRecord& equation, double* out) const {
        for (int k = 0; k < kept; ++k) {
            double sum = equation.terms[source[first[k]]].coefficient;
            for (int j = first[k] + 1; j < first[k + 1]; ++j)
                sum += equation.terms[source[j]].coefficient;
            out[k] = sum;
        }
    }
};

// Equations that name the same unknowns, accumulated together: a vector's three equations (north,
// east, up) do. Each element of the normal matrix then receives the products of the equations one
// after the other, in the order the equations were written, exactly as when each equation is
// accumulated in turn; only the matrix is visited once instead of three times.
struct EquationGroup {
    static constexpr int kMaxEquations = 3;
    int equations = 0;
    int terms = 0;
    int unknown[kVectorEquationTerms];
    double coefficient[kMaxEquations][kVectorEquationTerms];
    double weight[kMaxEquations];
    double misclosure[kMaxEquations];

    // Adds the equation if it fits: same unknowns, room left. False, having changed nothing,
    // otherwise.
    bool add(const EquationRecord& equation, const TermPlan& plan) {
        if (equations == kMaxEquations)
            return false;
        if (equations == 0) {
            terms = plan.kept;
            std::copy(plan.unknown, plan.unknown + plan.kept, unknown);
        } else if (plan.kept != terms || !std::equal(unknown, unknown + terms, plan.unknown)) {
            return false;
        }
        plan.coefficients(equation, coefficient[equations]);
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
    TermPlan plan;
    EquationGroup group;
    for (int record = 0; record < s.observationCount; ++record) {
        EquationRecord equation;
        if (!readEquation(scratch_.equationScratch, equation, record < s.controlConstraintCount))
            break;
        if (equation.weight == 0)
            continue;  // adds nothing
        if (!plan.fits(equation))
            plan.make(equation, n);
        if (!group.add(equation, plan)) {
            group.accumulateInto(packed, n, s.solution);
            group.add(equation, plan);
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
