#include "geodesy/ellipsoid.h"

#include <cmath>

namespace torvek {

double eccentricitySquared(double inverseFlattening) {
    return 2.0 / inverseFlattening - 1.0 / (inverseFlattening * inverseFlattening);
}

double primeVerticalRadius(double semiMajorAxis, double eccentricitySquared, double sinPhi) {
    return semiMajorAxis / std::sqrt(1.0 - eccentricitySquared * sinPhi * sinPhi);
}

double meridianRadius(double semiMajorAxis, double eccentricitySquared, double sinPhi) {
    const double w = std::sqrt(1.0 - eccentricitySquared * sinPhi * sinPhi);
    return semiMajorAxis * (1.0 - eccentricitySquared) / (w * w * w);
}

double radiansFromDegrees(double degrees) {
    return degrees * kPi / 180.0;
}

}  // namespace torvek
