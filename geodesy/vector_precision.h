#pragma once

#include "geodesy/local_frame.h"

// The a-priori precision of a measured vector: how the three correlation fields of its record are
// read, and its standard deviations along the local axes of the reference point.

namespace torvek {

// The correlation coefficients (rXY, rXZ, rYZ) of a vector whose record holds the Cartesian
// sigmas `sigmas` (sX, sY, sZ; metres, > 0) and the three values `stored` of its correlation
// fields. Front ends store either correlation coefficients or covariances (m^2) there, and a value
// beyond 1 can only be a covariance: three values within [-1, 1] are returned as they are;
// otherwise all three are divided by the products of their sigmas (c12 / (sX sY), c13 / (sX sZ),
// c23 / (sY sZ)), and if a quotient is still outside [-1, 1] (or NaN) all three are 0.
[[nodiscard]] Vector3 vectorCorrelations(const Vector3& sigmas, const Vector3& stored);

// Standard deviations (sN, sE, sU), in metres, along north, east and up at the reference point
// (latitude in decimal degrees [-90, 90], longitude in decimal degrees) of a vector with the
// Cartesian sigmas (sX, sY, sZ; metres) and correlation coefficients (rXY, rXZ, rYZ; [-1, 1]):
// the square roots of the diagonal of R^T Q R, Q the Cartesian covariance, R the local frame
// matrix of the reference point built from the angles converted with radiansFromDegrees.
[[nodiscard]] Vector3 localVectorSigmas(const Vector3& sigmas, const Vector3& correlations,
                                        double latitude, double longitude);
// The same with R given: the frame that localFrameMatrixAt(radiansFromDegrees(latitude),
// radiansFromDegrees(longitude)) gives, made once for the many vectors of one reference point.
[[nodiscard]] Vector3 localVectorSigmas(const Vector3& sigmas, const Vector3& correlations,
                                        const Matrix3& frame);

}  // namespace torvek
