#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

#include "geodesy/ellipsoid.h"
#include "geodesy/geodetic_conversion.h"
#include "geodesy/geodetic_from_cartesian.h"

namespace torvek {
namespace {

// The defining semi-major axis (metres) and reciprocal flattening of WGS 84.
constexpr double kA = 6378137.0;
constexpr double kRf = 298.257223563;

TEST(Ellipsoid, ConstantsHaveTheirPublishedValues) {
    EXPECT_EQ(std::bit_cast<std::uint64_t>(kPi), 0x400921FB54442D18u);
    EXPECT_NEAR(kDegreesPerRadian, 57.29577951308232, 1e-13);
    EXPECT_NEAR(kArcsecondsPerRadian, 206264.80624709636, 1e-9);
    // First eccentricity squared of WGS 84 as published with it.
    EXPECT_NEAR(eccentricitySquared(kRf), 0.00669437999014, 1e-14);
    // e2 = f (2 - f) written the other way round.
    const double f = 1.0 / 293.465;
    EXPECT_NEAR(eccentricitySquared(293.465), f * (2.0 - f), 1e-17);
    EXPECT_NEAR(radiansFromDegrees(180.0), kPi, 1e-15);
    EXPECT_NEAR(radiansFromDegrees(-45.0), -std::atan(1.0), 1e-15);
}

TEST(Ellipsoid, RadiiOfCurvature) {
    const double e2 = eccentricitySquared(kRf);
    const double b = kA * (1.0 - 1.0 / kRf);
    // At the equator N = a and M = b^2 / a; at the poles both are a^2 / b.
    EXPECT_NEAR(primeVerticalRadius(kA, e2, 0.0), kA, 1e-9);
    EXPECT_NEAR(meridianRadius(kA, e2, 0.0), b * b / kA, 1e-6);
    EXPECT_NEAR(primeVerticalRadius(kA, e2, 1.0), kA * kA / b, 1e-6);
    EXPECT_NEAR(meridianRadius(kA, e2, -1.0), kA * kA / b, 1e-6);
}

TEST(GeodeticConversion, PointsOnTheAxes) {
    const double e2 = eccentricitySquared(kRf);
    const double b = kA * (1.0 - 1.0 / kRf);  // 6356752.314245 m

    Vector3 p = cartesianFromGeodeticAt(kA, e2, 0.0, 0.0, 0.0);
    EXPECT_NEAR(p[0], kA, 1e-6);
    EXPECT_NEAR(p[1], 0.0, 1e-6);
    EXPECT_NEAR(p[2], 0.0, 1e-6);

    p = cartesianFromGeodeticAt(kA, e2, 0.0, kPi / 2.0, 250.0);
    EXPECT_NEAR(p[0], 0.0, 1e-6);
    EXPECT_NEAR(p[1], kA + 250.0, 1e-6);

    p = cartesianFromGeodeticAt(kA, e2, 0.0, kPi, -30.0);
    EXPECT_NEAR(p[0], -(kA - 30.0), 1e-6);

    p = cartesianFromGeodetic(kA, e2, 1.0, 0.0, 0.0, 1.0, 0.0);
    EXPECT_NEAR(p[0], 0.0, 1e-6);
    EXPECT_NEAR(p[2], b, 1e-6);
    EXPECT_NEAR(b, 6356752.314245, 1e-6);

    p = cartesianFromGeodetic(kA, e2, -1.0, 0.0, 0.0, 1.0, 100.0);
    EXPECT_NEAR(p[2], -(b + 100.0), 1e-6);
}

TEST(GeodeticConversion, PublishedWorkedExample) {
    // The worked example of the geographic to geocentric conversion in the geodetic parameter
    // registry's guidance note: 53 48 33.820 N, 2 07 46.380 E, h = 73.0 m on the default
    // ellipsoid gives X = 3771793.968, Y = 140253.342, Z = 5124304.349 (printed to the mm).
    const double phi = radiansFromDegrees(53.0 + 48.0 / 60.0 + 33.820 / 3600.0);
    const double lambda = radiansFromDegrees(2.0 + 7.0 / 60.0 + 46.380 / 3600.0);
    const Vector3 p = cartesianFromGeodeticAt(kA, eccentricitySquared(kRf), phi, lambda, 73.0);
    EXPECT_NEAR(p[0], 3771793.968, 5e-4);
    EXPECT_NEAR(p[1], 140253.342, 5e-4);
    EXPECT_NEAR(p[2], 5124304.349, 5e-4);
}

TEST(GeodeticConversion, AgreesWithTheReducedLatitudeForm) {
    // Through the reduced latitude beta (tan beta = (1 - f) tan phi) the point on the ellipsoid is
    // (a cos beta, b sin beta) in its meridian plane; the height goes along the normal.
    const double f = 1.0 / kRf;
    const double b = kA * (1.0 - f);
    const double e2 = eccentricitySquared(kRf);
    for (double latDeg : {-89.5, -62.25, -10.0, 0.3, 37.5, 47.123456789, 80.0}) {
        for (double lonDeg : {-179.0, -75.5, 0.0, 12.75, 151.2}) {
            const double h = 1234.567 - 10.0 * latDeg;
            const double phi = radiansFromDegrees(latDeg);
            const double lambda = radiansFromDegrees(lonDeg);
            const double beta = std::atan((1.0 - f) * std::tan(phi));
            const double radial = kA * std::cos(beta) + h * std::cos(phi);
            const double z = b * std::sin(beta) + h * std::sin(phi);
            const Vector3 p = cartesianFromGeodeticAt(kA, e2, phi, lambda, h);
            EXPECT_NEAR(p[0], radial * std::cos(lambda), 1e-6) << latDeg << " " << lonDeg;
            EXPECT_NEAR(p[1], radial * std::sin(lambda), 1e-6) << latDeg << " " << lonDeg;
            EXPECT_NEAR(p[2], z, 1e-6) << latDeg << " " << lonDeg;
        }
    }
}

// Earth-centred to geodetic, against positions an independent adjustment program printed for two
// stations of a WGS 84 network (to 1e-7 arc seconds and 0.01 mm), and the poles and the equator.
TEST(GeodeticFromCartesian, AgreesWithPublishedPositions) {
    const double b = kA * (1.0 - 1.0 / kRf);
    const struct {
        Vector3 xyz;
        double latitudeDegrees, longitudeDegrees, height;
    } cases[] = {
        {{3897173.613, 997293.454, 4933466.708},
         50 + 59 / 60.0 + 40.2028830 / 3600.0,
         14 + 21 / 60.0 + 14.5873773 / 3600.0,
         395.21233},
        {{3905644.621, 1024368.968, 4921493.098},
         50 + 49 / 60.0 + 19.4040143 / 3600.0,
         14 + 41 / 60.0 + 47.2656613 / 3600.0,
         554.84924},
        {{kA, 0.0, 0.0}, 0.0, 0.0, 0.0},
        {{0.0, -kA - 10.0, 0.0}, 0.0, -90.0, 10.0},
        {{0.0, 0.0, b}, 90.0, 0.0, 0.0},
        {{0.0, 0.0, -b - 100.0}, -90.0, 0.0, 100.0},
    };
    const double e2 = eccentricitySquared(kRf);
    for (const auto& c : cases) {
        const GeodeticPoint p = geodeticFromCartesian(kA, e2, c.xyz);
        EXPECT_NEAR(p.latitude * kDegreesPerRadian, c.latitudeDegrees, 1e-7 / 3600.0);
        EXPECT_NEAR(p.longitude * kDegreesPerRadian, c.longitudeDegrees, 1e-7 / 3600.0);
        EXPECT_NEAR(p.height, c.height, 1e-5);
    }
}

}  // namespace
}  // namespace torvek
