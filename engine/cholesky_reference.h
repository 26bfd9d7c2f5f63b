#pragma once

// The straightforward loops of the normal-equation solver, one element after the other in the
// order the engine has always used, walking columns of the packed triangle. They define the
// results the fast versions in cholesky.h must reproduce bit for bit, and they serve as the fall
// back where the fast versions cannot get their small work panel. Arguments and results are those
// of the functions of the same names in cholesky.h.

namespace torvek::reference {

int factorizeCholesky(float* packed, int n);
void forwardSubstitute(const float* packed, int n, const double* u, double* y);
void invertFactor(float* packed, int n);
void solveFromInverseFactor(const float* packed, int n, const double* y, double* x, double* q);
void formFullInverse(float* packed, int n);

}  // namespace torvek::reference
