#include "front/project/vector_covariance.h"

#include <algorithm>
#include <cmath>

namespace torvek::front {
namespace {

// Jacobi sweeps at most; a 3 x 3 matrix needs four or five.
constexpr int kJacobiSweeps = 20;

}  // namespace

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
    // Cyclic Jacobi rotations (Golub and Van Loan, Matrix Computations, 8.5): each zeroes one
    // off-diagonal element; convergence is quadratic, so a handful of sweeps reach rounding level
    // even for repeated eigenvalues, where the closed-form cubic loses half the digits.
    double a[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            a[i][j] = element(m, std::min(i, j), std::max(i, j));
        }
    }
    for (int sweep = 0; sweep < kJacobiSweeps; ++sweep) {
        const double off = a[0][1] * a[0][1] + a[0][2] * a[0][2] + a[1][2] * a[1][2];
        if (!(off > 0.0)) {
            break;
        }
        for (int p = 0; p < 2; ++p) {
            for (int q = p + 1; q < 3; ++q) {
                if (a[p][q] == 0.0) {
                    continue;
                }
                const double theta = (a[q][q] - a[p][p]) / (2.0 * a[p][q]);
                const double t = (theta >= 0.0 ? 1.0 : -1.0) /
                                 (std::fabs(theta) + std::sqrt(theta * theta + 1.0));
                const double c = 1.0 / std::sqrt(t * t + 1.0), s = t * c;
                for (int k = 0; k < 3; ++k) {
                    const double akp = a[k][p], akq = a[k][q];
                    a[k][p] = c * akp - s * akq;
                    a[k][q] = s * akp + c * akq;
                }
                for (int k = 0; k < 3; ++k) {
                    const double apk = a[p][k], aqk = a[q][k];
                    a[p][k] = c * apk - s * aqk;
                    a[q][k] = s * apk + c * aqk;
                }
            }
        }
    }
    std::array<double, 3> values{a[0][0], a[1][1], a[2][2]};
    std::sort(values.begin(), values.end());
    return values;
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
