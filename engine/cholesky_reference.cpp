#include "engine/cholesky_reference.h"

#include <cfloat>
#include <cmath>
#include <cstddef>

// Each product is rounded to float before it is added: a fused multiply-add would make the results
// depend on the processor the program happens to run on.
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif

namespace torvek::reference {
namespace {

// Element (i, j), 0-based i <= j, of the packed triangle is rowBase(i)[j].
inline std::ptrdiff_t rowOffset(int n, int i) {
    return static_cast<std::ptrdiff_t>(i) * n - static_cast<std::ptrdiff_t>(i) * (i + 1) / 2;
}

inline bool isUsablePivot(float d) {
    return d > 0.0f && d <= FLT_MAX;
}

}  // namespace

int factorizeCholesky(float* packed, int n) {
    auto at = [&](int i, int j) -> float& { return packed[rowOffset(n, i) + j]; };
    for (int i = 0; i < n; ++i) {
        float s = 0.0f;
        for (int k = 0; k < i; ++k) {
            s += at(k, i) * at(k, i);
        }
        const float d = at(i, i) - s;
        if (!isUsablePivot(d)) {
            return i + 1;
        }
        const float pivot = std::sqrt(d);
        at(i, i) = pivot;
        for (int j = i + 1; j < n; ++j) {
            s = 0.0f;
            for (int k = 0; k < i; ++k) {
                s += at(k, i) * at(k, j);
            }
            at(i, j) = (at(i, j) - s) / pivot;
        }
    }
    return 0;
}

void forwardSubstitute(const float* packed, int n, const double* u, double* y) {
    auto at = [&](int i, int j) { return packed[rowOffset(n, i) + j]; };
    for (int i = 0; i < n; ++i) {
        float s = 0.0f;
        for (int k = 0; k < i; ++k) {
            s += y[k] * at(k, i);
        }
        y[i] = (u[i] - s) / at(i, i);
    }
}

void invertFactor(float* packed, int n) {
    auto at = [&](int i, int j) -> float& { return packed[rowOffset(n, i) + j]; };
    for (int i = 0; i < n; ++i) {
        at(i, i) = 1.0f / at(i, i);
        for (int j = i + 1; j < n; ++j) {
            // Row i left of j already holds the inverse, rows below i still hold R; the k = i term
            // multiplies the new diagonal by R_ij, the element about to be replaced.
            float s = 0.0f;
            for (int k = i; k < j; ++k) {
                s += at(i, k) * at(k, j);
            }
            at(i, j) = -s / at(j, j);
        }
    }
}

void solveFromInverseFactor(const float* packed, int n, const double* y, double* x, double* q) {
    for (int i = 0; i < n; ++i) {
        const float* row = packed + rowOffset(n, i);
        float s = 0.0f;
        double sumSquares = 0.0;
        for (int j = i; j < n; ++j) {
            s += row[j] * y[j];
            sumSquares += row[j] * row[j];
        }
        x[i] = s;
        q[i] = sumSquares;
    }
}

void formFullInverse(float* packed, int n) {
    for (int i = 0; i < n; ++i) {
        float* rowI = packed + rowOffset(n, i);
        for (int j = i; j < n; ++j) {
            // Row i is read only at and right of j, which still hold R^-1; rows below i are R^-1.
            const float* rowJ = packed + rowOffset(n, j);
            float s = 0.0f;
            for (int k = j; k < n; ++k) {
                s += rowI[k] * rowJ[k];
            }
            rowI[j] = s;
        }
    }
}

}  // namespace torvek::reference
