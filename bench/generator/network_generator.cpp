#include "bench/generator/network_generator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include "geodesy/ellipsoid.h"
#include "geodesy/geodetic_conversion.h"
#include "geodesy/local_frame.h"

namespace torvek::bench {
namespace {

// Grid origin and spacing: an alpine-sized network.
constexpr double kOriginLatitude = 46.5;    // degrees
constexpr double kOriginLongitude = 7.5;    // degrees
constexpr double kSpacing = 1500.0;         // metres
constexpr double kSigmaHorizontal = 0.003;  // metres
constexpr double kSigmaVertical = 0.008;    // metres

struct GridSite {
    double latitude, longitude, height;  // degrees, degrees, metres
    Vector3 xyz;
};

// A control site every this many sites of a session network: a few per campaign.
constexpr int kSitesPerControl = 2000;

// Four-character name of site k (0-based): "%04d" below 9999, base 36 above.
void sessionSiteName(int k, char name[5]) {
    if (k + 1 <= 9999) {
        char decimal[16];
        std::snprintf(decimal, sizeof decimal, "%04d", k + 1);
        std::memcpy(name, decimal, 5);
        return;
    }
    static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    // Names from "A000" on are never of the decimal form, whatever follows.
    int value = k + 1 - 10000 + 10 * 36 * 36 * 36;
    for (int c = 3; c >= 0; --c) {
        name[c] = kDigits[value % 36];
        value /= 36;
    }
    name[4] = '\0';
}

// An empty data set with its reference point at `centre` and the default settings (95 %, vector
// sigmas as given, not minimally constrained).
ProjectDataSet dataSetCentredOn(const GridSite& centre) {
    ProjectDataSet ds;
    ds.setReferencePoint(centre.latitude, centre.longitude);
    ds.setAdjustmentSettings({0, 95.0, 1.0});
    return ds;
}

}  // namespace

ProjectDataSet makeSessionNetwork(int siteCount, unsigned seed) {
    const int count = std::clamp(siteCount, 2, kMaxSessionNetworkSites - 10 * 36 * 36 * 36 + 9999);
    const int columns = std::max(1, int(std::ceil(std::sqrt(double(count)))));
    std::mt19937_64 random(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const double e2 = eccentricitySquared(kWgs84InverseFlattening);
    const double metresPerDegree = 111200.0;
    const double cosOrigin = std::cos(kOriginLatitude * kPi / 180);

    std::vector<GridSite> sites(count);
    for (int k = 0; k < count; ++k) {
        const int row = k / columns, column = k % columns;
        GridSite& s = sites[k];
        // Up to a fifth of the spacing off the grid point, as sites stand where they can.
        s.latitude =
            kOriginLatitude + (row + 0.2 * (uniform(random) - 0.5)) * kSpacing / metresPerDegree;
        s.longitude = kOriginLongitude + (column + 0.2 * (uniform(random) - 0.5)) * kSpacing /
                                             (metresPerDegree * cosOrigin);
        s.height = 300 + 1200 * uniform(random);
        s.xyz = cartesianFromGeodeticAt(kWgs84SemiMajorAxis, e2, s.latitude * kPi / 180,
                                        s.longitude * kPi / 180, s.height);
    }
    const GridSite& centre = sites[count / 2];
    ProjectDataSet ds = dataSetCentredOn(centre);
    char name[5];
    for (int k = 0; k < count; ++k) {
        sessionSiteName(k, name);
        if (!ds.addSite(name))
            throw std::bad_alloc();
        const bool control = k % kSitesPerControl == 0 || k == count - 1;
        const double offset = control ? 0 : 1;
        ds.setSitePosition({sites[k].latitude + offset * 3e-7 * normal(random),
                            sites[k].longitude + offset * 3e-7 * normal(random),
                            sites[k].height + offset * 0.05 * normal(random), 0.0});
        if (control)
            ds.setSiteFixed(1, 1, 1);
    }

    const Matrix3 r0 =
        localFrameMatrixAt(centre.latitude * kPi / 180, centre.longitude * kPi / 180);
    const Vector3 sigma =
        cartesianSigmasFromLocal(r0, {kSigmaHorizontal, kSigmaHorizontal, kSigmaVertical});
    char from[5], to[5];
    for (int k = 0; k < count; ++k) {
        const int column = k % columns;
        int receivers[4] = {k, -1, -1, -1};
        int used = 1;
        if (column + 1 < columns && k + 1 < count)
            receivers[used++] = k + 1;
        if (k + columns < count)
            receivers[used++] = k + columns;
        if (column + 1 < columns && k + columns + 1 < count)
            receivers[used++] = k + columns + 1;
        for (int a = 0; a < used; ++a) {
            for (int b = a + 1; b < used; ++b) {
                const int i = receivers[a], j = receivers[b];
                sessionSiteName(i, from);
                sessionSiteName(j, to);
                if (!ds.addVector(from, to))
                    throw std::bad_alloc();
                const Vector3 noise = {kSigmaHorizontal * normal(random),
                                       kSigmaHorizontal * normal(random),
                                       kSigmaVertical * normal(random)};
                const Vector3 d = cartesianFromLocal(r0, noise);
                ds.setVectorComponents({sites[j].xyz[0] - sites[i].xyz[0] + d[0],
                                        sites[j].xyz[1] - sites[i].xyz[1] + d[1],
                                        sites[j].xyz[2] - sites[i].xyz[2] + d[2],
                                        kNeutralWeightDivisor});
                ds.setVectorCovariance({sigma, {0, 0, 0}});
            }
        }
    }
    return ds;
}

ProjectDataSet makeGridNetwork(const NetworkShape& shape) {
    const int count = std::clamp(shape.sites, 2, 500);
    const int columns = std::max(1, int(std::ceil(std::sqrt(double(count)))));
    std::mt19937_64 random(shape.seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const double e2 = eccentricitySquared(kWgs84InverseFlattening);

    std::vector<GridSite> sites(count);
    for (int k = 0; k < count; ++k) {
        const int row = k / columns, column = k % columns;
        GridSite& s = sites[k];
        s.latitude = kOriginLatitude + row * kSpacing / 111200.0;
        s.longitude = kOriginLongitude +
                      column * kSpacing / (111200.0 * std::cos(kOriginLatitude * kPi / 180));
        s.height = 600 + 900 * uniform(random);
        s.xyz = cartesianFromGeodeticAt(kWgs84SemiMajorAxis, e2, s.latitude * kPi / 180,
                                        s.longitude * kPi / 180, s.height);
    }
    const GridSite& centre = sites[count / 2];
    ProjectDataSet ds = dataSetCentredOn(centre);
    char name[16];
    for (int k = 0; k < count; ++k) {
        std::snprintf(name, sizeof name, "%04d", k + 1);
        // Adding fails only when storage runs out.
        if (!ds.addSite(name))
            throw std::bad_alloc();
        // Start coordinates a few centimetres off, as from a navigation solution. The draws are
        // made height first, then longitude, then latitude, so that the same seed gives the same
        // network whichever compiler built the generator.
        const double elevation = sites[k].height + (k ? 0.05 * normal(random) : 0);
        const double longitude = sites[k].longitude + (k ? 3e-7 * normal(random) : 0);
        const double latitude = sites[k].latitude + (k ? 3e-7 * normal(random) : 0);
        ds.setSitePosition({latitude, longitude, elevation, 0.0});
    }
    if (shape.siteSigma > 0) {
        for (bool more = ds.firstSite(); more; more = ds.nextSite())
            ds.setSiteSigmas(shape.siteSigma, shape.siteSigma, shape.siteSigma);
    }
    ds.firstSite();
    ds.setSiteFixed(1, 1, 1);
    if (shape.overConstrained) {
        std::snprintf(name, sizeof name, "%04d", count);
        ds.seekSite(name);
        ds.setSiteFixed(0, 0, 1);
    }

    std::vector<std::pair<int, int>> lines;
    for (int k = 0; k < count; ++k) {
        const int row = k / columns, column = k % columns;
        if (column + 1 < columns && k + 1 < count)
            lines.push_back({k, k + 1});
        if (k + columns < count)
            lines.push_back({k, k + columns});
        if (column + 1 < columns && k + columns + 1 < count)
            lines.push_back({k, k + columns + 1});
        (void)row;
    }
    std::uniform_int_distribution<int> pick(0, count - 1);
    while (int(lines.size()) < shape.vectors) {
        int a = pick(random);
        int b = std::clamp(a + (uniform(random) < 0.5 ? 1 : columns), 0, count - 1);
        if (a != b)
            lines.push_back({a, b});
    }
    lines.resize(std::max<std::size_t>(
        std::min<std::size_t>(lines.size(), std::size_t(shape.vectors)), count - 1));

    const Matrix3 r0 =
        localFrameMatrixAt(centre.latitude * kPi / 180, centre.longitude * kPi / 180);
    for (auto [a, b] : lines) {
        char from[16], to[16];
        std::snprintf(from, sizeof from, "%04d", a + 1);
        std::snprintf(to, sizeof to, "%04d", b + 1);
        if (!ds.addVector(from, to))
            throw std::bad_alloc();
        const Vector3 noise = {kSigmaHorizontal * normal(random), kSigmaHorizontal * normal(random),
                               kSigmaVertical * normal(random)};
        const Vector3 d = cartesianFromLocal(r0, noise);
        ds.setVectorComponents({sites[b].xyz[0] - sites[a].xyz[0] + d[0],
                                sites[b].xyz[1] - sites[a].xyz[1] + d[1],
                                sites[b].xyz[2] - sites[a].xyz[2] + d[2], kNeutralWeightDivisor});
        const Vector3 sigma =
            cartesianSigmasFromLocal(r0, {kSigmaHorizontal, kSigmaHorizontal, kSigmaVertical});
        ds.setVectorCovariance({sigma, {0, 0, 0}});
    }
    return ds;
}

}  // namespace torvek::bench
