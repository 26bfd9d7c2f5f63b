#pragma once
// Adding observation equations to the normal equations: the first phase of a solve, and done
// while the equations are formed. The term plan serves every solver (normal_solver.h); the
// equation groups are the dense solver's way of adding to its packed triangle.
#include <algorithm>
#include <cstddef>

#include "engine/normal_matrix.h"
#include "engine/scratch_records.h"

namespace torvek {
namespace accumulation {

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

    // Adds the group to the packed matrix of order n and to the right-hand side u (unknown k at
    // u[k]), then empties the group.
    void accumulateInto(float* packed, int n, double* u) {
        for (int r = 0; r < terms; ++r) {
            // Element (ur, uc) of row ur is at rowStart + uc.
            const std::ptrdiff_t rowStart =
                static_cast<std::ptrdiff_t>(packedIndex(unknown[r], unknown[r], n)) - unknown[r];
            // The row's elements are gathered, added to equation by equation across the row (a
            // loop the compiler runs on vector registers), and put back. Each element still takes
            // its products one equation after the other.
            double element[kVectorEquationTerms];
            for (int c = r; c < terms; ++c)
                element[c] = packed[rowStart + unknown[c]];
            for (int e = 0; e < equations; ++e) {
                const double cr = coefficient[e][r];
                const double p = weight[e];
                for (int c = r; c < terms; ++c) {
                    // The product is formed in double precision; the sum is stored as a float.
                    element[c] = static_cast<float>(element[c] + cr * coefficient[e][c] * p);
                }
            }
            for (int c = r; c < terms; ++c)
                packed[rowStart + unknown[c]] = static_cast<float>(element[c]);
            for (int e = 0; e < equations; ++e)
                u[unknown[r]] -= coefficient[e][r] * (weight[e] * misclosure[e]);
        }
        equations = 0;
    }
};

}  // namespace accumulation

}  // namespace torvek
