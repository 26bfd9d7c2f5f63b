#pragma once

#include <array>

// The local north/east/up frame of a point on the ellipsoid and the rotations between Earth-centred
// Cartesian differences and local components.

namespace torvek {

// Three components: (X, Y, Z) in the Earth-centred frame or (north, east, up) in a local frame.
using Vector3 = std::array<double, 3>;

// A 3 x 3 matrix stored row by row: element (row i, column j) at index 3 i + j.
using Matrix3 = std::array<double, 9>;

// Row and column indices of a local frame matrix.
inline constexpr int kRowX = 0;
inline constexpr int kRowY = 1;
inline constexpr int kRowZ = 2;
inline constexpr int kNorth = 0;
inline constexpr int kEast = 1;
inline constexpr int kUp = 2;

inline double& element(Matrix3& m, int row, int column) {
    return m[3 * row + column];
}
[[nodiscard]] inline double element(const Matrix3& m, int row, int column) {
    return m[3 * row + column];
}

// The rotation R of the point with geodetic latitude phi and longitude lambda, given by their
// sines and cosines: the columns are the north, east and up unit vectors, the rows their X, Y and
// Z components. Its (Z, east) element is always 0.
[[nodiscard]] Matrix3 localFrameMatrix(double sinPhi, double cosPhi, double sinLambda,
                                       double cosLambda);

// The same from the latitude and longitude in radians (latitude in [-pi/2, pi/2]).
[[nodiscard]] Matrix3 localFrameMatrixAt(double latitude, double longitude);

// Local (north, east, up) components of a Cartesian difference d (metres): n = R^T d.
[[nodiscard]] Vector3 localFromCartesian(const Matrix3& r, const Vector3& d);

// Cartesian difference (dX, dY, dZ) of local components n (metres): d = R n. Also rotates small
// rotation angles about the local axes into angles about X, Y and Z.
[[nodiscard]] Vector3 cartesianFromLocal(const Matrix3& r, const Vector3& n);

// P with P[j][i] = sum over k of A[k][i] B[k][j]: entry (j, i) is the dot product of column i of
// A with column j of B (P = B^T A). With A, B two local frame matrices, P[b][a] is the cosine
// between axis a of A's point and axis b of B's point.
[[nodiscard]] Matrix3 transposeProduct(const Matrix3& a, const Matrix3& b);

// Standard deviations along X, Y, Z of uncorrelated local quantities with standard deviations
// (sN, sE, sU): the square roots of the diagonal of R diag(s^2) R^T. Units as given.
[[nodiscard]] Vector3 cartesianSigmasFromLocal(const Matrix3& r, const Vector3& localSigmas);

// Standard deviations along north, east, up of Cartesian quantities with the symmetric
// covariance matrix q (units squared): the square roots of the diagonal of R^T q R.
[[nodiscard]] Vector3 localSigmasFromCartesianCovariance(const Matrix3& r, const Matrix3& q);

}  // namespace torvek
