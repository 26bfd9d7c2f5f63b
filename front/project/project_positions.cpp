// Site positions of a project: geodetic with either kind of height, or Earth-centred.
#include <cmath>

#include "front/project/project_fields.h"
#include "front/project/project_reading.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/geodetic_from_cartesian.h"

namespace torvek::front {
namespace {

using namespace fields;

// Elevations and geoid heights beyond these bounds (metres) cannot be terrestrial.
constexpr double kLargestElevation = 100000.0;
constexpr double kLargestGeoidHeight = 1000.0;
// Earth-centred coordinates are at most a few thousand kilometres; this only keeps the arithmetic
// finite before the distance check below.
constexpr double kLargestCoordinate = 1.0e8;

const char* const kGeodeticKeys[] = {"latitude", "longitude", "elevation", "ellipsoidalHeight"};

// Constraint sigmas along X, Y, Z (metres) as sigmas along north, east and up at the site.
void readGeocentricSigmas(const Json& sigmas, const std::string& where, double latitude,
                          double longitude, SiteRecord& record) {
    checkKeys(sigmas, where, {"x", "y", "z"});
    Matrix3 covariance{};
    int given = 0;
    for (int i = 0; i < 3; ++i) {
        const double s = requiredNumber(sigmas, where, kXyz[i], kNonNegative);
        element(covariance, i, i) = s * s;
        given += s > 0.0 ? 1 : 0;
    }
    if (given != 0 && given != 3) {
        fail(where,
             "give all three sigmas or none: a constraint along some of X, Y and Z only has no "
             "north, east and up form");
    }
    const Matrix3 r =
        localFrameMatrixAt(radiansFromDegrees(latitude), radiansFromDegrees(longitude));
    const Vector3 local = localSigmasFromCartesianCovariance(r, covariance);
    record.latitudeSigma = local[kNorth];
    record.longitudeSigma = local[kEast];
    record.elevationSigma = local[kUp];
}

// Latitude, longitude (degrees) and ellipsoidal height (metres) of a site given by x, y, z.
GeodeticPoint readGeocentric(const Json& site, const std::string& path,
                             const ProjectEllipsoid& ellipsoid) {
    for (const char* key : kGeodeticKeys) {
        if (find(site, key) != nullptr) {
            fail(member(path, key),
                 "a site is given by \"x\", \"y\", \"z\" or by latitude and longitude, not both");
        }
    }
    Vector3 xyz{};
    for (int i = 0; i < 3; ++i) {
        xyz[i] = requiredNumber(site, path, kXyz[i], {-kLargestCoordinate, kLargestCoordinate});
    }
    const double a = ellipsoid.semiMajorAxis;
    const double b = a * (1.0 - 1.0 / ellipsoid.inverseFlattening);
    const double distance = std::sqrt(xyz[0] * xyz[0] + xyz[1] * xyz[1] + xyz[2] * xyz[2]);
    if (distance < b - kLargestElevation || distance > a + kLargestElevation) {
        fail(path, "lies " + formatNumber(distance) +
                       " m from the Earth's centre, not within 100 km of the ellipsoid: "
                       "\"x\", \"y\", \"z\" are Earth-centred coordinates in metres");
    }
    GeodeticPoint point =
        geodeticFromCartesian(a, eccentricitySquared(ellipsoid.inverseFlattening), xyz);
    point.latitude *= kDegreesPerRadian;
    point.longitude *= kDegreesPerRadian;
    return point;
}

}  // namespace

void readSitePosition(const Json& site, const std::string& path, const ProjectEllipsoid& ellipsoid,
                      SiteRecord& record, PositionForms& forms) {
    const bool geocentric =
        find(site, "x") != nullptr || find(site, "y") != nullptr || find(site, "z") != nullptr;
    record.geoidHeight =
        optionalNumber(site, path, "geoidHeight", 0.0, {-kLargestGeoidHeight, kLargestGeoidHeight});
    const bool geoidGiven = record.geoidHeight != 0.0;
    double ellipsoidalHeight = 0.0;
    bool ellipsoidal = true;
    if (geocentric) {
        const GeodeticPoint point = readGeocentric(site, path, ellipsoid);
        record.latitude = point.latitude;
        record.longitude = point.longitude;
        ellipsoidalHeight = point.height;
    } else {
        record.latitude = requiredNumber(site, path, "latitude", {-90.0, 90.0});
        record.longitude = requiredNumber(site, path, "longitude", {-180.0, 360.0});
        ellipsoidal = find(site, "ellipsoidalHeight") != nullptr;
        if (ellipsoidal && find(site, "elevation") != nullptr) {
            fail(path,
                 "give either \"elevation\" (above the geoid) or \"ellipsoidalHeight\", "
                 "not both");
        }
        if (ellipsoidal) {
            ellipsoidalHeight = requiredNumber(site, path, "ellipsoidalHeight",
                                               {-kLargestElevation, kLargestElevation});
        }
    }
    if (ellipsoidal) {
        // The data set keeps the height above the geoid; the program adds the geoid height back.
        record.elevation = ellipsoidalHeight - record.geoidHeight;
        if (std::fabs(record.elevation) > kLargestElevation) {
            fail(path, "lies " + formatNumber(record.elevation) +
                           " m above the geoid: elevations lie within 100 km");
        }
        forms.ellipsoidalWithoutGeoid = forms.ellipsoidalWithoutGeoid || !geoidGiven;
    } else {
        record.elevation =
            requiredNumber(site, path, "elevation", {-kLargestElevation, kLargestElevation});
        forms.aboveGeoidWithoutGeoid = forms.aboveGeoidWithoutGeoid || !geoidGiven;
    }

    const Json* sigmas = find(site, "sigmas");
    if (geocentric && sigmas != nullptr && sigmas->is_object() &&
        (find(*sigmas, "x") != nullptr || find(*sigmas, "y") != nullptr ||
         find(*sigmas, "z") != nullptr)) {
        readGeocentricSigmas(*sigmas, member(path, "sigmas"), record.latitude, record.longitude,
                             record);
        forms.weightedGeocentric = true;
        return;
    }
    double* out[3] = {&record.latitudeSigma, &record.longitudeSigma, &record.elevationSigma};
    readTriple(site, path, "sigmas", kLatLonElev, out, kNonNegative);
}

std::vector<std::string> positionNotes(const PositionForms& forms) {
    std::vector<std::string> notes;
    if (forms.aboveGeoidWithoutGeoid && forms.ellipsoidalWithoutGeoid) {
        notes.push_back(
            "some sites have heights above the geoid and others ellipsoidal heights, with no "
            "geoid heights to relate them: the vectors measure ellipsoidal heights, so held "
            "heights of the two kinds disagree by the geoid height");
    }
    if (forms.weightedGeocentric) {
        notes.push_back(
            "constraint sigmas along X, Y, Z are turned into sigmas along north, east and up; "
            "the data set keeps no correlation between them");
    }
    return notes;
}

}  // namespace torvek::front
