#pragma once

// The a-priori covariance of a measured vector as the survey files give it: a symmetric 3 x 3
// matrix of the Earth-centred components, in square metres or square millimetres.

#include <array>
#include <optional>
#include <string>

#include "geodesy/local_frame.h"

namespace torvek::front {

enum class CovarianceUnit { kSquareMetres, kSquareMillimetres };

// Square millimetres in a square metre.
inline constexpr double kSquareMillimetresPerSquareMetre = 1.0e6;

// "m2" or "mm2", the names the project document and the command line use.
const char* covarianceUnitName(CovarianceUnit unit);
std::optional<CovarianceUnit> parseCovarianceUnit(const std::string& name);

// Square metres in one unit: 1 or 1e-6.
double squareMetresPer(CovarianceUnit unit);

// True when the symmetric matrix `m` (only its upper triangle is read) is positive definite: its
// Cholesky factorisation meets no pivot <= 0.
bool isPositiveDefinite(const Matrix3& m);

// The eigenvalues of the symmetric matrix `m` (upper triangle read), ascending, in the units of
// `m`; good to a few units of rounding of the largest one.
std::array<double, 3> symmetricEigenvalues(const Matrix3& m);

// Standard deviations (square roots of the diagonal) and the correlations xy, xz, yz of a
// covariance matrix whose diagonal is positive. Units: the square roots of the matrix's units.
struct SigmasAndCorrelations {
    Vector3 sigmas{};
    Vector3 correlations{};  // xy, xz, yz
};
SigmasAndCorrelations sigmasAndCorrelations(const Matrix3& covariance);

// The covariance matrix of standard deviations `sigmas` and correlations xy, xz, yz.
Matrix3 covarianceFrom(const Vector3& sigmas, const Vector3& correlations);

}  // namespace torvek::front
