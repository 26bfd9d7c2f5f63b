#include "geodesy/vector_precision.h"

#include <cmath>

#include "geodesy/ellipsoid.h"

namespace torvek {

namespace {

// Positions of the three pairs in a correlation triple.
constexpr int kXY = 0;
constexpr int kXZ = 1;
constexpr int kYZ = 2;

// False for a NaN as well, which then counts as a covariance and ends as 0.
bool allWithinUnit(const Vector3& values) {
    return std::fabs(values[kXY]) <= 1.0 && std::fabs(values[kXZ]) <= 1.0 &&
           std::fabs(values[kYZ]) <= 1.0;
}

}  // namespace

Vector3 vectorCorrelations(const Vector3& sigmas, const Vector3& stored) {
    if (allWithinUnit(stored)) {
        return stored;
    }
    const Vector3 quotients = {
        stored[kXY] / (sigmas[0] * sigmas[1]),
        stored[kXZ] / (sigmas[0] * sigmas[2]),
        stored[kYZ] / (sigmas[1] * sigmas[2]),
    };
    return allWithinUnit(quotients) ? quotients : Vector3{0.0, 0.0, 0.0};
}

Vector3 localVectorSigmas(const Vector3& sigmas, const Vector3& correlations, double latitude,
                          double longitude) {
    return localVectorSigmas(
        sigmas, correlations,
        localFrameMatrixAt(radiansFromDegrees(latitude), radiansFromDegrees(longitude)));
}

Vector3 localVectorSigmas(const Vector3& sigmas, const Vector3& correlations, const Matrix3& r) {
    const double s1 = sigmas[0], s2 = sigmas[1], s3 = sigmas[2];
    const double c12 = correlations[kXY], c13 = correlations[kXZ], c23 = correlations[kYZ];
    const Matrix3 covariance{
        s1 * s1,       c12 * s1 * s2, c13 * s1 * s3,  // X row
        c12 * s1 * s2, s2 * s2,       c23 * s2 * s3,  // Y row
        c13 * s1 * s3, c23 * s2 * s3, s3 * s3,        // Z row
    };
    return localSigmasFromCartesianCovariance(r, covariance);
}

}  // namespace torvek
