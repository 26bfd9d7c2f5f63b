// Whole runs on networks whose truth is known: the program's adjusted coordinates against the truth
// and against an independent double-precision solution of the same model.
#include <gtest/gtest.h>

#include <cmath>

#include "dataset/adjusted_data_set.h"
#include "support/network_run.h"

namespace torvek::testing {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

struct SiteOutcome {
    double latitude, longitude, elevation, sigma[3];
    int inUse;
};

class SyntheticAdjustment : public NetworkRun {
  protected:
    SiteOutcome site(const std::string& name) {
        EXPECT_TRUE(adjusted.seekSite(name.c_str())) << name;
        AdjustedSite stored;
        const int inUse = adjusted.getAdjustedSite(stored);
        return {stored.latitude,
                stored.longitude,
                stored.elevation,
                {stored.latitudeSigma, stored.longitudeSigma, stored.elevationSigma},
                inUse};
    }
    // Differences in metres along north, east and up between two geodetic positions.
    static Triple metres(double lat1, double lon1, double h1, double lat2, double lon2, double h2) {
        return {(lat1 - lat2) * kDegree * 6371000.0,
                (lon1 - lon2) * kDegree * 6371000.0 * std::cos(lat1 * kDegree), h1 - h2};
    }
    ReferenceSolution compareWithReference(const SyntheticNetwork& net, const double biasSigma[4],
                                           int expectedIterations);
};

TEST_F(SyntheticAdjustment, MinimallyConstrainedRingMatchesIndependentSolution) {
    SyntheticNetwork net = ringNetwork(8, 47.5, 8.5, 3000);
    fixSite(net.sites[0]);
    for (std::size_t k = 1; k < net.sites.size(); ++k)
        net.sites[k].startOffset = {0.05, -0.03, 0.02};
    net.simulate(7);
    RunResult result = run(net);
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_NE(result.reportText().find("Minimally constrained"), std::string::npos)
        << result.reportText();
    // A minimally constrained run holds all four bias parameters at their a-priori values.
    const double biasSigma[4] = {0.001, 0.001, 0.001, 0.001};
    compareWithReference(net, biasSigma, 1);
}

TEST_F(SyntheticAdjustment, OverConstrainedWithGeoidHeightsEstimatesTheBiasParameters) {
    SyntheticNetwork net = ringNetwork(12, -23.5, -46.6, 4000);
    for (int k : {0, 4, 8})
        fixSite(net.sites[k]);
    for (std::size_t k = 0; k < net.sites.size(); ++k) {
        net.sites[k].geoidHeight = -5.0 + 0.3 * double(k);
        if (k % 4 != 0)
            net.sites[k].startOffset = {-0.03, 0.06, 0.04};
    }
    net.simulate(21);
    run(net);
    // Three horizontal and three vertical controls: every bias parameter stays free.
    const double biasSigma[4] = {0, 0, 0, 0};
    ReferenceSolution reference = compareWithReference(net, biasSigma, 2);
    double stored[14] = {};
    const ProjectDataSet& raw = adjusted;
    ASSERT_FALSE(raw.adjustmentRecords().empty());
    for (int k = 0; k < 4; ++k) {
        const double value = raw.adjustmentRecords().back().biasResults[2 * k] - 0.0001;
        EXPECT_NEAR(value, reference.bias[k], 1e-3 + 1e-3 * std::fabs(reference.bias[k])) << k;
    }
    (void)stored;
}

TEST_F(SyntheticAdjustment, WeightedControlAndCovariancesMatchIndependentSolution) {
    SyntheticNetwork net = ringNetwork(10, 60.2, 24.9, 2500);
    fixSite(net.sites[0]);
    net.sites[5].fixed[2] = true;  // a fourth fix: over-constrained
    for (int k : {3, 7}) {
        net.sites[k].sigma[0] = net.sites[k].sigma[1] = 0.01;
        net.sites[k].sigma[2] = 0.02;
    }
    for (std::size_t k = 1; k < net.sites.size(); ++k)
        net.sites[k].startOffset = {0.02, 0.01, -0.03};
    // Long-session vectors whose Cartesian covariances exceed 1 m^2: stored as covariances.
    for (std::size_t v = 0; v < net.vectors.size(); v += 3) {
        net.vectors[v].localSigma = {2.0, 2.5, 3.0};
        net.vectors[v].covarianceForm = true;
    }
    net.vectors[1].weightDivisor = 4;
    net.simulate(33);
    ProjectDataSet written = net.toDataSet();
    ASSERT_TRUE(written.firstVector());
    const VectorRecord& first = *written.currentVector();
    EXPECT_GT(std::max({std::fabs(first.correlationXY), std::fabs(first.correlationXZ),
                        std::fabs(first.correlationYZ)}),
              1.0);
    run(net);
    const double biasSigma[4] = {0, 0, 0, 0};  // three horizontal and four vertical controls
    compareWithReference(net, biasSigma, 2);
}

TEST_F(SyntheticAdjustment, ChiSquareOverDegreesOfFreedomIsNearOne) {
    SyntheticNetwork net = ringNetwork(30, 35.7, 139.7, 8000);
    fixSite(net.sites[0]);
    net.simulate(101);
    RunResult result = run(net);
    ASSERT_EQ(adjusted.adjustmentSucceeded(), 1);
    double chi, lower, upper;
    ASSERT_TRUE(adjusted.getChiSquareTest(chi, lower, upper));
    AdjustmentCounts counts;
    ASSERT_TRUE(adjusted.getAdjustmentCounts(counts));
    const int dof = counts.degreesOfFreedom;
    EXPECT_EQ(dof, 60 * 3 + 4 - (29 * 3 + 4));
    EXPECT_GT(chi / dof, 0.6);
    EXPECT_LT(chi / dof, 1.45);
    EXPECT_NE(result.reportText().find("Chi-square test:  passed"), std::string::npos);
}

ReferenceSolution SyntheticAdjustment::compareWithReference(const SyntheticNetwork& net,
                                                            const double biasSigma[4],
                                                            int expectedIterations) {
    EXPECT_EQ(adjusted.adjustmentSucceeded(), 1);
    ReferenceSolution reference = solveReference(net, biasSigma);
    for (std::size_t k = 0; k < net.sites.size(); ++k) {
        SiteOutcome s = site(net.sites[k].name);
        EXPECT_EQ(s.inUse, 1);
        Triple d =
            metres(s.latitude, s.longitude, s.elevation + net.sites[k].geoidHeight,
                   reference.position[k][0], reference.position[k][1], reference.position[k][2]);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(d[c], 0.0, 1e-4) << net.sites[k].name << " component " << c;
            EXPECT_NEAR(s.sigma[c], reference.sigma[k][c], 1e-5 + 1e-3 * reference.sigma[k][c]);
        }
        Triple truth = metres(s.latitude, s.longitude, s.elevation + net.sites[k].geoidHeight,
                              net.sites[k].latitude, net.sites[k].longitude, net.sites[k].height);
        for (int c = 0; c < 3; ++c) {
            if (s.sigma[c] > 0) {
                EXPECT_LT(std::fabs(truth[c]), 3 * s.sigma[c] + 1e-4);
            }
        }
    }
    double chi = 0, lower = 0, upper = 0;
    EXPECT_TRUE(adjusted.getChiSquareTest(chi, lower, upper));
    EXPECT_NEAR(chi, reference.chiSquare, 1e-3 * reference.chiSquare + 1e-6);
    AdjustmentCounts counts;
    EXPECT_TRUE(adjusted.getAdjustmentCounts(counts));
    EXPECT_EQ(counts.observationCount, reference.observations);
    EXPECT_EQ(counts.unknownCount, reference.unknowns);
    EXPECT_EQ(counts.iterationCount, expectedIterations);
    return reference;
}

}  // namespace
}  // namespace torvek::testing
