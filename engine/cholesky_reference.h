#pragma once

// The straightforward loops of the normal-equation solver, one element after the other, walking
// columns of the packed triangle. Single-precision sums can round differently when their terms
// are added in another order, so this one order fixes the results: the fast versions in
// cholesky.h must reproduce them bit for bit, and these loops serve as the fall back where the
// fast versions cannot get their small work panel. Arguments and results are those of the
// functions of the same names in cholesky.h.

namespace torvek::reference {

int factorizeCholesky(float* packed, int n);
void forwardSubstitute(const float* packed, int n, const double* u, double* y);
void invertFactor(float* packed, int n);
void solveFromInverseFactor(const float* packed, int n, const double* y, double* x, double* q);
void formFullInverse(float* packed, int n);

}  // namespace torvek::reference
