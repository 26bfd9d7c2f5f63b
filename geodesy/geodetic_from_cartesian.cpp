#include "geodesy/geodetic_from_cartesian.h"

#include <cmath>

#include "geodesy/ellipsoid.h"

namespace torvek {
namespace {

// The latitude iteration below shrinks its error by a factor of about e2 (1/150 for the Earth)
// per step, so ten steps reach the last bit of a double from the spherical start.
constexpr int kLatitudeIterations = 10;

}  // namespace

GeodeticPoint geodeticFromCartesian(double semiMajorAxis, double eccentricitySquared,
                                    const Vector3& xyz) {
    const double x = xyz[0], y = xyz[1], z = xyz[2];
    const double p = std::hypot(x, y);
    GeodeticPoint point;
    point.longitude = (x == 0.0 && y == 0.0) ? 0.0 : std::atan2(y, x);
    // phi = atan2(Z + e2 N sin(phi), p): Z + e2 N sin(phi) is where the normal through the point
    // meets the polar axis, which holds at every latitude, poles included.
    double latitude = std::atan2(z, p * (1.0 - eccentricitySquared));
    for (int k = 0; k < kLatitudeIterations; ++k) {
        const double sinPhi = std::sin(latitude);
        const double n = primeVerticalRadius(semiMajorAxis, eccentricitySquared, sinPhi);
        const double next = std::atan2(z + eccentricitySquared * n * sinPhi, p);
        if (next == latitude) {
            break;
        }
        latitude = next;
    }
    point.latitude = latitude;
    // h = p cos(phi) + Z sin(phi) - a W, with W = sqrt(1 - e2 sin^2 phi): no division by cos(phi)
    // or sin(phi), so it holds at the poles and on the equator alike.
    const double sinPhi = std::sin(latitude);
    const double w = std::sqrt(1.0 - eccentricitySquared * sinPhi * sinPhi);
    point.height = p * std::cos(latitude) + z * sinPhi - semiMajorAxis * w;
    return point;
}

}  // namespace torvek
