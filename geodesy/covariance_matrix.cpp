#include "geodesy/covariance_matrix.h"

#include <algorithm>
#include <cmath>

#include "geodesy/ellipsoid.h"
#include "geodesy/vector_precision.h"

namespace torvek {
namespace {

// A pivot of a covariance at or below this fraction of its largest variance counts as singular:
// far below the 1e-16 relative rounding of a double, so only an exactly dependent or negative
// matrix is refused.
constexpr double kSingularPivotRatio = 1e-30;

}  // namespace

Matrix3 product(const Matrix3& a, const Matrix3& b) {
    Matrix3 p{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                p[3 * i + j] += a[3 * i + k] * b[3 * k + j];
    return p;
}

Matrix3 transposed(const Matrix3& a) {
    return {a[0], a[3], a[6], a[1], a[4], a[7], a[2], a[5], a[8]};
}

Matrix3 congruence(const Matrix3& a, const Matrix3& q) {
    return product(product(a, q), transposed(a));
}

bool choleskyFactor(const Matrix3& q, Matrix3& factor) {
    for (double value : q)
        if (!std::isfinite(value))
            return false;
    const double largest = std::max({q[0], q[4], q[8]});
    if (!(largest > 0))
        return false;
    factor = {};
    for (int j = 0; j < 3; ++j) {
        double pivot = q[3 * j + j];
        for (int k = 0; k < j; ++k)
            pivot -= factor[3 * j + k] * factor[3 * j + k];
        if (!(pivot > kSingularPivotRatio * largest))
            return false;
        const double diagonal = std::sqrt(pivot);
        factor[3 * j + j] = diagonal;
        for (int i = j + 1; i < 3; ++i) {
            double sum = q[3 * i + j];
            for (int k = 0; k < j; ++k)
                sum -= factor[3 * i + k] * factor[3 * j + k];
            factor[3 * i + j] = sum / diagonal;
        }
    }
    return true;
}

Matrix3 lowerTriangularInverse(const Matrix3& l) {
    Matrix3 inverse{};
    for (int j = 0; j < 3; ++j) {
        inverse[3 * j + j] = 1.0 / l[3 * j + j];
        for (int i = j + 1; i < 3; ++i) {
            double sum = 0;
            for (int k = j; k < i; ++k)
                sum -= l[3 * i + k] * inverse[3 * k + j];
            inverse[3 * i + j] = sum / l[3 * i + i];
        }
    }
    return inverse;
}

bool cartesianCovariance(const Vector3& sigmas, const Vector3& stored, Matrix3& covariance) {
    for (double value : {sigmas[0], sigmas[1], sigmas[2], stored[0], stored[1], stored[2]})
        if (!std::isfinite(value))
            return false;
    if (!(sigmas[0] > 0 && sigmas[1] > 0 && sigmas[2] > 0))
        return false;
    const Vector3 r = vectorCorrelations(sigmas, stored);
    // vectorCorrelations answers covariances that give no correlation with zeros; here such a
    // record has no covariance at all.
    const bool coefficients =
        std::fabs(stored[0]) <= 1 && std::fabs(stored[1]) <= 1 && std::fabs(stored[2]) <= 1;
    if (!coefficients && r == Vector3{0, 0, 0})
        return false;
    const double sx = sigmas[0], sy = sigmas[1], sz = sigmas[2];
    covariance = {sx * sx,        r[0] * sx * sy, r[1] * sx * sz,  // X row
                  r[0] * sx * sy, sy * sy,        r[2] * sy * sz,  // Y row
                  r[1] * sx * sz, r[2] * sy * sz, sz * sz};
    return true;
}

ErrorEllipse errorEllipse(double qNN, double qEE, double qNE, double scale) {
    const double mean = 0.5 * (qNN + qEE);
    const double half = std::hypot(0.5 * (qNN - qEE), qNE);
    ErrorEllipse ellipse;
    ellipse.semiMajor = scale * std::sqrt(std::max(mean + half, 0.0));
    ellipse.semiMinor = scale * std::sqrt(std::max(mean - half, 0.0));
    // The major axis makes the angle t with north, towards east: tan 2t = 2 qNE / (qNN - qEE).
    double azimuth = 0.5 * std::atan2(2 * qNE, qNN - qEE) * kDegreesPerRadian;
    if (azimuth < 0)
        azimuth += 180;
    if (azimuth >= 180)
        azimuth -= 180;
    ellipse.azimuth = azimuth;
    return ellipse;
}

}  // namespace torvek
