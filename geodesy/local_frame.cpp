#include "geodesy/local_frame.h"

#include <cmath>

namespace torvek {

Matrix3 localFrameMatrix(double sinPhi, double cosPhi, double sinLambda, double cosLambda) {
    return {
        -sinPhi * cosLambda,
        -sinLambda,
        cosPhi * cosLambda,  // X row
        -sinPhi * sinLambda,
        cosLambda,
        cosPhi * sinLambda,  // Y row
        cosPhi,
        0.0,
        sinPhi,  // Z row
    };
}

Matrix3 localFrameMatrixAt(double latitude, double longitude) {
    return localFrameMatrix(std::sin(latitude), std::cos(latitude), std::sin(longitude),
                            std::cos(longitude));
}

// The products with a local frame matrix leave out its (Z, east) element, which is 0 by
// construction: the results are the same, and an infinite Z component cannot turn the east
// component into NaN.

Vector3 localFromCartesian(const Matrix3& r, const Vector3& d) {
    return {
        element(r, kRowX, kNorth) * d[0] + element(r, kRowY, kNorth) * d[1] +
            element(r, kRowZ, kNorth) * d[2],
        element(r, kRowX, kEast) * d[0] + element(r, kRowY, kEast) * d[1],
        element(r, kRowX, kUp) * d[0] + element(r, kRowY, kUp) * d[1] +
            element(r, kRowZ, kUp) * d[2],
    };
}

Vector3 cartesianFromLocal(const Matrix3& r, const Vector3& n) {
    return {
        element(r, kRowX, kNorth) * n[0] + element(r, kRowX, kEast) * n[1] +
            element(r, kRowX, kUp) * n[2],
        element(r, kRowY, kNorth) * n[0] + element(r, kRowY, kEast) * n[1] +
            element(r, kRowY, kUp) * n[2],
        element(r, kRowZ, kNorth) * n[0] + element(r, kRowZ, kUp) * n[2],
    };
}

Matrix3 transposeProduct(const Matrix3& a, const Matrix3& b) {
    Matrix3 p{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k) {
                sum += element(a, k, i) * element(b, k, j);
            }
            element(p, j, i) = sum;
        }
    }
    return p;
}

Vector3 cartesianSigmasFromLocal(const Matrix3& r, const Vector3& localSigmas) {
    Vector3 variance{};
    for (int row = 0; row < 3; ++row) {
        for (int axis = 0; axis < 3; ++axis) {
            if (row == kRowZ && axis == kEast) {
                continue;
            }
            const double e = element(r, row, axis);
            variance[row] += e * e * localSigmas[axis] * localSigmas[axis];
        }
    }
    return {std::sqrt(variance[0]), std::sqrt(variance[1]), std::sqrt(variance[2])};
}

Vector3 localSigmasFromCartesianCovariance(const Matrix3& r, const Matrix3& q) {
    Vector3 sigmas{};
    for (int axis = 0; axis < 3; ++axis) {
        double variance = 0.0;
        for (int i = 0; i < 3; ++i) {
            if (i == kRowZ && axis == kEast) {
                continue;
            }
            for (int j = 0; j < 3; ++j) {
                if (j == kRowZ && axis == kEast) {
                    continue;
                }
                variance += element(r, i, axis) * element(q, i, j) * element(r, j, axis);
            }
        }
        sigmas[axis] = std::sqrt(variance);
    }
    return sigmas;
}

}  // namespace torvek
