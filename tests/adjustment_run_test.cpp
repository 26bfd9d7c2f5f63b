// Whole runs through the test front end: poll sequences, aborts inside the adjustment, the retry
// after a singular system, degrees of freedom at their limits, and stored residuals.
#include <gtest/gtest.h>

#include <cmath>

#include "dataset/adjusted_data_set.h"
#include "support/network_run.h"
#include "support/report_markers.h"

namespace torvek::testing {
namespace {

class AdjustmentRun : public NetworkRun {
  protected:
    static SyntheticNetwork minimalRing() {
        SyntheticNetwork net = ringNetwork(6, 52.0, 5.0, 2000);
        fixSite(net.sites[0]);
        for (std::size_t k = 1; k < net.sites.size(); ++k)
            net.sites[k].startOffset = {0.04, 0.02, -0.05};
        net.simulate(3);
        return net;
    }
    static SyntheticNetwork overConstrainedRing() {
        SyntheticNetwork net = ringNetwork(9, 52.0, 5.0, 2000);
        fixSite(net.sites[0]);
        fixSite(net.sites[3]);
        fixSite(net.sites[6]);
        for (std::size_t k = 1; k < net.sites.size(); ++k)
            if (k % 3 != 0)
                net.sites[k].startOffset = {0.04, 0.02, -0.05};
        net.simulate(5);
        return net;
    }
};

TEST_F(AdjustmentRun, PollSequencesOfMinimallyAndOverConstrainedRuns) {
    RunResult minimal = run(minimalRing());
    EXPECT_EQ(minimal.stages(),
              (std::vector<int>{0, 13, 26, 29, 32, 36, 42, 49, 52, 56, 58, 86, 100}));
    EXPECT_EQ(adjusted.adjustmentSucceeded(), 1);
    EXPECT_EQ(minimal.frames.back().message, link::Message::kExitNotice);
    AdjustmentCounts counts;
    ASSERT_TRUE(adjusted.getAdjustmentCounts(counts));
    EXPECT_EQ(counts.iterationCount, 1);

    RunResult over = run(overConstrainedRing());
    EXPECT_EQ(over.stages(), (std::vector<int>{0, 13, 26, 29, 32, 36, 42, 49, 52, 56, 58, 49, 52,
                                               56, 58, 86, 100}));
    ASSERT_TRUE(adjusted.getAdjustmentCounts(counts));
    EXPECT_EQ(counts.iterationCount, 2);
    EXPECT_NE(over.reportText().find("Adjustment type:    Over constrained"), std::string::npos);
    EXPECT_EQ(over.countMessage(link::Message::kExitNotice), 1);
}

TEST_F(AdjustmentRun, AbortInTheSecondIterationKeepsTheFirstCorrections) {
    FrontEndScript script;
    script.abortAtOccurrence = {{49, 2}};
    SyntheticNetwork net = overConstrainedRing();
    RunResult result = run(net, script);
    const std::string styled = result.styledReport();
    const std::string expected = inStyle(style::kAbortNotice, "Adjustment aborted by user\n ") +
                                 inStyle(style::kError, "Error: Adjustment was not sucessful\n ");
    EXPECT_NE(styled.find(expected), std::string::npos) << styled;
    EXPECT_EQ(styled.find("Try to resolve"), std::string::npos);
    EXPECT_NE(styled.find("Reference Ellipsoid Parameters"), std::string::npos);  // closing report
    EXPECT_EQ(adjusted.adjustmentSucceeded(), 0);
    ASSERT_TRUE(adjusted.seekSite("S002"));
    double n, e, u;
    ASSERT_TRUE(adjusted.getSiteCorrections(n, e, u));
    // The first iteration corrected the start offsets (0.04, 0.02, -0.05) of this free site.
    EXPECT_NEAR(n, -0.04, 0.02);
    EXPECT_NEAR(e, -0.02, 0.02);
    EXPECT_NEAR(u, 0.05, 0.03);
    // The scratch copy of the input follows a failed first attempt.
    EXPECT_EQ(readFileBytes(dir + "/torvek.tmp"), readFileBytes(input));
    EXPECT_EQ(result.stages().back(), 49);
}

TEST_F(AdjustmentRun, ZeroDegreesOfFreedomAdjustsWithNeutralStatistics) {
    SyntheticNetwork net = ringNetwork(2, 45.0, 10.0, 1500);
    net.vectors.resize(1);  // one vector between the two sites
    fixSite(net.sites[0]);
    net.simulate(1);
    RunResult result = run(net);
    ASSERT_EQ(adjusted.adjustmentSucceeded(), 1) << result.reportText();
    AdjustmentCounts counts;
    ASSERT_TRUE(adjusted.getAdjustmentCounts(counts));
    EXPECT_EQ(counts.observationCount, 7);  // three vector equations and the four held biases
    EXPECT_EQ(counts.unknownCount, 7);
    EXPECT_EQ(counts.degreesOfFreedom, 0);
    double chi, lower, upper;
    ASSERT_TRUE(adjusted.getChiSquareTest(chi, lower, upper));
    EXPECT_EQ(lower, 1.0);
    EXPECT_EQ(upper, 1.0);
    EXPECT_EQ(adjusted.unitWeightStandardError(), 1.0);
    EXPECT_EQ(adjusted.tauCriticalValue(), 0.0);
    EXPECT_NE(result.reportText().find("degrees of freedom 0\n"), std::string::npos);
}

TEST_F(AdjustmentRun, SiteWithoutEquationsIsRetriedWithBiasConstraints) {
    SyntheticNetwork net = duplicateNameNetwork();
    RunResult result = run(net);
    const std::string styled = result.styledReport();
    EXPECT_NE(styled.find("( site S003)"), std::string::npos) << styled;
    EXPECT_NE(styled.find(inStyle(style::kIndented, "Try to resolve matrix singularity\n ")),
              std::string::npos)
        << styled;
    EXPECT_NE(styled.find(inStyle(style::kError, "Error: Adjustment was not sucessful\n ")),
              std::string::npos);
    EXPECT_EQ(adjusted.adjustmentSucceeded(), 0);
    // The retry sends the adjustment's polls again from 32 on.
    std::vector<int> stages = result.stages();
    EXPECT_EQ(std::count(stages.begin(), stages.end(), 32), 2);
}

TEST_F(AdjustmentRun, UndeterminableBiasParametersFailWithoutRetry) {
    // Every vector has zero length, so the free rotations and scale appear in no equation.
    const SyntheticNetwork net = zeroLengthNetwork();
    RunResult result = run(net);
    const std::string styled = result.styledReport();
    EXPECT_NE(styled.find(inStyle(style::kError, "Error: There is no equation for unknown   4\n ") +
                          marker(style::kBody)),
              std::string::npos)
        << styled;
    EXPECT_EQ(styled.find("( site"), std::string::npos);
    EXPECT_EQ(styled.find("Try to resolve"), std::string::npos);
    EXPECT_NE(styled.find(inStyle(style::kError, "Error: Adjustment was not sucessful\n ")),
              std::string::npos);
    EXPECT_EQ(adjusted.adjustmentSucceeded(), 0);
}

TEST_F(AdjustmentRun, StoredResidualsAreObservedMinusAdjustedVectors) {
    SyntheticNetwork net = minimalRing();
    RunResult result = run(net);
    ASSERT_EQ(adjusted.adjustmentSucceeded(), 1);
    int checked = 0;
    for (bool more = adjusted.firstVector(); more; more = adjusted.nextVector()) {
        AdjustedVector adjustedVector;
        double results[12];
        ASSERT_EQ(adjusted.getAdjustedVector(adjustedVector), 1);
        ASSERT_TRUE(adjusted.getVectorTestResults(results));
        VectorComponents observed;
        ASSERT_TRUE(adjusted.getVectorComponents(observed));
        const double d[3] = {adjustedVector.deltaX, adjustedVector.deltaY, adjustedVector.deltaZ};
        const double o[3] = {observed.deltaX, observed.deltaY, observed.deltaZ};
        for (int c = 0; c < 3; ++c) {
            double residual = d[c] - o[c];
            EXPECT_NEAR(results[c], std::fabs(residual) < 1e-6 ? 0.0 : residual, 2e-6);
        }
        ComponentPrecision local;
        ASSERT_TRUE(adjusted.getAdjustedLocalSigmas(local));
        EXPECT_GT(local.sigma[0], 0.0);
        ++checked;
    }
    EXPECT_EQ(checked, int(net.vectors.size()));
}

}  // namespace
}  // namespace torvek::testing
