#pragma once

#include "geodesy/local_frame.h"

// Geodetic (latitude, longitude, ellipsoidal height) to Earth-centred Cartesian coordinates.

namespace torvek {

// (X, Y, Z) in metres of the point with the given sines and cosines of its geodetic latitude phi
// and longitude lambda and ellipsoidal height h (metres) on the ellipsoid with semi-major axis a
// (metres) and first eccentricity squared e2 in [0, 1):
// N = a / sqrt(1 - e2 sin^2 phi), X = (N + h) cos phi cos lambda, Y = (N + h) cos phi sin lambda,
// Z = ((1 - e2) N + h) sin phi.
[[nodiscard]] Vector3 cartesianFromGeodetic(double semiMajorAxis, double eccentricitySquared,
                                            double sinPhi, double cosPhi, double sinLambda,
                                            double cosLambda, double height);

// The same from latitude and longitude in radians (latitude in [-pi/2, pi/2]).
[[nodiscard]] Vector3 cartesianFromGeodeticAt(double semiMajorAxis, double eccentricitySquared,
                                              double latitude, double longitude, double height);

}  // namespace torvek
