// The job sequence around the adjustment, end to end: the closing parameter report, the input
// that is never changed, the refusal of one file named twice, aborts between the stages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "dataset/adjusted_data_set.h"
#include "geodesy/datum_bias.h"
#include "support/network_run.h"
#include "support/report_markers.h"

namespace torvek::testing {
namespace {

std::string format(const char* pattern, double a, double b = 0) {
    char text[256];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

class JobSequence : public NetworkRun {
  protected:
    // The closing report as the front end sees it, from its first line to the end.
    static std::string closingReport(const RunResult& result) {
        std::string styled = result.styledReport();
        std::size_t at = styled.find(inStyle(style::kHeading, "Reference Ellipsoid Parameters"));
        return at == std::string::npos ? std::string() : styled.substr(at);
    }
};

TEST_F(JobSequence, MinimallyConstrainedRunPrintsEveryLineAsFixedWithAprioriValues) {
    SyntheticNetwork net = ringNetwork(5, 48.1, 11.6, 1500);
    fixSite(net.sites[0]);
    const double apriori[8] = {1.5, 0, -0.75, 0, 0.25, 0, 2.0, 0};
    std::copy(apriori, apriori + 8, net.biasApriori);
    net.simulate(9);
    RunResult result = run(net);
    ASSERT_EQ(adjusted.adjustmentSucceeded(), 1) << result.reportText();
    const BiasValues bias = biasReportValues(adjusted.biasResultBlock());
    const std::string expected =
        inStyle(style::kHeading, "Reference Ellipsoid Parameters\n ") +
        inStyle(style::kIndented, "Equatorial radius (semi-major axis): 6378137.000\n ") +
        inStyle(style::kIndented, "Reciprocal of flattening: 298.257223563\n ") +
        inStyle(style::kHeading, "\n Adjusted Datum Bias Parameters\n ") +
        inStyle(style::kSubheading, "Bias Parameters In Geocentric Cartesian System\n ") +
        inStyle(style::kIndented, "Rotation angle (seconds)   Value    Sigma\n ") +
        marker(style::kIndented) + format("  X                      %7.3f    fixed\n ", bias[6]) +
        marker(style::kIndented) + format("  Y                      %7.3f    fixed\n ", bias[8]) +
        marker(style::kIndented) + format("  Z                      %7.3f    fixed\n ", bias[10]) +
        inStyle(style::kIndented, "Scale correction (ppm)     2.000    fixed\n ") +
        inStyle(style::kSubheading, "Bias Parameters In Mapping Plane Horizontal System\n ") +
        inStyle(style::kIndented, "Rotation angle (seconds)   Value    Sigma\n ") +
        inStyle(style::kIndented, "  Northing                 1.500    fixed\n ") +
        inStyle(style::kIndented, "  Easting                 -0.750    fixed\n ") +
        inStyle(style::kIndented, "  Height                   0.250    fixed\n ") +
        inStyle(style::kIndented, "Scale correction (ppm)     2.000    fixed\n ") + "\n " +
        marker(style::kBody);
    EXPECT_EQ(closingReport(result), expected);
    // The held rotations were applied: the adjusted values are the a-priori ones (0.0001 added).
    EXPECT_NEAR(bias[0], 1.5 + 0.0001, 1e-3);
    EXPECT_NEAR(bias[2], -0.75 + 0.0001, 1e-3);
}

TEST_F(JobSequence, AllRotationsFixedWithFreeScalePrintsScaleValueAndSigma) {
    SyntheticNetwork net = ringNetwork(9, -41.3, 174.8, 3000);
    for (int k : {0, 3, 6})
        fixSite(net.sites[k]);
    const double apriori[8] = {0.2, 0.001, 0.1, 0.001, -0.3, 0.001, 0, 0};
    std::copy(apriori, apriori + 8, net.biasApriori);
    net.simulate(12);
    RunResult result = run(net);
    ASSERT_EQ(adjusted.adjustmentSucceeded(), 1) << result.reportText();
    const BiasValues bias = biasReportValues(adjusted.biasResultBlock());
    const std::string report = closingReport(result);
    EXPECT_NE(report.find(marker(style::kIndented) +
                          format("  X                      %7.3f    fixed\n ", bias[6])),
              std::string::npos)
        << report;
    EXPECT_NE(
        report.find(inStyle(style::kIndented, "  Northing                 0.200    fixed\n ")),
        std::string::npos);
    EXPECT_NE(
        report.find(inStyle(style::kIndented, "  Height                  -0.300    fixed\n ")),
        std::string::npos);
    const std::string scale =
        marker(style::kIndented) +
        format("Scale correction (ppm)   %7.3f  %7.3f\n ", bias[12], bias[13]);
    std::size_t first = report.find(scale);
    ASSERT_NE(first, std::string::npos) << report;
    EXPECT_NE(report.find(scale, first + 1), std::string::npos);  // in both tables
    EXPECT_NE(bias[13], 0.0);
}

TEST_F(JobSequence, OneFileNamedTwiceIsRefusedBeforeAnyFileIsTouched) {
    SyntheticNetwork net = ringNetwork(4, 10, 10, 1000);
    fixSite(net.sites[0]);
    net.simulate(1);
    net.writeTo(input);
    const std::string bytes = readFileBytes(input);
    ASSERT_EQ(::link(input.c_str(), (dir + "/hard.dat").c_str()), 0);
    ASSERT_EQ(::symlink(input.c_str(), (dir + "/soft.dat").c_str()), 0);
    for (const std::string& second :
         {input, dir + "/./in.dat", dir + "/x/../in.dat", dir + "/hard.dat", dir + "/soft.dat"}) {
        RunResult result = runTorvek({input, second});
        EXPECT_EQ(result.exitCode, 1) << second;
        EXPECT_EQ(readFileBytes(input), bytes) << second;
        EXPECT_NE(result.styledReport().find(inStyle(
                      style::kError, "Error: The input and the output data set are the same file")),
                  std::string::npos)
            << second;
        EXPECT_EQ(result.stages(), std::vector<int>{0});
        EXPECT_EQ(result.frames.back().message, link::Message::kExitNotice);
    }
}

TEST_F(JobSequence, AbortBeforeTheAdjustmentSkipsTrailerButNotTheClosingReport) {
    SyntheticNetwork net = ringNetwork(4, 10, 10, 1000);
    fixSite(net.sites[0]);
    net.simulate(1);
    FrontEndScript script;
    script.abortAtStages = {29};
    RunResult result = run(net, script);
    const std::string styled = result.styledReport();
    std::size_t aborted =
        styled.find(inStyle(style::kAbortNotice, "Adjustment aborted by user\n ") +
                    inStyle(style::kHeading, "Reference"));
    EXPECT_NE(aborted, std::string::npos) << styled;
    EXPECT_EQ(result.stages(), (std::vector<int>{0, 13, 26, 29}));
    EXPECT_EQ(adjusted.adjustmentSucceeded(), 0);
    EXPECT_FALSE(fileExists(dir + "/torvek.tmp"));
}

TEST_F(JobSequence, AbortAtStageZeroLeavesAnEmptyOutputDataSet) {
    SyntheticNetwork net = ringNetwork(4, 10, 10, 1000);
    fixSite(net.sites[0]);
    net.simulate(1);
    testing::writeFileBytes(output, "previous content");
    FrontEndScript script;
    script.abortAtStages = {0};
    run(net, script);
    EXPECT_EQ(readFileBytes(output).size(), 340u);
}

}  // namespace
}  // namespace torvek::testing
