// A real national GNSS network of 232 points and 5589 vectors: 54 control points held fixed, 178
// free points, vectors of up to a few hundred kilometres with diagonal Earth-centred covariances.
// The file lives outside the project and is read at run time; the program's solution is compared
// with the independent double-precision solution of the test support.
#include "support/national_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "dataset/adjusted_data_set.h"
#include "support/network_run.h"

namespace torvek::testing {
namespace {

const std::string kNetworkFile = std::string(TORVEK_SOURCE_DIR) + "/" + kNationalNetworkFile;

constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr int kPointCount = 232;
constexpr int kFixedPointCount = 54;
constexpr int kVectorCount = 5589;
constexpr int kUnconnectedControlCount = 8;  // control points that no vector reaches

class NationalNetwork : public NetworkRun {};

TEST_F(NationalNetwork, AdjustmentAgreesWithIndependentSolution) {
    std::ifstream in(kNetworkFile, std::ios::binary);
    if (!in)
        GTEST_SKIP() << "the national network file is not beside the project: " << kNetworkFile;
    std::stringstream buffer;
    buffer << in.rdbuf();
    NetworkFile file;
    std::string problem;
    ASSERT_TRUE(parseNetworkFile(buffer.str(), file, problem)) << problem;
    ASSERT_EQ(file.points.size(), std::size_t(kPointCount));
    ASSERT_EQ(file.vectors.size(), std::size_t(kVectorCount));
    int fixedCount = 0;
    for (const NetworkPoint& p : file.points)
        fixedCount += p.fixed ? 1 : 0;
    ASSERT_EQ(fixedCount, kFixedPointCount);
    SyntheticNetwork net;
    ASSERT_TRUE(buildNationalNetwork(file, net, problem)) << problem;

    RunResult result = run(net);
    ASSERT_EQ(result.exitCode, 0);
    ASSERT_EQ(adjusted.adjustmentSucceeded(), 1) << result.reportText();
    // Fifty-four fixed points are control enough: every bias parameter stays free.
    EXPECT_EQ(result.reportText().find("Note: Bias constraint(s)"), std::string::npos);
    std::int32_t obs = 0, unknowns = 0, dof = 0, iterations = 0;
    ASSERT_TRUE(adjusted.getAdjustmentCounts(obs, unknowns, dof, iterations));
    EXPECT_EQ(obs, 3 * kVectorCount);
    EXPECT_EQ(unknowns, 3 * (kPointCount - kFixedPointCount) + 4);
    EXPECT_EQ(dof, obs - unknowns);
    EXPECT_EQ(iterations, 2);

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
        double lat = 0, lon = 0, elevation = 0, sigma[3] = {0, 0, 0};
        const int inUse =
            adjusted.getAdjustedSite(lat, lon, elevation, sigma[0], sigma[1], sigma[2]);
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
            // Measured: 0.0004 mm at most.
            EXPECT_NEAR(d[c] * 1000.0, 0.0, 0.01) << s.name << " component " << c;
            // The output holds adjusted sigmas at a millimetre at least, as it does every sigma.
            const double expected = std::max(reference.sigma[k][c], kMinimumSigma);
            largestSigmaRatio = std::max(largestSigmaRatio, std::fabs(sigma[c] / expected - 1));
            // Measured: 1e-6 relative at most.
            EXPECT_NEAR(sigma[c], expected, 1e-5 * expected) << s.name << " component " << c;
        }
    }
    EXPECT_EQ(unconnected, kUnconnectedControlCount);
    RecordProperty("largest_difference_mm", std::to_string(largestMillimetres));
    RecordProperty("largest_sigma_ratio", std::to_string(largestSigmaRatio));

    double chi = 0, lower = 0, upper = 0;
    ASSERT_TRUE(adjusted.getChiSquareTest(chi, lower, upper));
    // Measured: equal to 4e-10 relative. The a-priori sigmas are optimistic for this network
    // (unit-weight error 3.7), which makes no difference to the comparison.
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

}  // namespace
}  // namespace torvek::testing
