#pragma once
#include "geodesy/local_frame.h"

// Small symmetric 3 x 3 covariance matrices: their Cholesky factor, products and rotations between
// the Earth-centred frame and a local frame, and the error ellipse of a horizontal block. Plain
// values in and out; the units are those of the matrices given (metres, square metres).

namespace torvek {

/// The product a b of two 3 x 3 matrices.
[[nodiscard]] Matrix3 product(const Matrix3& a, const Matrix3& b);
/// The transpose of a.
[[nodiscard]] Matrix3 transposed(const Matrix3& a);
/// a q a^T: a covariance q carried through the linear map a (with a = R, a local frame matrix,
/// local to Earth-centred; with a = R^T the other way).
[[nodiscard]] Matrix3 congruence(const Matrix3& a, const Matrix3& q);
/// The lower triangular L with q = L L^T, for a symmetric positive definite q. False, with
/// `factor` unspecified, when q holds a value that is not finite or is not positive definite (a
/// pivot not above 1e-30 of q's largest diagonal element).
[[nodiscard]] bool choleskyFactor(const Matrix3& q, Matrix3& factor);
/// The inverse of a lower triangular matrix with nonzero diagonal.
[[nodiscard]] Matrix3 lowerTriangularInverse(const Matrix3& lower);

/// The Cartesian covariance (m^2) of a vector record's precision: the sigmas (sX, sY, sZ; metres)
/// and the three correlation fields as stored (correlation coefficients, or covariances in m^2
/// when any of them lies beyond [-1, 1]; the rule of vectorCorrelations), nothing clamped. False
/// when a value is not finite, a sigma is not above 0, or covariances give a correlation beyond
/// [-1, 1].
[[nodiscard]] bool cartesianCovariance(const Vector3& sigmas, const Vector3& stored,
                                       Matrix3& covariance);

/// An oriented error ellipse.
struct ErrorEllipse {
    double semiMajor = 0;  // units of the square root of the block
    double semiMinor = 0;
    double azimuth = 0;  // of the semi-major axis, degrees clockwise from north, [0, 180)
};
/// The standard ellipse of the horizontal block (qNN, qEE, qNE) of a north/east/up covariance
/// (m^2), its axes multiplied by `scale` (> 0; e.g. sigma0 x sqrt(chi2_2(p))). A block that is not
/// positive semi-definite by rounding gives a semi-minor axis of 0.
[[nodiscard]] ErrorEllipse errorEllipse(double qNN, double qEE, double qNE, double scale);

}  // namespace torvek
