// A real national GNSS network, adjusted by the program and compared with the independent
// double-precision solution of the test support: control points held fixed, free points, vectors of
// up to a few hundred kilometres with diagonal Earth-centred covariances. A committed extract (21
// points, 175 vectors, tests/data) is always checked; the whole network (232 points, 5589 vectors)
// lives outside the project and is checked as well when its file is there.
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
#include "support/network_run.h"

namespace torvek::testing {
namespace {

const std::string kNetworkFile =
    std::string(TORVEK_SOURCE_DIR) + "/../shared/realdata/sjtsk05-dopnul.gama-g3.xml";
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

struct NetworkPoint {
    std::string id;  // the file's own id, up to 8 characters
    bool fixed = false;
    bool hasPosition = false;
    Triple xyz{0, 0, 0};  // Earth-centred, metres
};

struct NetworkVector {
    std::string from, to;
    Triple delta{0, 0, 0};     // metres
    Triple variance{0, 0, 0};  // diagonal of the Earth-centred covariance, m^2
};

struct NetworkFile {
    std::vector<NetworkPoint> points;
    std::vector<NetworkVector> vectors;
};

// The text between `open` and the next `close` within [from, limit), or nothing.
std::optional<std::string> element(const std::string& text, const std::string& open,
                                   const std::string& close, std::size_t from, std::size_t limit) {
    std::size_t start = text.find(open, from);
    if (start == std::string::npos || start >= limit)
        return std::nullopt;
    start += open.size();
    std::size_t end = text.find(close, start);
    if (end == std::string::npos || end > limit)
        return std::nullopt;
    return text.substr(start, end - start);
}

std::string trimmed(const std::string& s) {
    std::size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

std::optional<double> number(const std::optional<std::string>& text) {
    if (!text)
        return std::nullopt;
    std::string t = trimmed(*text);
    char* end = nullptr;
    double value = std::strtod(t.c_str(), &end);
    if (t.empty() || end != t.c_str() + t.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Reads the points and vectors; tolerant of layout, strict about the numbers it needs. Points
// before the constrained-points and free-points markers are control; constrained points (none in
// this network) are not supported. Returns false with `problem` set on damage.
bool parseNetwork(const std::string& text, NetworkFile& file, std::string& problem) {
    const std::size_t freeMarker = text.find("<free>");
    const std::size_t constrainedMarker = std::min(text.find("<constr>"), freeMarker);
    if (freeMarker == std::string::npos) {
        problem = "no <free> marker";
        return false;
    }
    for (std::size_t at = text.find("<point>"); at != std::string::npos;
         at = text.find("<point>", at + 1)) {
        std::size_t end = text.find("</point>", at);
        if (end == std::string::npos) {
            problem = "unterminated <point>";
            return false;
        }
        NetworkPoint p;
        std::optional<std::string> id = element(text, "<id>", "</id>", at, end);
        if (!id || trimmed(*id).empty()) {
            problem = "a point without an id";
            return false;
        }
        p.id = trimmed(*id);
        if (at > constrainedMarker && at < freeMarker) {
            problem = "a constrained point: " + p.id;
            return false;
        }
        p.fixed = at < constrainedMarker;
        std::optional<double> x = number(element(text, "<x>", "</x>", at, end));
        std::optional<double> y = number(element(text, "<y>", "</y>", at, end));
        std::optional<double> z = number(element(text, "<z>", "</z>", at, end));
        p.hasPosition = x && y && z;
        if (p.hasPosition)
            p.xyz = {*x, *y, *z};
        file.points.push_back(p);
    }
    for (std::size_t at = text.find("<vector>"); at != std::string::npos;
         at = text.find("<vector>", at + 1)) {
        std::size_t end = text.find("</cov-mat>", at);
        if (end == std::string::npos) {
            problem = "a vector without a covariance";
            return false;
        }
        NetworkVector v;
        std::optional<std::string> from = element(text, "<from>", "</from>", at, end);
        std::optional<std::string> to = element(text, "<to>", "</to>", at, end);
        std::optional<double> dx = number(element(text, "<dx>", "</dx>", at, end));
        std::optional<double> dy = number(element(text, "<dy>", "</dy>", at, end));
        std::optional<double> dz = number(element(text, "<dz>", "</dz>", at, end));
        std::size_t covariance = text.find("<cov-mat>", at);
        if (!from || !to || !dx || !dy || !dz || covariance > end) {
            problem = "a damaged vector at byte " + std::to_string(at);
            return false;
        }
        v.from = trimmed(*from);
        v.to = trimmed(*to);
        v.delta = {*dx, *dy, *dz};
        std::size_t cursor = covariance;
        for (int k = 0; k < 3; ++k) {
            std::optional<double> q = number(element(text, "<flt>", "</flt>", cursor, end));
            if (!q || *q <= 0) {
                problem = "a damaged covariance at byte " + std::to_string(covariance);
                return false;
            }
            v.variance[k] = *q;
            cursor = text.find("</flt>", cursor) + 1;
        }
        file.vectors.push_back(v);
    }
    return true;
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

// A few free points come without coordinates: they start from a neighbour's position plus the
// vector between them, which the adjustment then corrects like any other start value.
bool completeStartPositions(NetworkFile& file, const std::map<std::string, int>& index) {
    for (bool changed = true; changed;) {
        changed = false;
        for (const NetworkVector& v : file.vectors) {
            NetworkPoint& a = file.points[index.at(v.from)];
            NetworkPoint& b = file.points[index.at(v.to)];
            if (a.hasPosition == b.hasPosition)
                continue;
            double sign = a.hasPosition ? 1.0 : -1.0;
            NetworkPoint& known = a.hasPosition ? a : b;
            NetworkPoint& unknown = a.hasPosition ? b : a;
            for (int c = 0; c < 3; ++c)
                unknown.xyz[c] = known.xyz[c] + sign * v.delta[c];
            unknown.hasPosition = true;
            changed = true;
        }
    }
    for (const NetworkPoint& p : file.points)
        if (!p.hasPosition)
            return false;
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

class NationalNetwork : public NetworkRun {
  protected:
    // Adjusts the network of `file` and compares every result with the independent solution.
    void adjustAndCompare(NetworkFile file, const Expected& expected);
};

void NationalNetwork::adjustAndCompare(NetworkFile file, const Expected& expected) {
    ASSERT_EQ(file.points.size(), std::size_t(expected.points));
    ASSERT_EQ(file.vectors.size(), std::size_t(expected.vectors));

    std::map<std::string, int> index;
    int fixedCount = 0;
    for (std::size_t k = 0; k < file.points.size(); ++k) {
        ASSERT_TRUE(index.emplace(file.points[k].id, int(k)).second) << file.points[k].id;
        fixedCount += file.points[k].fixed ? 1 : 0;
    }
    ASSERT_EQ(fixedCount, expected.fixedPoints);
    for (const NetworkVector& v : file.vectors)
        ASSERT_TRUE(index.count(v.from) && index.count(v.to)) << v.from << " " << v.to;
    ASSERT_TRUE(completeStartPositions(file, index));

    // WGS84, the data set's ellipsoid.
    SyntheticNetwork net;
    Triple mean{0, 0, 0};
    for (const NetworkPoint& p : file.points)
        for (int c = 0; c < 3; ++c)
            mean[c] += p.xyz[c] / double(file.points.size());
    Triple centre = cartesianToGeodetic(mean, net.semiMajorAxis, net.inverseFlattening);
    net.referenceLatitude = centre[0];
    net.referenceLongitude = centre[1];
    for (std::size_t k = 0; k < file.points.size(); ++k) {
        const NetworkPoint& p = file.points[k];
        SyntheticSite s;
        char name[8];
        std::snprintf(name, sizeof name, "P%03d", int(k + 1));
        s.name = name;
        Triple g = cartesianToGeodetic(p.xyz, net.semiMajorAxis, net.inverseFlattening);
        s.latitude = g[0];
        s.longitude = g[1];
        s.height = g[2];
        if (p.fixed)
            fixSite(s);
        net.sites.push_back(s);
    }
    // The program weighs a vector by the north, east and up sigmas of its covariance in the
    // reference point's frame, so those sigmas carry everything the file's covariance tells it.
    // The data set holds no vector sigma below kMinimumSigma: a smaller Cartesian sigma would be
    // raised on writing and change the weights the program derives (166 vectors here have an
    // east sigma just under a millimetre). Holding the local sigmas at that floor keeps every
    // Cartesian sigma at or above it, so the program weighs exactly what the reference weighs.
    auto axes = localAxes(net.referenceLatitude, net.referenceLongitude);
    for (const NetworkVector& v : file.vectors) {
        SyntheticVector sv;
        sv.from = index[v.from];
        sv.to = index[v.to];
        sv.observed = v.delta;
        for (int c = 0; c < 3; ++c) {
            double variance = 0;
            for (int r = 0; r < 3; ++r)
                variance += axes[r][c] * axes[r][c] * v.variance[r];
            sv.localSigma[c] = std::max(std::sqrt(variance), kMinimumSigma);
        }
        net.vectors.push_back(sv);
    }

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
    ASSERT_TRUE(parseNetwork(*text, file, problem)) << problem;
    adjustAndCompare(file, kWholeNetwork);
}

}  // namespace
}  // namespace torvek::testing
