// Fixed-size texts filled from the data set and the command line: vector labels of record
// numbers that do not fit five digits, site names without terminator or with bytes beyond ASCII,
// a full header text and paths at the length limit. No text may overflow, and no cut label may
// name another vector.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cmath>
#include <cstring>

#include "dataset/vector_label.h"
#include "support/network_run.h"
#include "support/report_markers.h"
#include "support/result_fields.h"

namespace torvek::testing {
namespace {

VectorLabel labelOf(std::int32_t recordNumber) {
    VectorRecord vector;
    vector.fromSite = SiteName("AAAA");
    vector.toSite = SiteName("BBBB");
    vector.recordNumber = recordNumber;
    VectorLabel label;
    formatVectorLabel(vector, label.from.data(), label.to.data());
    return label;
}

TEST(VectorLabels, WideRecordNumbersKeepTheirWholeNumberAndNameOnlyTheirVector) {
    EXPECT_STREQ(labelOf(7).to.data(), "BBBB     00007");
    EXPECT_STREQ(labelOf(99999).to.data(), "BBBB     99999");
    EXPECT_STREQ(labelOf(123456).to.data(), "BBBB    123456");
    EXPECT_STREQ(labelOf(INT_MAX).to.data(), "BBBB2147483647");
    for (std::int32_t number : {7, 99999, 100000, 123456, 9999999, INT_MAX})
        EXPECT_EQ(vectorLabelNumber(labelOf(number).to.data()), number) << number;

    // Each wide number listed after the vector that its first five digits would name.
    const std::pair<std::int32_t, std::int32_t> pairs[] = {
        {12345, 123456}, {10000, 1000000}, {21474, INT_MAX}};
    for (auto [narrow, wide] : pairs) {
        ProjectDataSet dataSet;
        ASSERT_TRUE(dataSet.addVector("AAAA", "BBBB"));
        dataSet.currentVector()->recordNumber = narrow;
        ASSERT_TRUE(dataSet.addVector("AAAA", "BBBB"));
        dataSet.currentVector()->recordNumber = wide;
        ASSERT_TRUE(dataSet.seekVector(labelOf(wide)));
        EXPECT_EQ(dataSet.currentVector()->recordNumber, wide);
        ASSERT_TRUE(dataSet.seekVector(labelOf(narrow)));
        EXPECT_EQ(dataSet.currentVector()->recordNumber, narrow);
    }
}

TEST(VectorLabels, CutNegativeNumbersNameNoVector) {
    ProjectDataSet dataSet;
    for (std::int32_t number : {-1234, -12345, -1, 1234}) {
        ASSERT_TRUE(dataSet.addVector("AAAA", "BBBB"));
        dataSet.currentVector()->recordNumber = number;
    }
    // "-12345" is cut to "-1234": that label must not find the vector numbered -1234.
    EXPECT_STREQ(labelOf(-12345).to.data(), "BBBB     -1234");
    EXPECT_FALSE(dataSet.seekVector(labelOf(-12345)));
    EXPECT_FALSE(dataSet.seekVector(labelOf(INT_MIN)));
    EXPECT_FALSE(dataSet.seekVector(labelOf(-1)));
    EXPECT_TRUE(dataSet.seekVector(labelOf(1234)));
}

class TextRun : public NetworkRun {
  protected:
    static SyntheticNetwork ring() {
        SyntheticNetwork net = ringNetwork(6, 46.0, 7.0, 1500);
        fixSite(net.sites[0]);
        return net;
    }
    // Vector k of the data set, in list order.
    static VectorRecord& vectorAt(ProjectDataSet& ds, int k) {
        ds.firstVector();
        for (int i = 0; i < k; ++i)
            ds.nextVector();
        return *ds.currentVector();
    }
};

TEST_F(TextRun, TwoVectorsWhoseNumbersShareFiveDigitsKeepTheirOwnResults) {
    SyntheticNetwork net = ring();
    SyntheticVector repeat;  // a second measurement of S002 -> S003
    repeat.from = 1;
    repeat.to = 2;
    net.vectors.push_back(repeat);
    net.simulate(11);
    ProjectDataSet ds = net.toDataSet();
    const int first = 2, second = int(net.vectors.size()) - 1;
    ASSERT_STREQ(vectorAt(ds, first).toSite.toString().c_str(), "S003");
    vectorAt(ds, first).recordNumber = 12345;
    vectorAt(ds, second).recordNumber = 123456;
    ASSERT_TRUE(ds.writeFile(input));

    runInput();
    ASSERT_EQ(adjusted.adjustmentSucceeded(), 1);
    // Each record holds the residuals of its own measurement: adjusted minus its own observation.
    for (int k : {first, second}) {
        VectorRecord& stored = vectorAt(adjusted, k);
        SCOPED_TRACE(stored.recordNumber);
        EXPECT_EQ(stored.inUse, 1);
        for (int c = 0; c < 3; ++c) {
            const double observed[3] = {stored.deltaX, stored.deltaY, stored.deltaZ};
            const double adjustedComponent[3] = {stored.adjustedDeltaX, stored.adjustedDeltaY,
                                                 stored.adjustedDeltaZ};
            const double residual = adjustedComponent[c] - observed[c];
            EXPECT_NEAR(stored.vectorTestResults[c], std::fabs(residual) < 1e-6 ? 0.0 : residual,
                        2e-6);
        }
        EXPECT_GT(stored.adjustedLocalSigmaNorth, 0.0);
    }
    EXPECT_NE(vectorAt(adjusted, first).vectorTestResults,
              vectorAt(adjusted, second).vectorTestResults);
}

TEST_F(TextRun, VectorsWithNegativeNumbersAreReportedWholeAndMatchNothing) {
    SyntheticNetwork net = ring();
    net.simulate(12);
    for (std::int32_t number : {-1, -123456}) {
        ProjectDataSet ds = net.toDataSet();
        vectorAt(ds, 2).recordNumber = number;
        ASSERT_TRUE(ds.writeFile(input));
        RunResult result = runInput();
        char expected[80];
        std::snprintf(expected, sizeof expected, "Error: The vector #%05d:S002-S003 not found\n",
                      number);
        EXPECT_NE(result.reportText().find(expected), std::string::npos) << result.reportText();
        EXPECT_EQ(adjusted.adjustmentSucceeded(), 0);
        std::string where;
        EXPECT_TRUE(resultFieldsAreFinite(adjusted, where)) << where;
    }
}

TEST_F(TextRun, SiteNamesOfFourBytesBeyondAsciiAreListedAndAdjusted) {
    SyntheticNetwork net = ring();
    // Four bytes each, no terminator in the file: UTF-8 text, Latin-1 bytes, control bytes.
    // (The third is 0x80, "AB", 0x7F.)
    const char* names[] = {"\xC3\xA9T1",    "\xFF\xFE\xFD\xFC", "\x80\x41\x42\x7F",
                           "Z\xE4\xF6\xFC", "\x01\x02\x03\x04", "ABCD"};
    for (int k = 0; k < 6; ++k)
        net.sites[k].name = names[k];
    net.simulate(13);
    RunResult result = run(net);
    ASSERT_EQ(adjusted.adjustmentSucceeded(), 1) << result.reportText();
    const std::string report = result.reportText();
    // The control listing prints exactly the four bytes of the fixed site's name.
    EXPECT_NE(report.find(std::string(names[0]) + "                Latitude  Longitude Elevation"),
              std::string::npos)
        << report;
    for (const char* name : names) {
        ASSERT_TRUE(adjusted.seekSite(name)) << name;
        EXPECT_EQ(adjusted.currentSite()->inUse, 1);
        EXPECT_NE(adjusted.currentSite()->adjustedLatitude, 0.0);
    }
}

TEST_F(TextRun, FullHeaderTextIsCopiedWhole) {
    SyntheticNetwork net = ring();
    net.simulate(14);
    ProjectDataSet ds = net.toDataSet();
    auto& text = ds.headerRecord().headerText;
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>('A' + i % 26);  // all 256 bytes, no terminator
    ASSERT_TRUE(ds.writeFile(input));
    runInput();
    EXPECT_EQ(adjusted.adjustmentSucceeded(), 1);
    EXPECT_EQ(adjusted.headerRecord().headerText, text);
    EXPECT_EQ(adjusted.headerText().size(), 256u);
}

// A directory under `base` whose absolute path has exactly `length` characters, made of
// components short enough for any file system.
std::string directoryOfLength(const std::string& base, std::size_t length) {
    std::string path = base;
    while (path.size() < length) {
        const std::size_t remaining = length - path.size();  // "/" and the component
        std::size_t component = std::min<std::size_t>(remaining - 1, 100);
        if (remaining - (component + 1) == 1)
            --component;  // a remainder of one character could not hold "/x"
        path += "/" + std::string(component, 'd');
        ::mkdir(path.c_str(), 0755);
    }
    return path;
}

TEST_F(TextRun, PathsUpToTheLimitWorkAndLongerOnesAreRefusedUntouched) {
    SyntheticNetwork net = ring();
    net.simulate(15);
    // 259 characters and the terminator fill the program's 260 bytes exactly.
    const std::string fits = directoryOfLength(dir, 259 - 8) + "/in.data";
    const std::string fitsOut = directoryOfLength(dir, 259 - 9) + "/out.data";
    ASSERT_EQ(fits.size(), 259u);
    ASSERT_EQ(fitsOut.size(), 259u);
    net.writeTo(fits);
    RunResult result = runTorvek({fits, fitsOut}, {});
    EXPECT_EQ(result.exitCode, 0);
    ASSERT_TRUE(adjusted.readFile(fitsOut));
    EXPECT_EQ(adjusted.adjustmentSucceeded(), 1);

    const std::string tooLong = directoryOfLength(dir, 260 - 8) + "/in.data";
    const std::string tooLongOut = directoryOfLength(dir, 260 - 9) + "/out.data";
    ASSERT_EQ(tooLong.size(), 260u);
    net.writeTo(tooLong);
    const std::string bytes = readFileBytes(tooLong);
    for (auto [in, out] : {std::pair{tooLong, fitsOut}, std::pair{fits, tooLongOut}}) {
        ::unlink(fitsOut.c_str());
        result = runTorvek({in, out}, {});
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_NE(result.styledReport().find(inStyle(
                      style::kError,
                      "Error: A data set path is empty or longer than the program accepts\n")),
                  std::string::npos)
            << result.styledReport();
        EXPECT_FALSE(fileExists(out));
    }
    EXPECT_EQ(readFileBytes(tooLong), bytes);
}

}  // namespace
}  // namespace torvek::testing
