#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "dataset/project_data_set.h"

namespace torvek {
namespace {

std::string name4(const char* bytes) {
    return SiteName(bytes).toString();
}

TEST(DataSetLookup, SiteScanVisitsSitesInListOrder) {
    ProjectDataSet dataSet;
    EXPECT_FALSE(dataSet.firstSite());
    ASSERT_TRUE(dataSet.addSite("S1"));
    ASSERT_TRUE(dataSet.addSite("S2"));
    ASSERT_TRUE(dataSet.addSite("S3"));
    std::string seen;
    for (bool more = dataSet.firstSite(); more; more = dataSet.nextSite()) {
        seen += name4(dataSet.siteName());
    }
    EXPECT_EQ(seen, "S1S2S3");
    EXPECT_FALSE(dataSet.nextSite());
    EXPECT_EQ(dataSet.siteName(), nullptr);
}

TEST(DataSetLookup, SiteLookupIgnoresCaseAndTakesTheFirstMatch) {
    ProjectDataSet dataSet;
    ASSERT_TRUE(dataSet.addSite("BASE"));
    ASSERT_TRUE(dataSet.addSite("AB"));
    ASSERT_TRUE(dataSet.addSite("base"));
    ASSERT_TRUE(dataSet.seekSite("base"));
    EXPECT_EQ(dataSet.currentSite()->recordNumber, 1);
    ASSERT_TRUE(dataSet.seekSite("Baser"));  // only four characters count
    EXPECT_EQ(dataSet.currentSite()->recordNumber, 1);
    ASSERT_TRUE(dataSet.seekSite("ab"));
    EXPECT_EQ(dataSet.currentSite()->recordNumber, 2);
    // A label right-aligns a two-letter name; that form does not find the site.
    EXPECT_FALSE(dataSet.seekSite("  AB"));
    EXPECT_EQ(dataSet.siteName(), nullptr);
    EXPECT_FALSE(dataSet.seekSite("A"));
    EXPECT_FALSE(dataSet.seekSite(nullptr));
}

TEST(DataSetLookup, NameComparisonFoldsOnlyAsciiLetters) {
    EXPECT_EQ(compareSiteNames("ab[]", "AB{}", true) == 0, false);
    EXPECT_EQ(compareSiteNames("Ab1", "aB1", true), 0);
    EXPECT_NE(compareSiteNames("Ab1", "aB1", false), 0);
    EXPECT_LT(compareSiteNames("AB", "ABC", true), 0);
    EXPECT_EQ(compareSiteNames("ABCDx", "ABCDy", false), 0);
    SiteRecord lower, upper;
    lower.name.assign("pt1");
    upper.name.assign("PT1");
    EXPECT_TRUE(lower == upper);
    upper.name.assign("PT2");
    EXPECT_TRUE(lower < upper);
}

TEST(DataSetLookup, LabelsNameTheVectorAndFindItAgain) {
    ProjectDataSet dataSet;
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(dataSet.addVector("FROM", "TO12"));
    }
    char label1[kVectorLabelSize];
    char label2[kVectorLabelSize];
    ASSERT_TRUE(dataSet.vectorLabels(label1, label2));
    EXPECT_STREQ(label1, "FROM          ");
    EXPECT_STREQ(label2, "TO12     00007");
    ASSERT_TRUE(dataSet.firstVector());
    ASSERT_TRUE(dataSet.seekVector(label1, label2));
    EXPECT_EQ(dataSet.currentVector()->recordNumber, 7);

    VectorLabel label;
    ASSERT_TRUE(dataSet.firstVector());
    ASSERT_TRUE(dataSet.nextVector());
    ASSERT_TRUE(dataSet.vectorLabels(label));
    ASSERT_TRUE(dataSet.seekVector(label));
    EXPECT_EQ(dataSet.currentVector()->recordNumber, 2);

    // Vector lookups are case-sensitive.
    EXPECT_FALSE(dataSet.seekVector("from          ", "to12     00007"));
    EXPECT_EQ(dataSet.currentVector(), nullptr);
    EXPECT_FALSE(dataSet.seekVector("FROM          ", "TO12     00008"));
}

TEST(DataSetLookup, FirstCandidateWithALargerNumberEndsTheSearch) {
    ProjectDataSet dataSet;
    ASSERT_TRUE(dataSet.addVector("AAAA", "BBBB"));
    dataSet.currentVector()->recordNumber = 9;
    ASSERT_TRUE(dataSet.addVector("AAAA", "BBBB"));
    dataSet.currentVector()->recordNumber = 7;
    EXPECT_FALSE(dataSet.seekVector("AAAA          ", "BBBB     00007"));
    EXPECT_EQ(dataSet.currentVector(), nullptr);
    EXPECT_TRUE(dataSet.seekVector("AAAA          ", "BBBB     00009"));
}

TEST(DataSetLookup, TwoLetterNamesCannotBeFoundFromTheirLabels) {
    ProjectDataSet dataSet;
    ASSERT_TRUE(dataSet.addVector("AB", "CD"));
    char label1[kVectorLabelSize];
    char label2[kVectorLabelSize];
    ASSERT_TRUE(dataSet.vectorLabels(label1, label2));
    EXPECT_STREQ(label1, "  AB          ");
    EXPECT_STREQ(label2, "  CD     00001");
    EXPECT_FALSE(dataSet.seekVector(label1, label2));
}

TEST(DataSetLookup, NegativeWantedNumberLeavesTheCursor) {
    ProjectDataSet dataSet;
    ASSERT_TRUE(dataSet.addVector("AAAA", "BBBB"));
    dataSet.currentVector()->recordNumber = -1;
    char label1[kVectorLabelSize];
    char label2[kVectorLabelSize];
    ASSERT_TRUE(dataSet.vectorLabels(label1, label2));
    EXPECT_STREQ(label2, "BBBB     -0001");
    EXPECT_FALSE(dataSet.seekVector(label1, label2));
    EXPECT_NE(dataSet.currentVector(), nullptr);
}

TEST(DataSetLookup, WideRecordNumbersAreCutWithoutOverflow) {
    ProjectDataSet dataSet;
    ASSERT_TRUE(dataSet.addVector("AAAA", "BBBB"));
    // Guard bytes after each 15-byte label catch any write past it.
    for (std::int32_t number : {123456, -12345, INT_MIN, INT_MAX}) {
        dataSet.currentVector()->recordNumber = number;
        char buffer[2][kVectorLabelSize + 8];
        std::memset(buffer, '#', sizeof buffer);
        ASSERT_TRUE(dataSet.vectorLabels(buffer[0], buffer[1]));
        EXPECT_EQ(std::strlen(buffer[1]), 14u) << number;
        for (std::size_t i = kVectorLabelSize; i < sizeof buffer[0]; ++i) {
            ASSERT_EQ(buffer[0][i], '#');
            ASSERT_EQ(buffer[1][i], '#');
        }
    }
    EXPECT_EQ(vectorLabelNumber("BBBB     12345"), 12345);
    EXPECT_EQ(vectorLabelNumber("BBBB     +0042"), 42);
    EXPECT_EQ(vectorLabelNumber("BBBB      \t 7x"), 7);
    EXPECT_EQ(vectorLabelNumber("BBBB     999999999999"), 999999);  // read within 15 bytes
    EXPECT_EQ(vectorLabelNumber("BB"), 0);                          // stops at its end
    EXPECT_EQ(vectorLabelNumber(nullptr), 0);
    const char unterminated[kVectorLabelSize] = {'B', 'B', 'B', 'B', ' ', ' ', ' ', ' ',
                                                 ' ', '9', '9', '9', '9', '9', '9'};
    EXPECT_EQ(vectorLabelNumber(unterminated), 999999);
}

TEST(DataSetLookup, LabelsAtTheEndAreEmpty) {
    ProjectDataSet dataSet;
    char label1[kVectorLabelSize];
    char label2[kVectorLabelSize];
    std::memset(label1, 'x', sizeof label1);
    std::memset(label2, 'x', sizeof label2);
    EXPECT_FALSE(dataSet.vectorLabels(label1, label2));
    for (std::size_t i = 0; i < kVectorLabelSize; ++i) {
        ASSERT_EQ(label1[i], '\0');
        ASSERT_EQ(label2[i], '\0');
    }
}

}  // namespace
}  // namespace torvek
