// Grid coordinates through PROJ: the national network's points against an independent
// transformation, the choice of the UTM zone, the scale factor and convergence against the
// transverse Mercator series, and systems that cannot be used.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "front/documents/grid_coordinates.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/geodetic_from_cartesian.h"
#include "support/command_runner.h"
#include "support/national_network.h"

namespace torvek::front {
namespace {

constexpr double kWgs84A = 6378137.0;
constexpr double kWgs84Rf = 298.257223563;
constexpr double kMillimetre = 0.001;
constexpr double kDegree = 3.14159265358979323846 / 180.0;

struct Point {
    std::string id;
    double x, y, z;  // Earth-centred WGS 84, metres
};

// The points of the committed extract of the national network that have coordinates.
std::vector<Point> extractPoints() {
    std::ifstream in(std::string(TORVEK_SOURCE_DIR) + "/tests/data/national-network-extract.txt");
    std::vector<Point> points;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind, id, role;
        Point p{};
        if (fields >> kind >> id >> role && kind == "point" && fields >> p.x >> p.y >> p.z) {
            p.id = id;
            points.push_back(p);
        }
    }
    return points;
}

NetworkPlace bohemia() {
    return {kWgs84A, kWgs84Rf, 49.8, 14.4};
}

GridPosition project(const GridSystem& grid, const Point& p) {
    const GeodeticPoint g =
        geodeticFromCartesian(kWgs84A, eccentricitySquared(kWgs84Rf), {p.x, p.y, p.z});
    return grid.project(g.latitude / kDegree, g.longitude / kDegree, g.height);
}

// Easting and northing of the extract's control points, computed once with
// `cs2cs -f %.4f --bbox 13.9,49.3,14.9,50.3 EPSG:4978 <system>` (PROJ 9.1.1) straight from their
// Earth-centred coordinates, and transcribed here. The box is the area around the network's
// middle within which the front end, too, asks PROJ for its best transformation.
struct Expected {
    const char* id;
    double easting, northing;
};
constexpr Expected kUtm33[] = {
    {"BOR1", 641455.7776, 5793867.4782}, {"CDOM", 349528.8568, 5479098.2216},
    {"CKAP", 462779.7271, 5398595.4732}, {"CPRA", 426581.9147, 5429531.1280},
    {"CPRI", 427744.8231, 5504401.2621}, {"CTAB", 476802.8944, 5473061.7232},
    {"PLZE", 381128.7543, 5509398.5105}, {"TEME", 454804.1606, 5446981.1753},
};
// The national grid lies on another ellipsoid: PROJ carries the points onto its datum (with the
// seven-parameter transformation of 1 m accuracy that it prefers in that area).
constexpr Expected kKrovak[] = {
    {"BOR1", -529725.7273, -823097.1386},  {"CDOM", -859932.2030, -1097824.4989},
    {"CKAP", -757962.3686, -1192274.0487}, {"CPRA", -789888.8684, -1156920.9997},
    {"CPRI", -779092.7862, -1082801.4344}, {"CTAB", -734463.2258, -1120205.1582},
    {"PLZE", -824687.5255, -1071842.7760}, {"TEME", -759644.0393, -1143245.0421},
};

TEST(FrontGrid, NationalNetworkAgreesWithAnIndependentTransformation) {
    const std::vector<Point> points = extractPoints();
    ASSERT_EQ(points.size(), 20u);
    struct Case {
        const char* system;
        const Expected* expected;
        std::size_t count;
        bool datumShift;
    };
    for (const Case& c : {Case{"EPSG:32633", kUtm33, std::size(kUtm33), false},
                          Case{"EPSG:5514", kKrovak, std::size(kKrovak), true}}) {
        GridSystem grid;
        std::string error;
        ASSERT_TRUE(grid.open(c.system, bohemia(), error)) << error;
        EXPECT_EQ(grid.description().code, c.system);
        EXPECT_EQ(grid.description().datumChange, c.datumShift);
        for (std::size_t i = 0; i < c.count; ++i) {
            const Expected& e = c.expected[i];
            const auto p = std::find_if(points.begin(), points.end(),
                                        [&](const Point& q) { return q.id == e.id; });
            ASSERT_NE(p, points.end()) << e.id;
            const GridPosition g = project(grid, *p);
            ASSERT_TRUE(g.valid) << e.id;
            EXPECT_NEAR(g.easting, e.easting, kMillimetre) << c.system << " " << e.id;
            EXPECT_NEAR(g.northing, e.northing, kMillimetre) << c.system << " " << e.id;
        }
    }
}

// Every point with a position of the whole national network, when its file is beside the
// project (else of the extract).
std::vector<Point> wholeNetworkPoints() {
    std::ifstream in(std::string(TORVEK_SOURCE_DIR) + "/" + torvek::testing::kNationalNetworkFile);
    if (!in) {
        return extractPoints();
    }
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    torvek::testing::NetworkFile file;
    std::string problem;
    EXPECT_TRUE(torvek::testing::parseNetworkFile(text, file, problem)) << problem;
    std::vector<Point> points;
    for (const auto& p : file.points) {
        if (p.hasPosition) {
            points.push_back({p.id, p.xyz[0], p.xyz[1], p.xyz[2]});
        }
    }
    return points;
}

// Every point of the network, in the zone "utm" chooses, against cs2cs run now (installed with
// the front end's tools).
TEST(FrontGrid, ChosenUtmZoneAgreesWithCs2csOnEveryPoint) {
    const std::string cs2cs = torvek::testing::programOnPath("cs2cs");
    ASSERT_FALSE(cs2cs.empty()) << "cs2cs (proj-bin) is missing: run tools/setup.sh";
    const std::vector<Point> points = wholeNetworkPoints();
    ASSERT_GE(points.size(), 20u);
    GridSystem grid;
    std::string error;
    ASSERT_TRUE(grid.open(kUtmRequest, bohemia(), error)) << error;
    EXPECT_EQ(grid.description().code, "EPSG:32633");
    EXPECT_TRUE(grid.description().chosenZone);
    torvek::testing::CommandOptions options;
    for (const Point& p : points) {
        char line[96];
        std::snprintf(line, sizeof line, "%.4f %.4f %.4f\n", p.x, p.y, p.z);
        options.standardInput += line;
    }
    const auto run =
        torvek::testing::runCommand(cs2cs, {"-f", "%.4f", "EPSG:4978", "EPSG:32633"}, options);
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    std::istringstream lines(run.standardOutput);
    for (const Point& p : points) {
        double easting = 0, northing = 0, height = 0;
        ASSERT_TRUE(lines >> easting >> northing >> height) << p.id;
        const GridPosition g = project(grid, p);
        EXPECT_NEAR(g.easting, easting, kMillimetre) << p.id;
        EXPECT_NEAR(g.northing, northing, kMillimetre) << p.id;
    }
}

TEST(FrontGrid, UtmZones) {
    struct Case {
        double latitude, longitude;
        int zone;
        const char* code;
    };
    for (const Case& c : {Case{47.06, 8.31, 32, "EPSG:32632"}, Case{49.8, 14.4, 33, "EPSG:32633"},
                          Case{0.0, 0.0, 31, "EPSG:32631"}, Case{-33.9, 18.4, 34, "EPSG:32734"},
                          Case{51.5, -0.1, 30, "EPSG:32630"}, Case{-41.3, 174.8, 60, "EPSG:32760"},
                          Case{64.1, -180.0, 1, "EPSG:32601"}, Case{10.0, 180.0, 60, "EPSG:32660"},
                          Case{10.0, 354.0, 30, "EPSG:32630"}}) {
        EXPECT_EQ(utmZone(c.longitude), c.zone) << c.longitude;
        EXPECT_EQ(utmCode(c.latitude, c.longitude), c.code) << c.latitude << " " << c.longitude;
    }
}

// Scale factor and convergence of UTM against the transverse Mercator series (to the terms in
// the square of the longitude difference): k = k0 (1 + l^2 cos^2 phi (1 + eta^2) / 2) and
// gamma = l sin phi (1 + l^2 cos^2 phi (1 + 3 eta^2) / 3), l the longitude from the central
// meridian, eta^2 = e'^2 cos^2 phi.
TEST(FrontGrid, ScaleFactorAndConvergenceFollowTheProjection) {
    GridSystem grid;
    std::string error;
    ASSERT_TRUE(grid.open("EPSG:32633", bohemia(), error)) << error;
    constexpr double kCentralMeridian = 15.0, kK0 = 0.9996;
    const double e2 = 2 / kWgs84Rf - 1 / (kWgs84Rf * kWgs84Rf);
    for (double latitude : {45.0, 49.8, 60.0}) {
        for (double offset : {0.0, -1.5, 2.5}) {
            const GridPosition g = grid.project(latitude, kCentralMeridian + offset, 300.0);
            ASSERT_TRUE(g.valid);
            const double phi = latitude * kDegree, l = offset * kDegree;
            const double c2 = std::cos(phi) * std::cos(phi);
            const double eta2 = e2 / (1 - e2) * c2;
            const double k = kK0 * (1 + l * l * c2 * (1 + eta2) / 2);
            const double gamma = l * std::sin(phi) * (1 + l * l * c2 * (1 + 3 * eta2) / 3);
            EXPECT_NEAR(g.scaleFactor, k, 2e-7) << latitude << " " << offset;
            EXPECT_NEAR(g.convergence, gamma / kDegree, 2e-5) << latitude << " " << offset;
        }
    }
}

TEST(FrontGrid, SystemsThatCannotServeAreRefusedWithTheReason) {
    struct Case {
        std::string request;
        const char* reason;
    };
    const Case cases[] = {
        {"EPSG:4326", "not a projected coordinate system"},
        {"EPSG:4978", "not a projected coordinate system"},
        {"EPSG:999999", "does not know"},
        {"no such system", "does not know"},
        {"", "empty"},
        {std::string("EPSG:32633\x1b[2J"), "control characters"},
        {std::string(70000, 'x'), "too long"},
    };
    for (const Case& c : cases) {
        GridSystem grid;
        std::string error;
        EXPECT_FALSE(grid.open(c.request, bohemia(), error)) << c.request;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.request << ": " << error;
        EXPECT_FALSE(grid.isOpen());
        EXPECT_FALSE(grid.project(49.8, 14.4, 0.0).valid);
    }
    GridSystem grid;
    std::string error;
    const NetworkPlace nowhere{kWgs84A, kWgs84Rf, std::nan(""), std::nan("")};
    EXPECT_FALSE(grid.open(kUtmRequest, nowhere, error));
    ASSERT_TRUE(grid.open("EPSG:32633", bohemia(), error));
    for (double latitude : {90.0, -90.0, std::nan(""), 1e300}) {
        EXPECT_FALSE(grid.project(latitude, 14.4, 0.0).valid) << latitude;
    }
}

// The operation from the positions' frame to the grid, its accuracy and the word "ballpark" exactly
// where PROJ knows no transformation of the datum, with the error it may bring (a couple of metres
// on one ellipsoid, hundreds onto another). (torvek-front's grid against cs2cs: front_datum_test.)
TEST(FrontGrid, TheOperationFromTheFrameIsNamedWithItsAccuracy) {
    struct Case {
        const char* frame;
        double epoch;
        const char* system;
        const char* says;  // accuracy, or the error of a ballpark operation
        bool ballpark;
    };
    const NetworkPlace wisconsin{kWgs84A, kWgs84Rf, 44.5, -89.47, 0.02, 0.03};
    const char* kNoDatum = "+proj=longlat +ellps=WGS84 +no_defs +type=crs";
    const char* kInternational = "+proj=tmerc +lon_0=-90 +ellps=intl +type=crs";
    const Case cases[] = {{"EPSG:4326", NAN, "EPSG:3071", "accurate to 1 m", false},
                          {"EPSG:7912", 2020.0, "EPSG:3071", "up to about 2 m", true},
                          {kNoDatum, NAN, "EPSG:3071", "up to about 2 m", true},
                          {"", NAN, kInternational, "up to several hundred metres", true},
                          {"EPSG:4979", NAN, "EPSG:32616", "exact", false}};
    for (const Case& c : cases) {
        GridSystem grid;
        std::string error;
        ASSERT_TRUE(grid.open(c.system, wisconsin, {c.frame, c.epoch}, error)) << error;
        const std::string statement = transformationStatement(grid.description());
        EXPECT_NE(statement.find("\"" + grid.description().operation + "\""), std::string::npos);
        EXPECT_EQ(statement.find("axis order"), std::string::npos) << statement;
        EXPECT_NE(statement.find(c.says), std::string::npos) << statement;
        EXPECT_EQ(statement.find("ballpark") != std::string::npos, c.ballpark) << statement;
    }
}

// A time-dependent transformation takes the epoch as its time: ITRF2014 moves against ETRS89 by
// some 2.5 cm a year. Transcribed from `echo "47.5 8.5 500 2000.0" | cs2cs -f %.4f EPSG:7912
// EPSG:25832` and the same at 2020.0 (PROJ 9.1.1).
TEST(FrontGrid, ATimeDependentTransformationTakesTheEpoch) {
    struct Dated {
        double epoch, easting, northing;
    };
    for (const Dated& d :
         {Dated{2000.0, 462343.1072, 5260850.7026}, Dated{2020.0, 462342.7092, 5260850.3888}}) {
        GridSystem grid;
        std::string error;
        const NetworkPlace place{kWgs84A, kWgs84Rf, 47.5, 8.5, 0.01, 0.01};
        ASSERT_TRUE(grid.open("EPSG:25832", place, {"EPSG:7912", d.epoch}, error)) << error;
        const GridPosition g = grid.project(47.5, 8.5, 500.0);
        EXPECT_NEAR(g.easting, d.easting, kMillimetre) << d.epoch;
        EXPECT_NEAR(g.northing, d.northing, kMillimetre) << d.epoch;
    }
}

}  // namespace
}  // namespace torvek::front
