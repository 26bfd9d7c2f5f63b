#include "geodesy/geodetic_conversion.h"

#include <cmath>

#include "geodesy/ellipsoid.h"

namespace torvek {

Vector3 cartesianFromGeodetic(double semiMajorAxis, double eccentricitySquared, double sinPhi,
                              double cosPhi, double sinLambda, double cosLambda, double height) {
    const double n = primeVerticalRadius(semiMajorAxis, eccentricitySquared, sinPhi);
    return {
        (n + height) * cosPhi * cosLambda,
        (n + height) * cosPhi * sinLambda,
        ((1.0 - eccentricitySquared) * n + height) * sinPhi,
    };
}

Vector3 cartesianFromGeodeticAt(double semiMajorAxis, double eccentricitySquared, double latitude,
                                double longitude, double height) {
    return cartesianFromGeodetic(semiMajorAxis, eccentricitySquared, std::sin(latitude),
                                 std::cos(latitude), std::sin(longitude), std::cos(longitude),
                                 height);
}

}  // namespace torvek
