// The connectivity test on data sets built in memory, with the report and the polls served by an
// in-process front end. Report texts are compared piece by piece with their styles.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>

#include "app/connectivity_check.h"
#include "support/in_process_front_end.h"
#include "support/report_markers.h"

namespace torvek {
namespace {

using testing::InProcessFrontEnd;
using testing::inStyle;
using testing::marker;

struct SiteDefinition {
    const char* name;
    std::uint8_t latitudeFixed = 0, longitudeFixed = 0, elevationFixed = 0;
    std::uint8_t inUse = 1;
};

struct BaselineDefinition {
    const char* from;
    const char* to;
    std::uint8_t inUse = 1;
};

// The flags of a data set in one line: "NAME inUse lat lon elev" per site, then the vectors'
// in-use flags.
std::string flagsOf(const ProjectDataSet& dataSet) {
    std::string out;
    for (const SiteRecord& site : dataSet.sites()) {
        out += site.name.toString() + " " + std::to_string(site.inUse) + " " +
               std::to_string(site.latitudeFixed) + std::to_string(site.longitudeFixed) +
               std::to_string(site.elevationFixed) + "|";
    }
    out += "v";
    for (const VectorRecord& vector : dataSet.vectors())
        out += " " + std::to_string(vector.inUse);
    return out;
}

// Report pieces that recur. Every print carries its appended blank.
const std::string kPlain = marker(style::kBody);
const std::string kPassed = inStyle(style::kHeading, "\nNetwork connectivity test:  ") +
                            inStyle(style::kPassed, "passed\n ") + kPlain;
const std::string kFailed = inStyle(style::kHeading, "\nNetwork connectivity test:  ") +
                            inStyle(style::kFailed, "failed\n ") + kPlain;
const std::string kMinimal =
    inStyle(style::kHeading, "\nAdjustment type:    Minimally constrained\n ") + kPlain +
    "Control sites    Constraints \n ";
const std::string kOver = inStyle(style::kHeading, "\nAdjustment type:    Over constrained\n ") +
                          kPlain + "Control sites    Constraints \n ";
const std::string kLackOfRedundancy =
    inStyle(style::kErrorHeading,
            "\nNo adjustment could be performed due to lack of redundancy.\n ") +
    kPlain + "\n ";
const std::string kAborted = inStyle(style::kAbortNotice, "Adjustment aborted by user\n ");
const std::string kBlank9 = "         ";
// The closing line feeds of the control listing and of the group report.
const std::string kListingEnd = kPlain + "\n " + kPlain + "\n ";

// One line of the control listing: the name, 16 blanks, then three nine-column words.
std::string controlLine(const std::string& name, bool latitude, bool longitude, bool elevation) {
    return kPlain + name + std::string(16, ' ') + (latitude ? "Latitude " : kBlank9) + " " +
           (longitude ? "Longitude" : kBlank9) + " " + (elevation ? "Elevation" : kBlank9) + " \n ";
}

std::string counts(int sites, int vectors) {
    return "Number of sites: " + std::to_string(sites) +
           "\n Number of vectors: " + std::to_string(vectors) + "\n ";
}

std::string groupReport(int group, std::initializer_list<const char*> sites,
                        std::initializer_list<const char*> vectors) {
    std::string out = kPlain + "Group #" + std::to_string(group) + "\n " +
                      inStyle(style::kSubheading, "Sites:  ") + kPlain;
    for (const char* site : sites)
        out += std::string(site) + "  ";
    out += kPlain + "\n " + inStyle(style::kSubheading, "Vectors:  ") + kPlain;
    for (const char* vector : vectors)
        out += std::string(vector) + "  ";
    out += kPlain + "\n " + counts(int(sites.size()), int(vectors.size()));
    return out;
}

class Connectivity : public ::testing::Test {
  protected:
    void build(std::initializer_list<SiteDefinition> sites, std::initializer_list<BaselineDefinition> vectors,
               std::uint8_t minimallyConstrained = 0) {
        for (const SiteDefinition& site : sites) {
            ASSERT_TRUE(input.addSite(site.name));
            input.setSiteFixed(site.latitudeFixed, site.longitudeFixed, site.elevationFixed);
            input.setSiteInUse(site.inUse);
        }
        for (const BaselineDefinition& vector : vectors) {
            ASSERT_TRUE(input.addVector(vector.from, vector.to));
            input.setVectorInUse(vector.inUse);
        }
        input.setAdjustmentSettings({minimallyConstrained, 99.0, 1.5});
        // The output starts as a copy of the input file, as in a run.
        ASSERT_TRUE(output.readImage(input.writeImage()));
    }

    ConnectivityResult check(bool reportGroups = true) {
        frontEnd.clearFrames();
        return checkConnectivity(input, output, frontEnd.report(), frontEnd.progress(),
                                 reportGroups);
    }

    std::uint8_t inputMinimallyConstrained() const {
        return input.adjustmentSettings().minimallyConstrained;
    }

    InProcessFrontEnd frontEnd;
    ProjectDataSet input;
    AdjustedDataSet output;
};

TEST_F(Connectivity, OneConnectedNetworkPassesWithCountsAndControlListing) {
    build({{"AAAA", 1, 1, 1}, {"BBBB"}, {"CCCC"}},
          {{"AAAA", "BBBB"}, {"BBBB", "CCCC"}, {"CCCC", "AAAA"}});
    const std::string before = flagsOf(input);
    ConnectivityResult result = check();

    EXPECT_TRUE(result.proceed);
    EXPECT_TRUE(result.accepted);
    EXPECT_TRUE(result.typeDecided);
    EXPECT_TRUE(result.minimallyConstrained);
    EXPECT_FALSE(result.overConstrained);
    EXPECT_DOUBLE_EQ(result.confidenceLevel, 99.0);
    EXPECT_DOUBLE_EQ(result.vectorSigmaScale, 1.5);
    EXPECT_EQ(inputMinimallyConstrained(), 1);  // raised: three fixes give no redundancy
    EXPECT_EQ(frontEnd.styledReport(), kPassed + kPlain + counts(3, 3) + kPlain + "\n " + kMinimal +
                                           controlLine("AAAA", true, true, true) + kListingEnd);
    EXPECT_EQ(frontEnd.stages(), (std::vector<int>{13, 26}));
    EXPECT_TRUE(frontEnd.messageBoxes().empty());
    EXPECT_EQ(flagsOf(input), before);
    EXPECT_EQ(flagsOf(output), before);
}

TEST_F(Connectivity, OverConstrainedNetworkListsEveryControlSiteInItsColumns) {
    build({{"AAAA", 1, 1, 1}, {"BBBB", 0, 0, 1}, {"CCCC", 1, 1, 0}, {"DDDD"}},
          {{"AAAA", "BBBB"}, {"BBBB", "CCCC"}, {"CCCC", "DDDD"}});
    ConnectivityResult result = check(false);

    EXPECT_TRUE(result.proceed);
    EXPECT_FALSE(result.minimallyConstrained);
    EXPECT_TRUE(result.overConstrained);
    EXPECT_EQ(inputMinimallyConstrained(), 0);
    // Without the group report the closing line feed of the groups is left out.
    EXPECT_EQ(frontEnd.styledReport(), kPassed + kPlain + counts(4, 3) + kPlain + "\n " + kOver +
                                           controlLine("AAAA", true, true, true) +
                                           controlLine("BBBB", false, false, true) +
                                           controlLine("CCCC", true, true, false) + kPlain + "\n ");
    // The columns line up: each word starts at the same place on every line.
    EXPECT_EQ(controlLine("BBBB", false, false, true).find("Elevation"),
              controlLine("AAAA", true, true, true).find("Elevation"));
}

// Two parts: the first has no horizontal control, the second holds the fully fixed site.
class TwoParts : public Connectivity {
  protected:
    void SetUp() override {
        build({{"PONE", 0, 0, 1}, {"PTWO"}, {"FIXA", 1, 1, 1}, {"FIXB"}, {"LONE"}},
              {{"PONE", "PTWO"}, {"FIXA", "FIXB"}, {"FIXB", "FIXA"}});
    }
    const std::string decomposition = kFailed + kPlain + "Decomposition\n " +
                                      groupReport(1, {"PONE", "PTWO"}, {"PONE-PTWO"}) +
                                      groupReport(2, {"FIXA", "FIXB"}, {"FIXA-FIXB", "FIXB-FIXA"}) +
                                      kPlain + "Group #2 has been selected\n ";
};

TEST_F(TwoParts, OkAdjustsTheControlledPartAloneInBothDataSets) {
    ConnectivityResult result = check();

    EXPECT_TRUE(result.proceed);
    EXPECT_TRUE(result.accepted);
    EXPECT_TRUE(result.minimallyConstrained);
    EXPECT_EQ(frontEnd.styledReport(),
              decomposition + kMinimal + controlLine("FIXA", true, true, true) + kListingEnd);
    std::vector<testing::Frame> boxes = frontEnd.messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].endpoint, testing::Endpoint::kProgress);
    EXPECT_EQ(boxes[0].wParam, 0x31u);
    EXPECT_EQ(boxes[0].boxText,
              "The network connectivity test fails.\nOnly one of the subnetworks will be "
              "adjusted.\nDo you want to continue with the adjustment?");
    EXPECT_EQ(boxes[0].boxCaption, "The network connectivity test");
    EXPECT_EQ(frontEnd.stages(), (std::vector<int>{13, 26}));
    // The other part loses its use and its fixes; the site without vectors is out of use too.
    const std::string expected = "PONE 0 000|PTWO 0 000|FIXA 1 111|FIXB 1 000|LONE 0 000|v 0 1 1";
    EXPECT_EQ(flagsOf(input), expected);
    EXPECT_EQ(flagsOf(output), expected);
}

TEST_F(TwoParts, CancelEndsTheTestRefusedWithTheDataSetsUntouched) {
    frontEnd.setMessageBoxButton(2);
    const std::string before = flagsOf(input);
    ConnectivityResult result = check();

    EXPECT_FALSE(result.proceed);
    EXPECT_FALSE(result.accepted);
    EXPECT_FALSE(result.typeDecided);
    EXPECT_EQ(frontEnd.styledReport(), decomposition);
    EXPECT_EQ(frontEnd.messageBoxes().size(), 1u);
    EXPECT_EQ(frontEnd.stages(), (std::vector<int>{13}));
    EXPECT_EQ(flagsOf(input), before);
    EXPECT_EQ(flagsOf(output), before);
}

TEST_F(TwoParts, WithoutTheGroupReportTheWarningBoxStillAsks) {
    ConnectivityResult result = check(false);
    EXPECT_TRUE(result.proceed);
    EXPECT_EQ(frontEnd.styledReport(),
              kFailed + kMinimal + controlLine("FIXA", true, true, true) + kPlain + "\n ");
    EXPECT_EQ(frontEnd.messageBoxes().size(), 1u);
}

TEST_F(Connectivity, WithoutControlTheLargerPartIsChosenAndAnchoredAtItsFirstSite) {
    build({{"AAAA"}, {"BBBB"}, {"CCCC"}, {"DDDD"}, {"EEEE"}},
          {{"AAAA", "BBBB"}, {"EEEE", "DDDD"}, {"CCCC", "DDDD"}});
    ConnectivityResult result = check();

    EXPECT_TRUE(result.proceed);
    EXPECT_TRUE(result.minimallyConstrained);
    // Group 2 is C, D and E; its first site in table order, C, becomes the anchor.
    EXPECT_EQ(frontEnd.styledReport(),
              kFailed + kPlain + "Decomposition\n " +
                  groupReport(1, {"AAAA", "BBBB"}, {"AAAA-BBBB"}) +
                  groupReport(2, {"CCCC", "DDDD", "EEEE"}, {"EEEE-DDDD", "CCCC-DDDD"}) + kPlain +
                  "Group #2 has been selected\n " + kMinimal +
                  controlLine("CCCC", true, true, true) + kListingEnd);
    const std::string expected = "AAAA 0 000|BBBB 0 000|CCCC 1 111|DDDD 1 000|EEEE 1 000|v 0 1 1";
    EXPECT_EQ(flagsOf(input), expected);
    EXPECT_EQ(flagsOf(output), expected);
}

TEST_F(Connectivity, WithoutControlEqualPartsChooseTheFirstGroup) {
    build({{"AAAA"}, {"BBBB"}, {"CCCC"}, {"DDDD"}}, {{"CCCC", "DDDD"}, {"BBBB", "AAAA"}});
    ConnectivityResult result = check();

    EXPECT_TRUE(result.proceed);
    const std::string report = frontEnd.styledReport();
    EXPECT_NE(report.find("Group #1 has been selected\n "), std::string::npos);
    // Group 1 holds the earliest vector, C-D; C is its first site and takes the datum.
    EXPECT_NE(report.find(groupReport(1, {"CCCC", "DDDD"}, {"CCCC-DDDD"})), std::string::npos);
    EXPECT_NE(report.find(controlLine("CCCC", true, true, true)), std::string::npos);
    EXPECT_EQ(flagsOf(output), "AAAA 0 000|BBBB 0 000|CCCC 1 111|DDDD 1 000|v 1 0");
}

TEST_F(Connectivity, HalfAHorizontalFixIsCompletedAndNoAnchorFixIsAdded) {
    build({{"AAAA", 0, 0, 1}, {"BBBB", 0, 1, 0}, {"CCCC"}}, {{"AAAA", "BBBB"}, {"BBBB", "CCCC"}});
    ConnectivityResult result = check();

    EXPECT_TRUE(result.proceed);
    EXPECT_TRUE(result.minimallyConstrained);  // elevation, latitude and longitude: 3 fixes
    EXPECT_EQ(inputMinimallyConstrained(), 1);
    EXPECT_EQ(frontEnd.styledReport(), kPassed + kPlain + counts(3, 2) + kPlain + "\n " + kMinimal +
                                           controlLine("AAAA", false, false, true) +
                                           controlLine("BBBB", true, true, false) + kListingEnd);
    const std::string expected = "AAAA 1 001|BBBB 1 110|CCCC 1 000|v 1 1";
    EXPECT_EQ(flagsOf(input), expected);
    EXPECT_EQ(flagsOf(output), expected);
}

TEST_F(Connectivity, LargestFixSumBeatsMoreSitesAndAnchorsAtTheFirstFixedSite) {
    build({{"AAAA"}, {"BBBB"}, {"CCCC"}, {"DDDD"}, {"EEEE", 0, 0, 1}},
          {{"AAAA", "BBBB"}, {"BBBB", "CCCC"}, {"DDDD", "EEEE"}});
    ConnectivityResult result = check();

    EXPECT_TRUE(result.proceed);
    const std::string report = frontEnd.styledReport();
    EXPECT_NE(report.find("Group #2 has been selected\n "), std::string::npos);
    // E, not D (the group's first site), already has a fix: it gets the horizontal datum.
    EXPECT_NE(report.find(kMinimal + controlLine("EEEE", true, true, true) + kListingEnd),
              std::string::npos);
    EXPECT_EQ(flagsOf(output), "AAAA 0 000|BBBB 0 000|CCCC 0 000|DDDD 1 000|EEEE 1 111|v 0 0 1");
}

TEST_F(Connectivity, NoVectorInUseLacksRedundancy) {
    build({{"AAAA", 1, 1, 1}, {"BBBB"}}, {{"AAAA", "BBBB", 0}});
    const std::string before = flagsOf(input);
    ConnectivityResult result = check();

    EXPECT_FALSE(result.proceed);
    EXPECT_TRUE(result.accepted);
    EXPECT_FALSE(result.typeDecided);
    EXPECT_EQ(frontEnd.styledReport(), kLackOfRedundancy);
    EXPECT_EQ(frontEnd.stages(), (std::vector<int>{13}));
    EXPECT_EQ(flagsOf(input), before);
    EXPECT_EQ(flagsOf(output), before);
}

TEST_F(Connectivity, VectorsTouchingSitesOutOfUseOrMissingLackRedundancy) {
    build({{"AAAA", 1, 1, 1}, {"BBBB", 0, 0, 0, 0}}, {{"AAAA", "BBBB"}, {"AAAA", "ZZZZ"}});
    ConnectivityResult result = check();
    EXPECT_FALSE(result.proceed);
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(frontEnd.styledReport(), kLackOfRedundancy);
}

TEST_F(Connectivity, EmptyDataSetLacksRedundancy) {
    ConnectivityResult result = check();
    EXPECT_FALSE(result.proceed);
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(frontEnd.styledReport(), kLackOfRedundancy);
}

TEST_F(Connectivity, VectorFromASiteToItselfAloneLacksRedundancy) {
    build({{"AAAA", 1, 1, 1}, {"BBBB"}}, {{"AAAA", "AAAA"}});
    ConnectivityResult result = check();
    EXPECT_FALSE(result.proceed);
    EXPECT_EQ(frontEnd.styledReport(), kLackOfRedundancy);
}

TEST_F(Connectivity, VectorFromASiteToItselfIsAGroupOfOneSite) {
    build({{"AAAA"}, {"BBBB"}, {"CCCC"}}, {{"AAAA", "AAAA"}, {"BBBB", "CCCC"}, {"CCCC", "CCCC"}});
    ConnectivityResult result = check();

    EXPECT_TRUE(result.proceed);
    const std::string report = frontEnd.styledReport();
    EXPECT_NE(report.find(groupReport(1, {"AAAA"}, {"AAAA-AAAA"})), std::string::npos);
    EXPECT_NE(report.find(groupReport(2, {"BBBB", "CCCC"}, {"BBBB-CCCC", "CCCC-CCCC"})),
              std::string::npos);
    EXPECT_NE(report.find("Group #2 has been selected\n "), std::string::npos);
    EXPECT_EQ(flagsOf(output), "AAAA 0 000|BBBB 1 111|CCCC 1 000|v 0 1 1");
}

TEST_F(Connectivity, VectorEndsMatchSiteNamesCaseSensitively) {
    build({{"ABCD", 1, 1, 1}, {"EFGH"}}, {{"ABCD", "EFGH"}, {"abcd", "EFGH"}, {"ABCD", "efgh"}});
    ConnectivityResult result = check();

    EXPECT_TRUE(result.proceed);
    EXPECT_EQ(frontEnd.styledReport(), kPassed + kPlain + counts(2, 1) + kPlain + "\n " + kMinimal +
                                           controlLine("ABCD", true, true, true) + kListingEnd);
    EXPECT_EQ(flagsOf(input), "ABCD 1 111|EFGH 1 000|v 1 0 0");
    EXPECT_EQ(flagsOf(output), "ABCD 1 111|EFGH 1 000|v 1 0 0");
}

TEST_F(Connectivity, DataSetSettingOfMinimalConstraintIsNeverCleared) {
    build({{"AAAA", 1, 1, 1}, {"BBBB", 1, 1, 1}}, {{"AAAA", "BBBB"}}, 1);
    ConnectivityResult result = check();

    EXPECT_TRUE(result.proceed);
    EXPECT_TRUE(result.minimallyConstrained);
    EXPECT_FALSE(result.overConstrained);
    EXPECT_EQ(inputMinimallyConstrained(), 1);
    EXPECT_NE(frontEnd.styledReport().find(kMinimal + controlLine("AAAA", true, true, true) +
                                           controlLine("BBBB", true, true, true)),
              std::string::npos);
}

TEST_F(Connectivity, AbortAtTheFirstPollStopsBeforeAnyReportOrChange) {
    build({{"AAAA", 1, 1, 1}, {"BBBB"}}, {{"AAAA", "BBBB"}});
    const std::string before = flagsOf(input);
    frontEnd.setAbortStages({13});
    ConnectivityResult result = check();

    EXPECT_FALSE(result.proceed);
    EXPECT_TRUE(result.accepted);
    EXPECT_FALSE(result.typeDecided);
    EXPECT_EQ(frontEnd.styledReport(), kAborted);
    EXPECT_EQ(frontEnd.stages(), (std::vector<int>{13}));
    EXPECT_EQ(flagsOf(input), before);
    EXPECT_EQ(flagsOf(output), before);
}

TEST_F(Connectivity, AbortAtTheLastPollComesAfterTheFlagsAreWritten) {
    build({{"AAAA"}, {"BBBB"}, {"CCCC"}}, {{"AAAA", "BBBB"}});
    frontEnd.setAbortStages({26});
    ConnectivityResult result = check();

    EXPECT_FALSE(result.proceed);
    EXPECT_TRUE(result.accepted);
    EXPECT_TRUE(result.typeDecided);
    EXPECT_TRUE(result.minimallyConstrained);
    EXPECT_EQ(frontEnd.styledReport(), kPassed + kPlain + counts(2, 1) + kPlain + "\n " + kMinimal +
                                           controlLine("AAAA", true, true, true) + kListingEnd +
                                           kAborted);
    EXPECT_EQ(frontEnd.stages(), (std::vector<int>{13, 26}));
    EXPECT_EQ(flagsOf(output), "AAAA 1 111|BBBB 1 000|CCCC 0 000|v 1");
}

TEST_F(Connectivity, DamagedCountsDoNotSizeTheTables) {
    // A file whose site count is negative: the list it comes with is empty, whatever the count.
    ProjectDataSet source;
    ASSERT_TRUE(source.addVector("AAAA", "BBBB"));
    std::vector<std::uint8_t> image = source.writeImage();
    const std::uint8_t negative[4] = {0xfb, 0xff, 0xff, 0xff};  // -5, little-endian
    std::copy(negative, negative + 4, image.begin());
    ASSERT_TRUE(input.readImage(image));
    ASSERT_EQ(input.siteCount(), -5);
    ASSERT_TRUE(output.readImage(image));
    ConnectivityResult result = check();
    EXPECT_FALSE(result.proceed);
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(frontEnd.styledReport(), kLackOfRedundancy);
}

}  // namespace
}  // namespace torvek
