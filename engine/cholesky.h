#pragma once

// Solution of the normal equations N x = u held as a single-precision packed upper triangle
// (normal_matrix.h): Cholesky factor R with R^T R = N, y = R^-T u, R^-1, x = R^-1 y with the
// diagonal of N^-1, and the full inverse N^-1 = R^-1 R^-T. Every step works in place in the one
// triangle; no second matrix is allocated.
//
// Conventions shared by all functions:
// - `packed` is the row-by-row upper triangle of order n: element (i, j), 1-based i <= j, at
//   (i - 1)(2n - i)/2 + j - 1; n(n + 1)/2 floats are read and written, nothing beyond.
// - Vectors are plain arrays whose element [0] belongs to unknown 1 (an engine array kept 1-based
//   is passed as `array + 1`); each holds n doubles.
// - n is the number of unknowns, [0, 1504] in the engine (any n >= 0 works; n = 0 does nothing).
// - Sums follow one fixed order per element (ascending summation index, accumulator started at
//   zero and added to or subtracted from the matrix element at the end) with every float sum
//   rounded to float after each term and no fused multiply-add. The results are therefore
//   bit-for-bit those of the straightforward loops in cholesky_reference.h, on every processor the
//   run-time dispatch may choose.

namespace torvek {

/// Replaces N by its upper Cholesky factor R (R^T R = N), float sums. Returns 0 on success, or
/// the 1-based index i of the first unknown whose pivot d = N_ii - sum_{k<i} R_ki^2 is not a finite
/// positive number (d <= 0, NaN or infinite; N_11 itself for i = 1). On failure rows 1..i-1 hold R
/// and the rest of the triangle is undefined.
int factorizeCholesky(float* packed, int n);

/// Forward substitution y = R^-T u with the factor left by factorizeCholesky: y_i = (u_i - s_i) /
/// R_ii with s_i the float sum over k < i of the double products y_k R_ki. u and y may be the same
/// array. Units of y: those of u divided by those of R.
void forwardSubstitute(const float* packed, int n, const double* u, double* y);

/// Replaces the factor R by its inverse R^-1 (upper triangular), float sums: row i is
/// 1/R_ii on the diagonal and -(sum_{k=i}^{j-1} (R^-1)_ik R_kj) / R_jj to its right. Expects
/// the positive diagonal a successful factorizeCholesky leaves.
void invertFactor(float* packed, int n);

/// From R^-1 and y: the solution x_i = sum_{j>=i} (R^-1)_ij y_j (double products, float sum) and
/// the diagonal of N^-1, q_i = sum_{j>=i} (R^-1)_ij^2 (float products summed in a double), whose
/// square roots times the standard error of unit weight are the standard deviations of the
/// unknowns. x may be the same array as y, and so may q (row i only reads y_j with j >= i).
void solveFromInverseFactor(const float* packed, int n, const double* y, double* x, double* q);

/// Replaces R^-1 by the upper triangle of the full inverse Q = N^-1 = R^-1 R^-T: Q_ij =
/// sum_{k>=j} (R^-1)_ik (R^-1)_jk (float sum), i <= j. Its diagonal equals q of
/// solveFromInverseFactor up to the float rounding of the sum.
void formFullInverse(float* packed, int n);

/// Instruction-set variants of the functions above. The functions above run the best variant the
/// processor supports; all variants give identical results, and tests and benchmarks compare them.
enum class SolverTarget { kPortable, kAvx2, kAvx512 };

/// One variant. forwardSubstitute and formFullInverse return false, having changed nothing, when
/// their small work panel (n floats, or one strip of up to 48 columns by n) cannot be allocated;
/// the functions above then fall back to the straightforward loops.
struct SolverKernels {
    int (*factorize)(float* packed, int n);
    bool (*forwardSubstitute)(const float* packed, int n, const double* u, double* y);
    void (*invertFactor)(float* packed, int n);
    void (*solveFromInverseFactor)(const float* packed, int n, const double* y, double* x,
                                   double* q);
    bool (*formFullInverse)(float* packed, int n);
};

/// The variant for target, or nullptr when this processor or build lacks it.
const SolverKernels* solverKernels(SolverTarget target);
const char* solverTargetName(SolverTarget target);

}  // namespace torvek
