// Whole runs on networks whose truth is known: the program's adjusted coordinates against the truth
// and against an independent double-precision solution of the same model.
#include <gtest/gtest.h>

#include <cmath>

#include "dataset/adjusted_data_set.h"
#include "support/synthetic_network.h"
#include "support/test_front_end.h"

namespace torvek::testing {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

struct AdjustedSite {
    double latitude, longitude, elevation, sigma[3];
    int inUse;
};

class SyntheticAdjustment : public ::testing::Test {
protected:
    void SetUp() override {
        dir = makeTempDirectory();
        input = dir + "/in.dat";
        output = dir + "/out.dat";
    }
    RunResult run(const SyntheticNetwork& net, FrontEndScript script = {}) {
        net.writeTo(input);
        RunResult result = runTorvek({input, output}, script);
        EXPECT_TRUE(adjusted.readFile(output));
        return result;
    }
    AdjustedSite site(const std::string& name) {
        AdjustedSite s{};
        EXPECT_TRUE(adjusted.seekSite(name.c_str())) << name;
        s.inUse = adjusted.getAdjustedSite(s.latitude, s.longitude, s.elevation, s.sigma[0], s.sigma[1],
                                           s.sigma[2]);
        return s;
    }
    // Differences in metres along north, east and up between two geodetic positions.
    static Triple metres(double lat1, double lon1, double h1, double lat2, double lon2, double h2) {
        return {(lat1 - lat2) * kDegree * 6371000.0,
                (lon1 - lon2) * kDegree * 6371000.0 * std::cos(lat1 * kDegree), h1 - h2};
    }
    std::string dir, input, output;
    AdjustedDataSet adjusted;
};

TEST_F(SyntheticAdjustment, MinimallyConstrainedRingMatchesIndependentSolution) {
    SyntheticNetwork net = ringNetwork(8, 47.5, 8.5, 3000);
    net.sites[0].fixed[0] = net.sites[0].fixed[1] = net.sites[0].fixed[2] = true;
    for (std::size_t k = 1; k < net.sites.size(); ++k) net.sites[k].startOffset = {0.05, -0.03, 0.02};
    net.simulate(7);
    RunResult result = run(net);
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_NE(result.reportText().find("Minimally constrained"), std::string::npos) << result.reportText();
    ASSERT_EQ(adjusted.adjustmentSucceeded(), 1) << result.reportText();
    // A minimally constrained run holds all four bias parameters at their a-priori values.
    const double biasSigma[4] = {0.001, 0.001, 0.001, 0.001};
    ReferenceSolution reference = solveReference(net, biasSigma);
    for (std::size_t k = 0; k < net.sites.size(); ++k) {
        AdjustedSite s = site(net.sites[k].name);
        EXPECT_EQ(s.inUse, 1);
        Triple d = metres(s.latitude, s.longitude, s.elevation + net.sites[k].geoidHeight,
                          reference.position[k][0], reference.position[k][1], reference.position[k][2]);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(d[c], 0.0, 1e-4) << net.sites[k].name << " component " << c;
            EXPECT_NEAR(s.sigma[c], reference.sigma[k][c], 1e-5 + 1e-3 * reference.sigma[k][c]);
        }
        Triple truth = metres(s.latitude, s.longitude, s.elevation, net.sites[k].latitude,
                              net.sites[k].longitude, net.sites[k].height);
        for (int c = 0; c < 3; ++c)
            if (s.sigma[c] > 0) EXPECT_LT(std::fabs(truth[c]), 3 * s.sigma[c] + 1e-4);
    }
    double chi, lower, upper;
    ASSERT_TRUE(adjusted.getChiSquareTest(chi, lower, upper));
    EXPECT_NEAR(chi, reference.chiSquare, 1e-3 * reference.chiSquare + 1e-6);
    std::int32_t obs, unknowns, dof, iterations;
    ASSERT_TRUE(adjusted.getAdjustmentCounts(obs, unknowns, dof, iterations));
    EXPECT_EQ(obs, reference.observations);
    EXPECT_EQ(unknowns, reference.unknowns);
    EXPECT_EQ(iterations, 1);
}

}  // namespace
}  // namespace torvek::testing
