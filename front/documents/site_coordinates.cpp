#include "front/documents/site_coordinates.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "front/documents/network_plot.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/geodetic_conversion.h"
#include "geodesy/local_frame.h"

namespace torvek::front {
namespace {

constexpr double kAzimuthNorth = 0.0;
constexpr double kAzimuthEast = 90.0;

SiteCoordinates coordinatesOf(const SiteResult& s, const NetworkResults& r, double e2,
                              double confidenceFactor, const GridSystem* grid) {
    SiteCoordinates c;
    if (!s.adjusted) {
        return c;
    }
    c.available = true;
    c.orthometricHeight = s.adjustedElevation;
    c.geoidHeight = s.geoidHeight;
    c.ellipsoidalHeight = s.adjustedElevation + s.geoidHeight;
    const double latitude = radiansFromDegrees(s.adjustedLatitude);
    const double longitude = radiansFromDegrees(s.adjustedLongitude);
    c.geocentric =
        cartesianFromGeodeticAt(r.semiMajorAxis, e2, latitude, longitude, c.ellipsoidalHeight);
    c.geocentricSigmas = cartesianSigmasFromLocal(localFrameMatrixAt(latitude, longitude),
                                                  {s.sigmaNorth, s.sigmaEast, s.sigmaUp});
    const bool northLonger = s.sigmaNorth >= s.sigmaEast;
    c.ellipseSemiMajor = confidenceFactor * (northLonger ? s.sigmaNorth : s.sigmaEast);
    c.ellipseSemiMinor = confidenceFactor * (northLonger ? s.sigmaEast : s.sigmaNorth);
    c.ellipseAzimuth = northLonger ? kAzimuthNorth : kAzimuthEast;
    if (grid != nullptr) {
        c.grid = grid->project(s.adjustedLatitude, s.adjustedLongitude, c.ellipsoidalHeight);
    }
    return c;
}

}  // namespace

std::vector<SiteCoordinates> siteCoordinates(const NetworkResults& r, const GridSystem* grid) {
    const double e2 = eccentricitySquared(r.inverseFlattening);
    const double factor = horizontalConfidenceFactor(r.confidenceLevel);
    std::vector<SiteCoordinates> all;
    all.reserve(r.sites.size());
    for (const SiteResult& s : r.sites) {
        all.push_back(coordinatesOf(s, r, e2, factor, grid));
    }
    return all;
}

namespace {

// The position of a site that counts for the network's place: adjusted when any site is, else
// given; false when it has none.
bool placeOf(const SiteResult& s, bool anyAdjusted, double& latitude, double& longitude) {
    latitude = anyAdjusted ? s.adjustedLatitude : s.latitude;
    longitude = anyAdjusted ? s.adjustedLongitude : s.longitude;
    return (!anyAdjusted || s.adjusted) && std::isfinite(latitude) && std::isfinite(longitude);
}

}  // namespace

NetworkPlace networkPlace(const NetworkResults& r) {
    NetworkPlace place{r.semiMajorAxis, r.inverseFlattening,
                       std::numeric_limits<double>::quiet_NaN(),
                       std::numeric_limits<double>::quiet_NaN()};
    bool anyAdjusted = false;
    for (const SiteResult& s : r.sites) {
        anyAdjusted = anyAdjusted || s.adjusted;
    }
    double latitudeSum = 0.0, offsetSum = 0.0, firstLongitude = 0.0;
    int count = 0;
    double latitude = 0.0, longitude = 0.0;
    for (const SiteResult& s : r.sites) {
        if (!placeOf(s, anyAdjusted, latitude, longitude)) {
            continue;
        }
        if (count == 0) {
            firstLongitude = longitude;
        }
        latitudeSum += latitude;
        offsetSum += std::remainder(longitude - firstLongitude, 360.0);
        ++count;
    }
    if (count > 0) {
        place.middleLatitude = latitudeSum / count;
        place.middleLongitude = std::remainder(firstLongitude + offsetSum / count, 360.0);
    }
    for (const SiteResult& s : r.sites) {
        if (!placeOf(s, anyAdjusted, latitude, longitude)) {
            continue;
        }
        place.halfLatitudeSpan =
            std::max(place.halfLatitudeSpan, std::fabs(latitude - place.middleLatitude));
        place.halfLongitudeSpan =
            std::max(place.halfLongitudeSpan,
                     std::fabs(std::remainder(longitude - place.middleLongitude, 360.0)));
    }
    return place;
}

bool hasGeoidHeights(const NetworkResults& r) {
    for (const SiteResult& s : r.sites) {
        if (s.geoidHeight != 0.0) {
            return true;
        }
    }
    return false;
}

}  // namespace torvek::front
