// Weighting the vector equations by their full covariance: the whitening of the three equations.
#include <algorithm>
#include <cmath>

#include "engine/rigorous_model.h"

namespace torvek {

double RigorousVectorResult::largestStudentized() const {
    double largest = 0;
    for (const RigorousComponent& c : components)
        largest = std::max(largest, std::fabs(c.studentized));
    return largest;
}

void whitenVectorEquations(EquationRecord (&equations)[3], const Matrix3& inverseFactor,
                           const bool (&eliminated)[kBiasParameterCount],
                           const double (&biasValue)[kBiasParameterCount]) {
    // The bias terms are the last four of a vector equation (observation_equations.cpp).
    constexpr int kFirstBiasTerm = kVectorEquationTerms - kBiasParameterCount;
    for (EquationRecord& equation : equations) {
        for (int k = 0; k < kBiasParameterCount; ++k) {
            if (!eliminated[k])
                continue;
            EquationTerm& term = equation.terms[kFirstBiasTerm + k];
            equation.misclosure += term.coefficient * biasValue[k];
            term = {0, 0.0};
        }
    }
    EquationRecord original[3] = {equations[0], equations[1], equations[2]};
    for (int row = 0; row < 3; ++row) {
        EquationRecord& out = equations[row];
        out.misclosure = 0;
        for (int t = 0; t < out.termCount; ++t)
            out.terms[t].coefficient = 0;
        // L^-1 is lower triangular: row `row` combines the equations 0..row.
        for (int a = 0; a <= row; ++a) {
            const double f = element(inverseFactor, row, a);
            for (int t = 0; t < out.termCount; ++t)
                out.terms[t].coefficient += f * original[a].terms[t].coefficient;
            out.misclosure += f * original[a].misclosure;
        }
        out.weight = 1.0;
    }
}

}  // namespace torvek
