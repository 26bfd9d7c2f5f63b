#pragma once

#include "geodesy/local_frame.h"

// Earth-centred Cartesian coordinates to geodetic latitude, longitude and ellipsoidal height: the
// inverse of cartesianFromGeodetic.

namespace torvek {

// Latitude and longitude in radians, height above the ellipsoid in metres.
struct GeodeticPoint {
    double latitude = 0.0;   // [-pi/2, pi/2]
    double longitude = 0.0;  // (-pi, pi]
    double height = 0.0;
};

// The geodetic position of the Earth-centred point `xyz` (metres) on the ellipsoid with
// semi-major axis a (metres) and first eccentricity squared e2 in [0, 0.1]. Exact to well below a
// micrometre for points farther than a / 2 from the centre (anything near the Earth's surface);
// closer in, the latitude iteration may stop short of convergence but the result stays finite.
GeodeticPoint geodeticFromCartesian(double semiMajorAxis, double eccentricitySquared,
                                    const Vector3& xyz);

}  // namespace torvek
