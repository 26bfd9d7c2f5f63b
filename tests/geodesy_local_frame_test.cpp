#include <gtest/gtest.h>

#include <cmath>

#include "geodesy/ellipsoid.h"
#include "geodesy/geodetic_conversion.h"
#include "geodesy/local_frame.h"

namespace torvek {
namespace {

void expectVectorNear(const Vector3& actual, const Vector3& expected, double tolerance) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(actual[i], expected[i], tolerance) << "component " << i;
    }
}

TEST(LocalFrame, AxesAtTheOriginAndAtThePole) {
    // At latitude 0, longitude 0: north is Z, east is Y, up is X.
    const Matrix3 r = localFrameMatrixAt(0.0, 0.0);
    expectVectorNear(localFromCartesian(r, {1.0, 2.0, 3.0}), {3.0, 2.0, 1.0}, 1e-15);
    expectVectorNear(cartesianFromLocal(r, {3.0, 2.0, 1.0}), {1.0, 2.0, 3.0}, 1e-15);

    // At the north pole, longitude 0: up is Z, east is Y, north points along -X.
    const Matrix3 pole = localFrameMatrix(1.0, 0.0, 0.0, 1.0);
    expectVectorNear(localFromCartesian(pole, {1.0, 2.0, 3.0}), {-1.0, 2.0, 3.0}, 1e-15);
    EXPECT_EQ(element(pole, kRowZ, kEast), 0.0);
}

TEST(LocalFrame, IsARotation) {
    const Matrix3 r = localFrameMatrixAt(radiansFromDegrees(-33.9), radiansFromDegrees(151.2));
    const Matrix3 identity = transposeProduct(r, r);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(element(identity, i, j), i == j ? 1.0 : 0.0, 1e-15);
        }
    }
    // East, north, up is right-handed: east x north = up.
    const Vector3 n{element(r, 0, kNorth), element(r, 1, kNorth), element(r, 2, kNorth)};
    const Vector3 e{element(r, 0, kEast), element(r, 1, kEast), element(r, 2, kEast)};
    expectVectorNear(
        {e[1] * n[2] - e[2] * n[1], e[2] * n[0] - e[0] * n[2], e[0] * n[1] - e[1] * n[0]},
        {element(r, 0, kUp), element(r, 1, kUp), element(r, 2, kUp)}, 1e-15);
    const Vector3 d{12.5, -400.25, 77.0};
    expectVectorNear(cartesianFromLocal(r, localFromCartesian(r, d)), d, 1e-12);
}

TEST(LocalFrame, AxesFollowTheEllipsoid) {
    // Raising a point moves it along up; a small step in latitude or longitude moves it along
    // north or east. Differences of converted points, not the matrix, are the reference here.
    const double a = 6378137.0;  // WGS 84
    const double e2 = eccentricitySquared(298.257223563);
    const double phi = radiansFromDegrees(47.5);
    const double lambda = radiansFromDegrees(-122.3);
    const Matrix3 r = localFrameMatrixAt(phi, lambda);
    const Vector3 base = cartesianFromGeodeticAt(a, e2, phi, lambda, 100.0);
    const auto minus = [](const Vector3& p, const Vector3& q) {
        return Vector3{p[0] - q[0], p[1] - q[1], p[2] - q[2]};
    };

    expectVectorNear(
        localFromCartesian(r, minus(cartesianFromGeodeticAt(a, e2, phi, lambda, 150.0), base)),
        {0.0, 0.0, 50.0}, 1e-8);

    const Vector3 north = localFromCartesian(
        r, minus(cartesianFromGeodeticAt(a, e2, phi + 1e-7, lambda, 100.0), base));
    EXPECT_GT(north[0], 0.6);
    EXPECT_NEAR(north[1], 0.0, 1e-9);
    EXPECT_NEAR(north[2], 0.0, 1e-6);

    const Vector3 east = localFromCartesian(
        r, minus(cartesianFromGeodeticAt(a, e2, phi, lambda + 1e-7, 100.0), base));
    EXPECT_GT(east[1], 0.4);
    EXPECT_NEAR(east[0], 0.0, 1e-7);  // a parallel curves away from the east direction
    EXPECT_NEAR(east[2], 0.0, 1e-6);
}

TEST(LocalFrame, TransposeProductPairsColumns) {
    const Matrix3 a = localFrameMatrixAt(radiansFromDegrees(10.0), radiansFromDegrees(20.0));
    const Matrix3 b = localFrameMatrixAt(radiansFromDegrees(10.5), radiansFromDegrees(19.0));
    const Matrix3 p = transposeProduct(a, b);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            const double dot = element(a, 0, i) * element(b, 0, j) +
                               element(a, 1, i) * element(b, 1, j) +
                               element(a, 2, i) * element(b, 2, j);
            EXPECT_NEAR(element(p, j, i), dot, 1e-15) << i << " " << j;
        }
    }
    // Nearly parallel frames: the diagonal is close to 1; B lies half a degree further north, so
    // its north axis dips below A's horizon by about that angle.
    EXPECT_GT(element(p, kNorth, kNorth), 0.9999);
    EXPECT_NEAR(element(p, kNorth, kUp), -std::sin(radiansFromDegrees(0.5)), 1e-4);
}

TEST(LocalFrame, SigmasThroughTheRotation) {
    const Matrix3 origin = localFrameMatrixAt(0.0, 0.0);
    expectVectorNear(cartesianSigmasFromLocal(origin, {0.1, 0.2, 0.3}), {0.3, 0.2, 0.1}, 1e-15);
    const Matrix3 q{4.0, 0.0, 0.0, 0.0, 9.0, 0.0, 0.0, 0.0, 16.0};
    expectVectorNear(localSigmasFromCartesianCovariance(origin, q), {4.0, 3.0, 2.0}, 1e-15);

    // At 45 degrees latitude, longitude 0, north and up share X and Z equally.
    const Matrix3 mid = localFrameMatrixAt(kPi / 4.0, 0.0);
    expectVectorNear(cartesianSigmasFromLocal(mid, {3.0, 5.0, 4.0}),
                     {std::sqrt(12.5), 5.0, std::sqrt(12.5)}, 1e-12);

    // A full covariance with correlation: var(north) = r_n^T Q r_n worked out by hand.
    const Matrix3 r = localFrameMatrixAt(radiansFromDegrees(30.0), radiansFromDegrees(60.0));
    const Matrix3 full{0.0004, 0.0001, -0.00005, 0.0001, 0.0009, 0.0002, -0.00005, 0.0002, 0.0016};
    const double sp = 0.5, cp = std::sqrt(3.0) / 2.0, sl = std::sqrt(3.0) / 2.0, cl = 0.5;
    const double nx = -sp * cl, ny = -sp * sl, nz = cp;
    const double varNorth = nx * nx * 0.0004 + ny * ny * 0.0009 + nz * nz * 0.0016 +
                            2 * nx * ny * 0.0001 + 2 * nx * nz * -0.00005 + 2 * ny * nz * 0.0002;
    const double ex = -sl, ey = cl;
    const double varEast = ex * ex * 0.0004 + ey * ey * 0.0009 + 2 * ex * ey * 0.0001;
    const Vector3 s = localSigmasFromCartesianCovariance(r, full);
    EXPECT_NEAR(s[0], std::sqrt(varNorth), 1e-15);
    EXPECT_NEAR(s[1], std::sqrt(varEast), 1e-15);
    // The trace is kept by a rotation.
    EXPECT_NEAR(s[0] * s[0] + s[1] * s[1] + s[2] * s[2], 0.0029, 1e-15);
}

}  // namespace
}  // namespace torvek
