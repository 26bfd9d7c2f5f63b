// A real national GNSS network, adjusted by the program and compared with the independent
// double-precision solution of the test support: control points held fixed, free points, vectors of
// up to a few hundred kilometres with diagonal Earth-centred covariances. A committed extract (21
// points, 175 vectors, tests/data) is always checked; the whole network (232 points, 5589 vectors)
// lives outside the project and is checked as well when its file is there.
#include "support/national_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "dataset/adjusted_data_set.h"
#include "front/project/project_json.h"
#include "support/command_runner.h"
#include "support/network_run.h"

namespace torvek::testing {
namespace {

const std::string kNetworkFile = std::string(TORVEK_SOURCE_DIR) + "/" + kNationalNetworkFile;
const std::string kExtractFile =
    std::string(TORVEK_SOURCE_DIR) + "/tests/data/national-network-extract.txt";

constexpr double kDegree = 3.14159265358979323846 / 180.0;

// What a network file holds, counted by hand from the file.
struct Expected {
    int points = 0;
    int fixedPoints = 0;
    int vectors = 0;
    int unconnectedControl = 0;  // control points that no vector reaches
};
constexpr Expected kWholeNetwork{232, 54, 5589, 8};
constexpr Expected kExtract{21, 8, 175, 1};

// The whole of `text` as a finite number, or nothing.
std::optional<double> number(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Reads the extract's lines "point ID control|free X Y Z" ("- - -" for a free point without a
// start value) and "vector FROM TO DX DY DZ VX VY VZ"; blank lines and "#" comments are skipped.
// Returns false with `problem` naming the first line it cannot take.
bool parseExtract(const std::string& text, NetworkFile& file, std::string& problem) {
    std::istringstream lines(text);
    std::string line;
    for (int lineNumber = 1; std::getline(lines, line); ++lineNumber) {
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        if (w.empty() || w[0][0] == '#')
            continue;
        problem = "line " + std::to_string(lineNumber) + ": " + line;
        if (w[0] == "point" && w.size() == 6 && (w[2] == "control" || w[2] == "free")) {
            NetworkPoint p;
            p.id = w[1];
            p.fixed = w[2] == "control";
            p.hasPosition = !(w[3] == "-" && w[4] == "-" && w[5] == "-");
            for (int c = 0; c < 3 && p.hasPosition; ++c) {
                const std::optional<double> value = number(w[3 + c]);
                if (!value)
                    return false;
                p.xyz[c] = *value;
            }
            if (p.fixed && !p.hasPosition)
                return false;
            file.points.push_back(p);
        } else if (w[0] == "vector" && w.size() == 9) {
            NetworkVector v;
            v.from = w[1];
            v.to = w[2];
            for (int c = 0; c < 3; ++c) {
                const std::optional<double> delta = number(w[3 + c]);
                const std::optional<double> variance = number(w[6 + c]);
                if (!delta || !variance || *variance <= 0)
                    return false;
                v.delta[c] = *delta;
                v.variance[c] = *variance;
            }
            file.vectors.push_back(v);
        } else {
            return false;
        }
    }
    problem.clear();
    return true;
}

// Whole file as text; nothing when it cannot be read.
std::optional<std::string> readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

int expectedFixed(const NetworkFile& file) {
    int fixed = 0;
    for (const NetworkPoint& p : file.points)
        fixed += p.fixed ? 1 : 0;
    return fixed;
}

class NationalNetwork : public NetworkRun {
  protected:
    // Adjusts the network of `file` and compares every result with the independent solution.
    void adjustAndCompare(NetworkFile file, const Expected& expected);
    // Adjusts the survey file `input` (read with the `unit` options) with the front end and
    // compares the adjusted free points with the independent solution of `file`, the same
    // network as the test reads it.
    void importAndCompare(NetworkFile file, const std::string& input,
                          const std::vector<std::string>& unit);
};

void NationalNetwork::adjustAndCompare(NetworkFile file, const Expected& expected) {
    ASSERT_EQ(file.points.size(), std::size_t(expected.points));
    ASSERT_EQ(file.vectors.size(), std::size_t(expected.vectors));

    int fixedCount = 0;
    for (const NetworkPoint& p : file.points)
        fixedCount += p.fixed ? 1 : 0;
    ASSERT_EQ(fixedCount, expected.fixedPoints);
    SyntheticNetwork net;
    std::string problem;
    ASSERT_TRUE(buildNationalNetwork(std::move(file), net, problem)) << problem;

    RunResult result = run(net);
    ASSERT_EQ(result.exitCode, 0);
    ASSERT_EQ(adjusted.adjustmentSucceeded(), 1) << result.reportText();
    // Control points all round, seven or more of them reached by vectors, carry every bias
    // parameter: none is held.
    EXPECT_EQ(result.reportText().find("Note: Bias constraint(s)"), std::string::npos);
    AdjustmentCounts counts;
    ASSERT_TRUE(adjusted.getAdjustmentCounts(counts));
    const int obs = counts.observationCount, unknowns = counts.unknownCount;
    EXPECT_EQ(obs, 3 * expected.vectors);
    EXPECT_EQ(unknowns, 3 * (expected.points - expected.fixedPoints) + 4);
    EXPECT_EQ(counts.degreesOfFreedom, obs - unknowns);
    EXPECT_EQ(counts.iterationCount, 2);

    const double biasSigma[4] = {0, 0, 0, 0};
    ReferenceSolution reference = solveReference(net, biasSigma);
    ASSERT_EQ(reference.observations, obs);
    ASSERT_EQ(reference.unknowns, unknowns);

    // Control points without a vector are taken out of use by the connectivity test.
    int unconnected = 0;
    double largestMillimetres = 0, largestSigmaRatio = 0;
    for (std::size_t k = 0; k < net.sites.size(); ++k) {
        const SyntheticSite& s = net.sites[k];
        ASSERT_TRUE(adjusted.seekSite(s.name.c_str())) << s.name;
        AdjustedSite stored;
        const int inUse = adjusted.getAdjustedSite(stored);
        const double lat = stored.latitude, lon = stored.longitude, elevation = stored.elevation;
        const double sigma[3] = {stored.latitudeSigma, stored.longitudeSigma,
                                 stored.elevationSigma};
        if (s.fixed[0]) {
            if (inUse == 0) {
                ++unconnected;
                continue;
            }
            // Degrees pass through radians and back: equal to far below a micrometre.
            EXPECT_NEAR(lat, s.latitude, 1e-12) << s.name;
            EXPECT_NEAR(lon, s.longitude, 1e-12) << s.name;
            EXPECT_NEAR(elevation, s.height, 1e-9) << s.name;
            for (double value : sigma)
                EXPECT_EQ(value, 0.0) << s.name;
            continue;
        }
        EXPECT_EQ(inUse, 1) << s.name;
        const Triple& r = reference.position[k];
        // Metres along north, east and up on a sphere of mean radius: ample for micrometres.
        Triple d = {(lat - r[0]) * kDegree * 6371000.0,
                    (lon - r[1]) * kDegree * 6371000.0 * std::cos(lat * kDegree), elevation - r[2]};
        for (int c = 0; c < 3; ++c) {
            largestMillimetres = std::max(largestMillimetres, std::fabs(d[c]) * 1000.0);
            // Measured: 0.0004 mm at most on the whole network, 0.0001 mm on the extract.
            EXPECT_NEAR(d[c] * 1000.0, 0.0, 0.01) << s.name << " component " << c;
            // The output holds adjusted sigmas at a millimetre at least, as it does every sigma.
            const double expected = std::max(reference.sigma[k][c], kMinimumSigma);
            largestSigmaRatio = std::max(largestSigmaRatio, std::fabs(sigma[c] / expected - 1));
            // Measured: 1e-6 relative at most on the whole network, 3e-6 on the extract.
            EXPECT_NEAR(sigma[c], expected, 1e-5 * expected) << s.name << " component " << c;
        }
    }
    EXPECT_EQ(unconnected, expected.unconnectedControl);
    RecordProperty("largest_difference_mm", std::to_string(largestMillimetres));
    RecordProperty("largest_sigma_ratio", std::to_string(largestSigmaRatio));

    double chi = 0, lower = 0, upper = 0;
    ASSERT_TRUE(adjusted.getChiSquareTest(chi, lower, upper));
    // Measured: equal to 4e-10 relative on the whole network, 9e-10 on the extract. The a-priori
    // sigmas are optimistic for this network (unit-weight error 3.7 on the whole, 2.6 on the
    // extract), which makes no difference to the comparison.
    EXPECT_NEAR(chi, reference.chiSquare, 1e-7 * reference.chiSquare);
    EXPECT_NEAR(adjusted.unitWeightStandardError(), reference.unitWeightError,
                1e-7 * reference.unitWeightError);
    RecordProperty("chi_square", std::to_string(chi));

    // Stored 0.0001 above the estimates, as front ends expect.
    const ProjectDataSet& raw = adjusted;
    ASSERT_FALSE(raw.adjustmentRecords().empty());
    for (int k = 0; k < 4; ++k) {
        const double estimate = raw.adjustmentRecords().back().biasResults[2 * k] - 0.0001;
        EXPECT_NEAR(estimate, reference.bias[k], 1e-5) << "bias parameter " << k;
    }
}

// The network as GPS vector text: control held ("! ! !"), free points with their start values,
// free points without one left for the import to place; variances in m^2, the format's unit.
std::string gpsVectorText(const NetworkFile& file) {
    std::string text = ".GPS WEIGHT COVARIANCE\n";
    char line[256];
    for (const NetworkPoint& p : file.points) {
        if (!p.hasPosition)
            continue;
        std::snprintf(line, sizeof line, "C %s %.17g %.17g %.17g%s\n", p.id.c_str(), p.xyz[0],
                      p.xyz[1], p.xyz[2], p.fixed ? " ! ! !" : "");
        text += line;
    }
    for (const NetworkVector& v : file.vectors) {
        std::snprintf(line, sizeof line, "G1 %s-%s %.17g %.17g %.17g\nG2 %.17g %.17g %.17g\n",
                      v.from.c_str(), v.to.c_str(), v.delta[0], v.delta[1], v.delta[2],
                      v.variance[0], v.variance[1], v.variance[2]);
        text += line;
    }
    return text;
}

// The route a person takes: the survey file adjusted by the front end with one command. The
// independent solution gets the same model: the file's points and vectors, the reference point
// the import chose, each vector weighted by its Cartesian sigmas (held at 1 mm at least, as the
// program holds them) turned into north, east and up, and the datum bias parameters held at zero
// with a sigma of 0.001, as the import holds them for survey formats.
void NationalNetwork::importAndCompare(NetworkFile file, const std::string& input,
                                       const std::vector<std::string>& unit) {
    std::map<std::string, int> index;
    for (std::size_t k = 0; k < file.points.size(); ++k)
        index.emplace(file.points[k].id, int(k));
    // The sites and vectors in file order, with start values for the points without one.
    SyntheticNetwork net;
    std::string problem;
    ASSERT_TRUE(buildNationalNetwork(file, net, problem)) << problem;

    CommandOptions options;
    options.environment.emplace_back("TORVEK_BINARY", TORVEK_BINARY);
    options.workingDirectory = dir;
    // The classic model, which the independent solution computes.
    std::vector<std::string> adjust = {"adjust",      input,     "-o",     "out/net.dat",
                                       "--no-report", "--model", "classic"};
    adjust.insert(adjust.end(), unit.begin(), unit.end());
    const CommandResult run = runCommand(TORVEK_FRONT_BINARY, adjust, options);
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    std::vector<std::string> exportArgs = {"export",   "out/net.dat", "-o",
                                           "net.json", "--names",     input};
    exportArgs.insert(exportArgs.end(), unit.begin(), unit.end());
    ASSERT_EQ(runCommand(TORVEK_FRONT_BINARY, exportArgs, options).exitCode, 0);
    const front::Json out = front::Json::parse(readFileBytes(dir + "/net.json"));
    ASSERT_EQ(out["sites"].size(), file.points.size());

    net.referenceLatitude = out["settings"]["referencePoint"]["latitude"];
    net.referenceLongitude = out["settings"]["referencePoint"]["longitude"];
    auto axes = localAxes(net.referenceLatitude, net.referenceLongitude);
    ASSERT_EQ(net.vectors.size(), file.vectors.size());
    for (std::size_t v = 0; v < file.vectors.size(); ++v) {
        for (int c = 0; c < 3; ++c) {
            double variance = 0;
            for (int r = 0; r < 3; ++r) {
                const double sigma =
                    std::clamp(std::sqrt(file.vectors[v].variance[r]), kMinimumSigma, 100.0);
                variance += axes[r][c] * axes[r][c] * sigma * sigma;
            }
            net.vectors[v].localSigma[c] = std::sqrt(variance);
        }
    }
    const double heldBias[4] = {kMinimumSigma, kMinimumSigma, kMinimumSigma, kMinimumSigma};
    const ReferenceSolution reference = solveReference(net, heldBias);

    const std::string page = readFileBytes(dir + "/out/net.html");
    double largestMillimetres = 0;
    int free = 0, renamed = 0;
    for (const front::Json& site : out["sites"]) {
        const std::string name = site["name"];
        ASSERT_TRUE(index.count(name)) << name;
        const int k = index[name];
        // Every site is shown by its full name in the summary and the page's coordinates; the
        // plot names those it has room for (all in a small extract), and never by a code.
        EXPECT_NE(run.standardOutput.find("\n  " + name + " "), std::string::npos) << name;
        EXPECT_NE(page.find("<td>" + name + "</td>"), std::string::npos) << name;
        if (site.contains("code")) {
            ++renamed;
            EXPECT_EQ(page.find(">" + site["code"].get<std::string>() + "</text>"),
                      std::string::npos)
                << name;
        }
        if (file.points[std::size_t(k)].fixed)
            continue;
        ++free;
        const front::Json& adjusted = site["results"]["adjusted"];
        const double lat = adjusted["latitude"], lon = adjusted["longitude"];
        const double height =
            adjusted["elevation"].get<double>() + site["geoidHeight"].get<double>();
        const Triple& r = reference.position[std::size_t(k)];
        Triple d = {(lat - r[0]) * kDegree * 6371000.0,
                    (lon - r[1]) * kDegree * 6371000.0 * std::cos(lat * kDegree), height - r[2]};
        for (int c = 0; c < 3; ++c) {
            largestMillimetres = std::max(largestMillimetres, std::fabs(d[c]) * 1000.0);
            EXPECT_NEAR(d[c] * 1000.0, 0.0, 0.1) << name << " component " << c;
        }
    }
    EXPECT_EQ(free, int(file.points.size()) - expectedFixed(file));
    EXPECT_GT(renamed, 0);
    RecordProperty("import_route_largest_difference_mm", std::to_string(largestMillimetres));
}

TEST_F(NationalNetwork, ExtractAgreesWithIndependentSolution) {
    const std::optional<std::string> text = readText(kExtractFile);
    ASSERT_TRUE(text) << "cannot read " << kExtractFile;
    NetworkFile file;
    std::string problem;
    ASSERT_TRUE(parseExtract(*text, file, problem)) << problem;
    adjustAndCompare(file, kExtract);
}

// An optional extra check: the whole network is not part of the project.
TEST_F(NationalNetwork, WholeNetworkAgreesWithIndependentSolution) {
    const std::optional<std::string> text = readText(kNetworkFile);
    if (!text)
        GTEST_SKIP() << "optional check of the whole national network: its file " << kNetworkFile
                     << " is not beside the project (the committed extract is checked always)";
    NetworkFile file;
    std::string problem;
    ASSERT_TRUE(parseNetworkFile(*text, file, problem)) << problem;
    adjustAndCompare(file, kWholeNetwork);
}

TEST_F(NationalNetwork, ExtractImportedAsTextAgreesWithIndependentSolution) {
    const std::optional<std::string> text = readText(kExtractFile);
    ASSERT_TRUE(text) << "cannot read " << kExtractFile;
    NetworkFile file;
    std::string problem;
    ASSERT_TRUE(parseExtract(*text, file, problem)) << problem;
    writeFileBytes(dir + "/extract.txt", gpsVectorText(file));
    importAndCompare(file, "extract.txt", {});
}

TEST_F(NationalNetwork, WholeNetworkImportedAgreesWithIndependentSolution) {
    const std::optional<std::string> text = readText(kNetworkFile);
    if (!text)
        GTEST_SKIP() << "optional check of the whole national network: its file " << kNetworkFile
                     << " is not beside the project";
    NetworkFile file;
    std::string problem;
    ASSERT_TRUE(parseNetworkFile(*text, file, problem)) << problem;
    // The file gives m^2 where its format's unit is mm^2.
    importAndCompare(file, kNetworkFile, {"--covariance-unit", "m2"});
}

}  // namespace
}  // namespace torvek::testing
