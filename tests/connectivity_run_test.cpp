// Whole runs on a disconnected network: the warning box answered through the progress endpoint
// and on the console, and what each answer leaves in the report and the output data set.
#include <gtest/gtest.h>

#include <string>

#include "dataset/adjusted_data_set.h"
#include "support/report_markers.h"
#include "support/synthetic_network.h"
#include "support/temp_directory.h"
#include "support/test_front_end.h"

namespace torvek::testing {
namespace {

const char* const kWarningText =
    "The network connectivity test fails.\nOnly one of the subnetworks will be adjusted.\n"
    "Do you want to continue with the adjustment?";
const char* const kWarningCaption = "The network connectivity test";
const std::string kRefusalLine =
    inStyle(style::kHeading, "\nAdjustment aborted due to Network connectivity test failure.\n ") +
    marker(style::kBody);

// A ring of six sites held at its first site, and, far from it, two free sites joined by one
// vector that comes first in the data set, so the ring is group 2.
SyntheticNetwork ringWithFarPair() {
    SyntheticNetwork net = ringNetwork(6, 47.5, 8.5, 2500);
    net.sites[0].fixed[0] = net.sites[0].fixed[1] = net.sites[0].fixed[2] = true;
    for (const char* name : {"FARA", "FARB"}) {
        SyntheticSite far = net.sites[3];
        far.name = name;
        far.latitude += name[3] == 'A' ? 0.5 : 0.52;
        net.sites.push_back(far);
    }
    SyntheticVector farVector;
    farVector.from = 6;
    farVector.to = 7;
    net.vectors.insert(net.vectors.begin(), farVector);
    net.simulate(11);
    return net;
}

class ConnectivityRun : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = folder.path();
        input = dir + "/in.dat";
        output = dir + "/out.dat";
        net = ringWithFarPair();
        net.writeTo(input);
    }
    RunResult run(const FrontEndScript& script) {
        RunResult result = runTorvek({input, output}, script);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_TRUE(adjusted.readFile(output));
        return result;
    }
    // In-use flag and fixes of a site of the output data set, "1 111".
    std::string siteFlags(const char* name) {
        if (!adjusted.seekSite(name))
            return "missing";
        std::uint8_t lat = 0, lon = 0, elev = 0;
        adjusted.getSiteFixed(lat, lon, elev);
        return std::to_string(adjusted.siteInUse()) + " " + std::to_string(lat) +
               std::to_string(lon) + std::to_string(elev);
    }
    std::string vectorFlags() {
        std::string out;
        for (const VectorRecord& v : adjusted.vectors())
            out += std::to_string(v.inUse);
        return out;
    }

    TempDirectory folder;
    std::string dir, input, output;
    SyntheticNetwork net;
    AdjustedDataSet adjusted;
};

TEST_F(ConnectivityRun, OkOnTheProgressWindowAdjustsTheRingAlone) {
    FrontEndScript script;
    script.messageBoxButton = 1;
    RunResult result = run(script);

    ASSERT_EQ(result.countMessage(link::Message::kWarningBox), 1);
    for (const Frame& frame : result.frames) {
        if (frame.message != link::Message::kWarningBox)
            continue;
        EXPECT_EQ(frame.endpoint, Endpoint::kProgress);
        EXPECT_EQ(frame.wParam, 0x31u);
        EXPECT_EQ(frame.boxText, kWarningText);
        EXPECT_EQ(frame.boxCaption, kWarningCaption);
    }
    const std::string report = result.styledReport();
    EXPECT_NE(report.find(inStyle(style::kFailed, "failed\n ")), std::string::npos);
    EXPECT_NE(report.find(std::string("Group #1\n ") + inStyle(style::kSubheading, "Sites:  ") +
                          inStyle(style::kBody, "FARA  FARB  ")),
              std::string::npos);
    EXPECT_NE(report.find(inStyle(style::kBody, "Group #2 has been selected\n ")),
              std::string::npos);
    EXPECT_NE(report.find("S001                Latitude  Longitude Elevation \n "),
              std::string::npos);
    EXPECT_EQ(report.find(kRefusalLine), std::string::npos);
    EXPECT_NE(report.find("Reference Ellipsoid Parameters"), std::string::npos);
    const std::vector<int> stages = result.stages();
    ASSERT_GE(stages.size(), 4u);
    EXPECT_EQ(std::vector<int>(stages.begin(), stages.begin() + 4),
              (std::vector<int>{0, 13, 26, 29}));
    EXPECT_EQ(stages.back(), 100);

    EXPECT_EQ(adjusted.adjustmentSucceeded(), 1) << result.reportText();
    EXPECT_EQ(siteFlags("S001"), "1 111");
    EXPECT_EQ(siteFlags("S004"), "1 000");
    EXPECT_EQ(siteFlags("FARA"), "0 000");
    EXPECT_EQ(siteFlags("FARB"), "0 000");
    EXPECT_EQ(vectorFlags(), "0" + std::string(12, '1'));
}

TEST_F(ConnectivityRun, CancelOnTheProgressWindowEndsWithTheRefusalLineOnly) {
    FrontEndScript script;
    script.messageBoxButton = 2;
    RunResult result = run(script);

    EXPECT_EQ(result.countMessage(link::Message::kWarningBox), 1);
    const std::string report = result.styledReport();
    const std::string tail = inStyle(style::kBody, "Group #2 has been selected\n ") + kRefusalLine;
    ASSERT_GE(report.size(), tail.size());
    EXPECT_EQ(report.substr(report.size() - tail.size()), tail);
    EXPECT_EQ(report.find("Reference Ellipsoid Parameters"), std::string::npos);
    EXPECT_EQ(result.stages(), (std::vector<int>{0, 13}));
    // Nothing was decided: the output data set keeps the flags of the input file.
    EXPECT_EQ(adjusted.adjustmentSucceeded(), 0);
    EXPECT_EQ(siteFlags("FARA"), "1 000");
    EXPECT_EQ(vectorFlags(), std::string(13, '1'));
}

TEST_F(ConnectivityRun, WithoutEndpointsTheConsoleAsksAndAnEmptyLineMeansOk) {
    FrontEndScript script;
    script.giveEndpoints = false;
    script.standardInput = "\n";
    RunResult result = run(script);

    EXPECT_TRUE(result.frames.empty());
    EXPECT_NE(result.standardError.find(kWarningCaption), std::string::npos);
    EXPECT_NE(result.standardError.find(kWarningText), std::string::npos);
    EXPECT_EQ(adjusted.adjustmentSucceeded(), 1);
    EXPECT_EQ(siteFlags("FARA"), "0 000");
    EXPECT_EQ(siteFlags("S002"), "1 000");
}

TEST_F(ConnectivityRun, WithoutEndpointsCancelOnTheConsoleRefuses) {
    FrontEndScript script;
    script.giveEndpoints = false;
    script.standardInput = "cancel\n";
    RunResult result = run(script);

    EXPECT_NE(result.standardError.find(kWarningText), std::string::npos);
    EXPECT_EQ(adjusted.adjustmentSucceeded(), 0);
    EXPECT_EQ(siteFlags("FARA"), "1 000");
    EXPECT_EQ(vectorFlags(), std::string(13, '1'));
}

}  // namespace
}  // namespace torvek::testing
