#include "front/vector_covariance.h"

#include <algorithm>
#include <cmath>

#include "geodesy/ellipsoid.h"

namespace torvek::front {

const char* covarianceUnitName(CovarianceUnit unit) {
    return unit == CovarianceUnit::kSquareMetres ? "m2" : "mm2";
}

std::optional<CovarianceUnit> parseCovarianceUnit(const std::string& name) {
    if (name == "m2") {
        return CovarianceUnit::kSquareMetres;
    }
    if (name == "mm2") {
        return CovarianceUnit::kSquareMillimetres;
    }
    return std::nullopt;
}

double squareMetresPer(CovarianceUnit unit) {
    return unit == CovarianceUnit::kSquareMetres ? 1.0 : 1.0 / kSquareMillimetresPerSquareMetre;
}

bool isPositiveDefinite(const Matrix3& m) {
    // Cholesky m = L L^T, row by row; the comparisons are written so that NaN fails them.
    const double l00sq = element(m, 0, 0);
    if (!(l00sq > 0.0)) {
        return false;
    }
    const double l00 = std::sqrt(l00sq);
    const double l10 = element(m, 0, 1) / l00;
    const double l20 = element(m, 0, 2) / l00;
    const double l11sq = element(m, 1, 1) - l10 * l10;
    if (!(l11sq > 0.0)) {
        return false;
    }
    const double l11 = std::sqrt(l11sq);
    const double l21 = (element(m, 1, 2) - l20 * l10) / l11;
    const double l22sq = element(m, 2, 2) - l20 * l20 - l21 * l21;
    return l22sq > 0.0 && std::isfinite(l22sq);
}

std::array<double, 3> symmetricEigenvalues(const Matrix3& m) {
    const double a00 = element(m, 0, 0), a11 = element(m, 1, 1), a22 = element(m, 2, 2);
    const double a01 = element(m, 0, 1), a02 = element(m, 0, 2), a12 = element(m, 1, 2);
    const double offDiagonal = a01 * a01 + a02 * a02 + a12 * a12;
    std::array<double, 3> values{a00, a11, a22};
    if (offDiagonal == 0.0) {
        std::sort(values.begin(), values.end());
        return values;
    }
    // The trigonometric solution of the characteristic cubic (O. K. Smith, Comm. ACM 4(4), 1961):
    // with q the mean of the diagonal and B = (A - q I) / p, the eigenvalues are
    // q + 2 p cos(phi + 2 pi k / 3), phi = acos(det(B) / 2) / 3.
    const double q = (a00 + a11 + a22) / 3.0;
    const double p2 =
        (a00 - q) * (a00 - q) + (a11 - q) * (a11 - q) + (a22 - q) * (a22 - q) + 2.0 * offDiagonal;
    const double p = std::sqrt(p2 / 6.0);
    const double b00 = (a00 - q) / p, b11 = (a11 - q) / p, b22 = (a22 - q) / p;
    const double b01 = a01 / p, b02 = a02 / p, b12 = a12 / p;
    const double det = b00 * (b11 * b22 - b12 * b12) - b01 * (b01 * b22 - b12 * b02) +
                       b02 * (b01 * b12 - b11 * b02);
    const double r = std::clamp(det / 2.0, -1.0, 1.0);
    const double phi = std::acos(r) / 3.0;
    const double largest = q + 2.0 * p * std::cos(phi);
    const double smallest = q + 2.0 * p * std::cos(phi + 2.0 * kPi / 3.0);
    return {smallest, 3.0 * q - largest - smallest, largest};
}

SigmasAndCorrelations sigmasAndCorrelations(const Matrix3& covariance) {
    SigmasAndCorrelations out;
    for (int i = 0; i < 3; ++i) {
        out.sigmas[i] = std::sqrt(element(covariance, i, i));
    }
    out.correlations[0] = element(covariance, 0, 1) / (out.sigmas[0] * out.sigmas[1]);
    out.correlations[1] = element(covariance, 0, 2) / (out.sigmas[0] * out.sigmas[2]);
    out.correlations[2] = element(covariance, 1, 2) / (out.sigmas[1] * out.sigmas[2]);
    return out;
}

Matrix3 covarianceFrom(const Vector3& sigmas, const Vector3& correlations) {
    Matrix3 m{};
    for (int i = 0; i < 3; ++i) {
        element(m, i, i) = sigmas[i] * sigmas[i];
    }
    element(m, 0, 1) = element(m, 1, 0) = correlations[0] * sigmas[0] * sigmas[1];
    element(m, 0, 2) = element(m, 2, 0) = correlations[1] * sigmas[0] * sigmas[2];
    element(m, 1, 2) = element(m, 2, 1) = correlations[2] * sigmas[1] * sigmas[2];
    return m;
}

}  // namespace torvek::front
