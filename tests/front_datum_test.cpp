// Grid coordinates from the frame and epoch of the coordinates, as torvek-front adjust and export
// give them: against cs2cs, the word "ballpark" where PROJ knows no better, and the options
// refused before anything runs.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "front/project/project_json.h"
#include "support/command_runner.h"
#include "support/temp_directory.h"
#include "support/test_front_end.h"

#if defined(TORVEK_FRONT_BINARY)

namespace torvek::front {
namespace {

using torvek::testing::CommandResult;
using torvek::testing::programOnPath;
using torvek::testing::readFileBytes;
using torvek::testing::runCommand;
using torvek::testing::TempDirectory;
using torvek::testing::writeFileBytes;

// WGS 84, written out here so that the project does not lean on the code under test.
constexpr double kA = 6378137.0;
constexpr double kRf = 298.257223563;
constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr double kTwoMillimetres = 0.002;

std::array<double, 3> cartesian(double latitude, double longitude, double height) {
    const double e2 = 2 / kRf - 1 / (kRf * kRf);
    const double lat = latitude * kDegree, lon = longitude * kDegree;
    const double n = kA / std::sqrt(1 - e2 * std::sin(lat) * std::sin(lat));
    return {(n + height) * std::cos(lat) * std::cos(lon),
            (n + height) * std::cos(lat) * std::sin(lon), ((1 - e2) * n + height) * std::sin(lat)};
}

struct Site {
    const char* name;
    double latitude, longitude, height;
};
constexpr Site kSites[] = {{"A", 44.50, -89.50, 300.0},
                           {"ABCD", 44.52, -89.47, 310.0},
                           {"Twelve chars", 44.49, -89.45, 305.0}};

// Three sites in Wisconsin, the first fixed, joined by vectors without error: the adjusted
// positions are the given ones.
std::string wisconsinProject(const Json& settings) {
    Json project = {{"title", "Wisconsin"}, {"settings", settings}};
    for (const Site& s : kSites) {
        project["sites"].push_back({{"name", s.name},
                                    {"latitude", s.latitude},
                                    {"longitude", s.longitude},
                                    {"ellipsoidalHeight", s.height},
                                    {"fixed", &s == &kSites[0]}});
    }
    for (int i = 0; i < 3; ++i) {
        const Site &from = kSites[i], &to = kSites[(i + 1) % 3];
        const auto p = cartesian(from.latitude, from.longitude, from.height);
        const auto q = cartesian(to.latitude, to.longitude, to.height);
        project["vectors"].push_back({{"from", from.name},
                                      {"to", to.name},
                                      {"dX", q[0] - p[0]},
                                      {"dY", q[1] - p[1]},
                                      {"dZ", q[2] - p[2]},
                                      {"sigmas", {{"x", 0.003}, {"y", 0.003}, {"z", 0.003}}}});
    }
    return project.dump();
}

CommandResult front(const std::vector<std::string>& args) {
    torvek::testing::CommandOptions options;
    options.environment.emplace_back("TORVEK_BINARY", "");
    return runCommand(TORVEK_FRONT_BINARY, args, options);
}

bool contains(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

// The easting and northing of `name` in the summary's grid table.
std::array<double, 2> gridRow(const std::string& summary, const std::string& name) {
    const std::size_t table = summary.find("\nGrid coordinates");
    const std::size_t row = summary.find("\n  " + name + " ", table);
    EXPECT_NE(row, std::string::npos) << name << " in\n" << summary;
    std::array<double, 2> en{NAN, NAN};
    if (table != std::string::npos && row != std::string::npos) {
        std::istringstream(summary.substr(row + 3 + name.size())) >> en[0] >> en[1];
    }
    return en;
}

// The frame and epoch from the command line or the project: the grid of each site within 2 mm of
// cs2cs's from that frame, and "ballpark" exactly where PROJ knows no transformation of the datum
// (from ITRF2014 to NAD83(HARN) with PROJ's data of this machine).
TEST(FrontDatum, AdjustGivesTheGridOfCs2csFromTheFrameAndEpoch) {
    const std::string cs2cs = programOnPath("cs2cs");
    if (cs2cs.empty()) {
        GTEST_SKIP() << "cs2cs (proj-bin) is not installed";
    }
    const TempDirectory folder;
    writeFileBytes(folder.file("plain.json"), wisconsinProject({{"model", "classic"}}));
    writeFileBytes(
        folder.file("itrf.json"),
        wisconsinProject({{"model", "classic"}, {"frame", "EPSG:7912"}, {"epoch", 2020.0}}));
    struct Case {
        std::vector<std::string> arguments;
        const char* frame;
        bool withEpoch;
    };
    const Case cases[] = {
        {{"adjust", folder.file("plain.json"), "--frame", "EPSG:4326"}, "EPSG:4326", false},
        {{"adjust", folder.file("plain.json"), "--frame", "EPSG:7912", "--epoch", "2020.0"},
         "EPSG:7912",
         true},
        {{"adjust", folder.file("itrf.json")}, "EPSG:7912", true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        for (const char* more : {"--crs", "EPSG:3071", "--no-report", "-o"}) {
            arguments.push_back(more);
        }
        arguments.push_back(folder.file("out.dat"));
        const CommandResult run = front(arguments);
        ASSERT_EQ(run.exitCode, 0) << run.standardError;
        torvek::testing::CommandOptions input;
        for (const Site& s : kSites) {
            char line[96];
            std::snprintf(line, sizeof line, "%.9f %.9f %.4f%s\n", s.latitude, s.longitude,
                          s.height, c.withEpoch ? " 2020.0" : "");
            input.standardInput += line;
        }
        const CommandResult expected =
            runCommand(cs2cs, {"-f", "%.4f", c.frame, "EPSG:3071"}, input);
        ASSERT_EQ(expected.exitCode, 0) << expected.standardError;
        std::istringstream lines(expected.standardOutput);
        for (const Site& s : kSites) {
            std::string line;
            std::getline(lines, line);
            double easting = 0, northing = 0;
            ASSERT_TRUE(std::istringstream(line) >> easting >> northing) << line;
            const auto grid = gridRow(run.standardOutput, s.name);
            EXPECT_NEAR(grid[0], easting, kTwoMillimetres) << c.frame << " " << s.name;
            EXPECT_NEAR(grid[1], northing, kTwoMillimetres) << c.frame << " " << s.name;
        }
        const bool itrf = std::string(c.frame) == "EPSG:7912";
        EXPECT_EQ(contains(run.standardOutput, "ballpark"), itrf) << run.standardOutput;
        EXPECT_TRUE(contains(run.standardOutput, itrf ? "unknown accuracy" : "accurate to 1 m"))
            << run.standardOutput;
        const std::string html = readFileBytes(folder.file("out.html"));
        EXPECT_EQ(contains(html, "ballpark"), itrf);
        const Json geo = Json::parse(readFileBytes(folder.file("out.geojson")));
        EXPECT_EQ(geo["features"][0]["properties"]["gridBallpark"], itrf);
    }
}

TEST(FrontDatum, FramesAndEpochsThatCannotServeStopBeforeAnythingRuns) {
    const TempDirectory folder;
    const std::string plain = folder.file("plain.json"), grid = folder.file("grid.json");
    writeFileBytes(plain, wisconsinProject({{"model", "classic"}}));
    writeFileBytes(grid, wisconsinProject({{"model", "classic"}, {"frame", "EPSG:3071"}}));
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{plain, "--frame", "EPSG:3071"}, "--frame: \"EPSG:3071\" is not a geographic"},
        {{plain, "--frame", "EPSG:4978"}, "--frame: \"EPSG:4978\" is not a geographic"},
        {{plain, "--frame", "EPSG:999999"}, "--frame: PROJ does not know"},
        {{plain, "--frame", "EPSG:4267"}, "lies on an ellipsoid of semi-major axis 6378206.400"},
        {{plain, "--epoch", "1800"}, "--epoch: the epoch must be a decimal year from 1900 to 2200"},
        {{plain, "--epoch", "2020a"}, "--epoch: needs a decimal year"},
        {{grid}, "settings.frame: \"EPSG:3071\" is not a geographic"},
    };
    for (const auto& [given, says] : cases) {
        std::vector<std::string> arguments = {"adjust", "--crs", "EPSG:3071", "-o",
                                              folder.file("out.dat")};
        arguments.insert(arguments.end(), given.begin(), given.end());
        const CommandResult run = front(arguments);
        EXPECT_EQ(run.exitCode, 1) << says;
        EXPECT_TRUE(contains(run.standardError, says)) << run.standardError;
        EXPECT_FALSE(torvek::testing::fileExists(folder.file("out.dat"))) << says;
    }
    const CommandResult noGrid = front({"adjust", plain, "--frame", "EPSG:4326"});
    EXPECT_EQ(noGrid.exitCode, 1);
    EXPECT_TRUE(contains(noGrid.standardError, "give --crs too")) << noGrid.standardError;
}

}  // namespace
}  // namespace torvek::front

#endif  // TORVEK_FRONT_BINARY
