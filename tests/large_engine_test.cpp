// torvek-large against torvek: the same networks give the same coordinates, standard deviations
// and statistics within the single-precision solver's accuracy, the sparse solution agrees with
// an independent double-precision one, and every failure ends with the same outcome and report.
#ifdef TORVEK_LARGE_BINARY
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "dataset/adjusted_data_set.h"
#include "support/synthetic_network.h"
#include "support/temp_directory.h"
#include "support/test_front_end.h"

namespace torvek::testing {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr double kMeanEarthRadius = 6371000.0;  // metres; turns degree differences into metres
// How closely the two engines must agree: 0.1 mm in coordinates, 1 % in standard deviations, and
// 0.01 mm against an independent double-precision solution.
constexpr double kCoordinateTolerance = 1e-4;
constexpr double kSigmaTolerance = 0.01;
constexpr double kReferenceTolerance = 1e-5;

struct SiteResult {
    Triple position;  // north, east, up in metres from (0, 0, 0)
    Triple sigma;
};

struct Outcome {
    int exitCode = -1;
    int succeeded = -1;
    std::string report;  // comparableReport
    std::map<std::string, SiteResult> sites;
    std::vector<Triple> vectorSigmas;
    double chiSquare = 0;
};

// The report without the lines that differ by design: the engine's size line and the date and
// time of the run.
std::string comparableReport(const std::string& report) {
    static const std::regex kRunTime(R"(\d\d:\d\d:\d\d \d{4})");
    std::string kept;
    std::size_t start = 0;
    while (start < report.size()) {
        std::size_t end = report.find('\n', start);
        end = end == std::string::npos ? report.size() : end + 1;
        const std::string line = report.substr(start, end - start);
        const std::size_t text = line.find_first_not_of(' ');
        const bool engineLine = text != std::string::npos && line.compare(text, 8, "Engine: ") == 0;
        if (!engineLine && !std::regex_search(line, kRunTime))
            kept += line;
        start = end;
    }
    return kept;
}

Outcome runOn(const std::string& program, const std::string& input, const FrontEndScript& given) {
    TempDirectory folder;
    const std::string output = folder.path() + "/out.dat";
    FrontEndScript script = given;
    script.workingDirectory = folder.path();
    RunResult run = runProgram(program, {input, output}, script);
    Outcome outcome;
    outcome.exitCode = run.exitCode;
    outcome.report = comparableReport(run.reportText());
    AdjustedDataSet data;
    if (!data.readFile(output))
        return outcome;
    outcome.succeeded = data.adjustmentSucceeded();
    double lower = 0, upper = 0;
    data.getChiSquareTest(outcome.chiSquare, lower, upper);
    for (bool found = data.firstSite(); found; found = data.nextSite()) {
        AdjustedSite s;
        data.getAdjustedSite(s);
        const double cosLatitude = std::cos(s.latitude * kDegree);
        outcome.sites[std::string(data.siteName(), 4)] = {
            {s.latitude * kDegree * kMeanEarthRadius,
             s.longitude * kDegree * kMeanEarthRadius * cosLatitude, s.elevation},
            {s.latitudeSigma, s.longitudeSigma, s.elevationSigma}};
    }
    for (bool found = data.firstVector(); found; found = data.nextVector()) {
        ComponentPrecision p;
        data.getAdjustedLocalSigmas(p);
        outcome.vectorSigmas.push_back(p.sigma);
    }
    return outcome;
}

void expectSameResults(const Outcome& dense, const Outcome& sparse, const std::string& network) {
    ASSERT_EQ(dense.succeeded, 1) << network << dense.report;
    ASSERT_EQ(sparse.succeeded, 1) << network << sparse.report;
    ASSERT_EQ(dense.sites.size(), sparse.sites.size());
    for (const auto& [name, d] : dense.sites) {
        const SiteResult& s = sparse.sites.at(name);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(s.position[c], d.position[c], kCoordinateTolerance)
                << network << " " << name << " component " << c;
            EXPECT_NEAR(s.sigma[c], d.sigma[c], kSigmaTolerance * d.sigma[c] + 1e-7)
                << network << " " << name << " sigma " << c;
        }
    }
    ASSERT_EQ(dense.vectorSigmas.size(), sparse.vectorSigmas.size());
    for (std::size_t v = 0; v < dense.vectorSigmas.size(); ++v)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(sparse.vectorSigmas[v][c], dense.vectorSigmas[v][c],
                        kSigmaTolerance * dense.vectorSigmas[v][c] + 1e-7)
                << network << " vector " << v << " component " << c;
    EXPECT_NEAR(sparse.chiSquare, dense.chiSquare, 1e-3 * dense.chiSquare + 1e-6) << network;
}

struct NetworkCase {
    const char* name;
    SyntheticNetwork (*make)();
    double biasSigma[4];  // as the program settles them, for the independent solution
};

SyntheticNetwork minimalRing() {
    SyntheticNetwork net = ringNetwork(40, 47.5, 8.5, 6000);
    fixSite(net.sites[0]);
    for (std::size_t k = 1; k < net.sites.size(); ++k)
        net.sites[k].startOffset = {0.05, -0.03, 0.02};
    net.simulate(7);
    return net;
}

SyntheticNetwork overConstrainedRing() {
    SyntheticNetwork net = ringNetwork(60, -23.5, -46.6, 9000);
    for (int k : {0, 20, 40})
        fixSite(net.sites[k]);
    for (std::size_t k = 0; k < net.sites.size(); ++k) {
        net.sites[k].geoidHeight = -5.0 + 0.05 * double(k);
        if (k % 20 != 0)
            net.sites[k].startOffset = {-0.03, 0.06, 0.04};
    }
    net.simulate(21);
    return net;
}

SyntheticNetwork weightedRing() {
    SyntheticNetwork net = ringNetwork(30, 60.2, 24.9, 5000);
    fixSite(net.sites[0]);
    net.sites[15].fixed[2] = true;
    for (int k : {5, 10, 20}) {
        net.sites[k].sigma[0] = net.sites[k].sigma[1] = 0.01;
        net.sites[k].sigma[2] = 0.02;
    }
    for (std::size_t v = 0; v < net.vectors.size(); v += 3) {
        net.vectors[v].localSigma = {2.0, 2.5, 3.0};
        net.vectors[v].covarianceForm = true;
    }
    net.simulate(33);
    return net;
}

class LargeEngine : public ::testing::Test {
  protected:
    std::string write(const SyntheticNetwork& net) {
        const std::string path = folder.path() + "/in.dat";
        net.writeTo(path);
        return path;
    }
    TempDirectory folder;
};

TEST_F(LargeEngine, AgreesWithTheDenseEngineAndAnIndependentSolution) {
    const NetworkCase cases[] = {
        {"minimally constrained ring", minimalRing, {0.001, 0.001, 0.001, 0.001}},
        {"over-constrained ring with geoid", overConstrainedRing, {0, 0, 0, 0}},
        {"weighted control, covariances", weightedRing, {0, 0, 0, 0}},
    };
    for (const NetworkCase& c : cases) {
        const SyntheticNetwork net = c.make();
        const std::string input = write(net);
        const Outcome dense = runOn(TORVEK_BINARY, input, {});
        const Outcome sparse = runOn(TORVEK_LARGE_BINARY, input, {});
        expectSameResults(dense, sparse, c.name);
        const ReferenceSolution reference = solveReference(net, c.biasSigma);
        for (std::size_t k = 0; k < net.sites.size(); ++k) {
            const Triple& r = reference.position[k];
            const SiteResult& s = sparse.sites.at(net.sites[k].name);
            const double cosLatitude = std::cos(r[0] * kDegree);
            const Triple expected = {r[0] * kDegree * kMeanEarthRadius,
                                     r[1] * kDegree * kMeanEarthRadius * cosLatitude,
                                     r[2] - net.sites[k].geoidHeight};
            for (int a = 0; a < 3; ++a) {
                EXPECT_NEAR(s.position[a], expected[a], kReferenceTolerance)
                    << c.name << " " << net.sites[k].name << " component " << a;
                EXPECT_NEAR(s.sigma[a], reference.sigma[k][a], 1e-3 * reference.sigma[k][a] + 1e-7)
                    << c.name << " " << net.sites[k].name << " sigma " << a;
            }
        }
    }
}

// Networks that fail or are refused, each in its own way, and a good one aborted at every poll in
// turn: both programs must end alike, with the same report.
TEST_F(LargeEngine, FailuresAndAbortsEndAsWithTheDenseEngine) {
    SyntheticNetwork disconnected = ringNetwork(8, 52.0, 5.0, 2000);
    fixSite(disconnected.sites[0]);
    disconnected.vectors.erase(disconnected.vectors.begin() + 4, disconnected.vectors.end());
    disconnected.simulate(2);

    // Every vector out of use: too few observations for any adjustment.
    SyntheticNetwork unobserved = ringNetwork(5, 52.0, 5.0, 2000);
    fixSite(unobserved.sites[0]);
    for (SyntheticVector& v : unobserved.vectors)
        v.inUse = false;
    unobserved.simulate(3);

    const std::pair<const char*, SyntheticNetwork> failures[] = {
        {"disconnected", disconnected},
        {"too few observations", unobserved},
        {"bias without equations", zeroLengthNetwork()},
        {"site without equations, retried", duplicateNameNetwork()},
    };
    for (const auto& [name, net] : failures) {
        const std::string input = write(net);
        const Outcome dense = runOn(TORVEK_BINARY, input, {});
        const Outcome sparse = runOn(TORVEK_LARGE_BINARY, input, {});
        EXPECT_EQ(sparse.exitCode, dense.exitCode) << name;
        EXPECT_EQ(sparse.succeeded, dense.succeeded) << name;
        EXPECT_EQ(sparse.report, dense.report) << name;
    }

    SyntheticNetwork good = ringNetwork(9, 52.0, 5.0, 2000);
    for (int k : {0, 3, 6})
        fixSite(good.sites[k]);
    good.simulate(5);
    const std::string input = write(good);
    TempDirectory polls;
    const std::vector<int> stages =
        runTorvek({input, polls.path() + "/out.dat"}, FrontEndScript{}).stages();
    ASSERT_FALSE(stages.empty());
    std::map<int, int> seen;
    for (int stage : stages) {
        FrontEndScript script;
        script.abortAtOccurrence = {{stage, ++seen[stage]}};
        const Outcome dense = runOn(TORVEK_BINARY, input, script);
        const Outcome sparse = runOn(TORVEK_LARGE_BINARY, input, script);
        EXPECT_EQ(sparse.succeeded, dense.succeeded) << "abort at stage " << stage;
        EXPECT_EQ(sparse.report, dense.report) << "abort at stage " << stage;
    }
}

// The address space torvek-large gets for the refusal: with one BLAS thread it maps about 60 MB
// to start, read and assemble a small network, which leaves less than the 128 MiB work buffer
// OpenBLAS takes at the first factorisation (a run under 240 MB adjusts).
constexpr long long kLimitedAddressSpace = 160LL << 20;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizerBuild = true;
#else
constexpr bool kSanitizerBuild = false;
#endif

TEST_F(LargeEngine, FactorisationBeyondTheAddressSpaceIsRefused) {
    if (kSanitizerBuild)
        GTEST_SKIP() << "the sanitizers' shadow memory needs far more address space";
    const std::string input = write(minimalRing());
    FrontEndScript script;
    script.workingDirectory = folder.path();
    script.addressSpaceLimit = kLimitedAddressSpace;
    // The program's own default, made certain: the environment would otherwise decide.
    ::setenv("OPENBLAS_NUM_THREADS", "1", 1);
    const RunResult limited =
        runProgram(TORVEK_LARGE_BINARY, {input, folder.path() + "/out.dat"}, script);
    ::unsetenv("OPENBLAS_NUM_THREADS");
    EXPECT_EQ(limited.exitCode, 3) << limited.reportText();
    const std::string report = limited.reportText();
    EXPECT_NE(report.find("Error: Not enough memory for request: the factorisation needs about"),
              std::string::npos)
        << report;
}

}  // namespace
}  // namespace torvek::testing
#endif
