// The program as a front end sees it: argument rules, exit codes, polls, exit notification and the
// report channel, end to end through the test front end.
#include <gtest/gtest.h>

#include <regex>

#include "support/report_markers.h"
#include "support/temp_directory.h"
#include "support/test_front_end.h"

namespace torvek::testing {
namespace {

class FrontEndProtocol : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = folder.path();
        input = dir + "/in.dat";
        output = dir + "/out.dat";
    }
    TempDirectory folder;
    std::string dir, input, output;
};

TEST_F(FrontEndProtocol, FewerThanTwoFileArgumentsExitWithOneAndSendNothing) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"only-one"}}) {
        FrontEndScript script;
        script.giveEndpoints = false;
        // Even with endpoint numbers in the arguments nothing is sent.
        RunResult run = runTorvek(args, script);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.frames.empty());
        EXPECT_TRUE(run.standardOutput.empty());
    }
    RunResult withNumber = runTorvek({"{P}"});
    EXPECT_EQ(withNumber.exitCode, 1);
    EXPECT_TRUE(withNumber.frames.empty());
}

TEST_F(FrontEndProtocol, WrongArgumentCountsOrNonNumbersGiveNoEndpoints) {
    const std::vector<std::vector<std::string>> cases = {
        {input, output},                          // three arguments
        {input, output, "{P}"},                   // four
        {input, output, "{P}", "{R}", "extra"},   // six
        {input, output, "{P}", "{R}", "x", "y"},  // seven
        {input, output, "progress", "report"},    // not numbers
    };
    for (const auto& args : cases) {
        FrontEndScript script;
        script.giveEndpoints = false;
        script.standardInput = "cancel\n";
        RunResult run = runTorvek(args, script);
        EXPECT_EQ(run.exitCode, 0) << args.size();
        EXPECT_TRUE(run.frames.empty()) << args.size();
        EXPECT_TRUE(run.standardOutput.empty());
        EXPECT_TRUE(fileExists(output));
    }
}

TEST_F(FrontEndProtocol, AbortAtStageZeroEndsAtOnceAndExitNoticeIsLast) {
    FrontEndScript script;
    script.abortAtStages = {0};
    RunResult run = runTorvek({input, output}, script);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_FALSE(run.frames.empty());
    EXPECT_EQ(run.stages(), std::vector<int>{0});
    EXPECT_EQ(run.styledReport(), inStyle(style::kAbortNotice, "Adjustment aborted by user\n "));
    EXPECT_EQ(run.frames.back().message, link::Message::kExitNotice);
    EXPECT_EQ(run.frames.back().endpoint, Endpoint::kProgress);
    EXPECT_EQ(run.countMessage(link::Message::kExitNotice), 1);
    EXPECT_TRUE(run.standardOutput.empty());
    EXPECT_TRUE(run.standardError.empty());
}

TEST_F(FrontEndProtocol, ReportOpensWithTheBannerPieces) {
    FrontEndScript script;
    script.abortAtStages = {13, 29};
    RunResult run = runTorvek({input, output}, script);
    std::vector<Frame> report = run.framesOf(Endpoint::kReport);
    ASSERT_GE(report.size(), 7u);
    EXPECT_EQ(report[0].message, link::Message::kClassQuery);  // the class query comes first
    EXPECT_EQ(report[1].dataWord, 2u);
    EXPECT_EQ(report[1].text, "\n ");
    EXPECT_EQ(report[2].dataWord, 3u);
    EXPECT_NE(report[2].text.find("TORVEK - Brenlow Network Adjustment Package\\par "),
              std::string::npos);
    EXPECT_EQ(report[2].text.rfind("{\\rtf1", 0), 0u);
    ReportStyle look;
    ASSERT_TRUE(
        decodeStyleFragment(report[3].text, look.size, look.colour, look.attribute, look.tabs));
    EXPECT_EQ(marker(look), marker(style::kBody));
    EXPECT_EQ(report[4].text, "\n ");
    EXPECT_EQ(report[5].dataWord, 2u);
    EXPECT_TRUE(std::regex_match(
        report[5].text, std::regex("(Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
                                   "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                   "[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\n ")))
        << report[5].text;
    for (const Frame& f : report) {
        if (f.message != link::Message::kReportPiece)
            continue;
        EXPECT_EQ(f.byteCount, f.text.size() + 1);  // the terminator is counted
        EXPECT_EQ(f.payload.size(), 8 + f.byteCount);
        EXPECT_EQ(f.payload.back(), 0);
        EXPECT_EQ(f.lParam, 0u);
        if (f.dataWord == 2) {
            EXPECT_EQ(f.text.back(), ' ');
        }
    }
    EXPECT_EQ(run.frames.back().message, link::Message::kExitNotice);
    EXPECT_EQ(run.countMessage(link::Message::kExitNotice), 1);
}

TEST_F(FrontEndProtocol, ReportEndpointOfAnotherClassReceivesOnlyTheQuery) {
    for (const char* name : {"richedit", "RICHEDIT20A", "RICHEDI", "Edit"}) {
        FrontEndScript script;
        script.className = name;
        RunResult run = runTorvek({input, output}, script);
        std::vector<Frame> report = run.framesOf(Endpoint::kReport);
        ASSERT_EQ(report.size(), 1u) << name;
        EXPECT_EQ(report[0].message, link::Message::kClassQuery);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.frames.back().message, link::Message::kExitNotice);
    }
}

TEST_F(FrontEndProtocol, ClassNameAnswerOfBadLengthMakesTheChannelSilent) {
    for (int length : {0, -5, 64, 1000}) {
        FrontEndScript script;
        script.classNameLength = length;
        RunResult run = runTorvek({input, output}, script);
        EXPECT_EQ(run.framesOf(Endpoint::kReport).size(), 1u) << length;
        EXPECT_EQ(run.exitCode, 0);
    }
}

TEST_F(FrontEndProtocol, DeadEndpointsNeverStopTheRun) {
    FrontEndScript closedReport;
    closedReport.closeReportAfterFrames = 3;
    RunResult run = runTorvek({input, output}, closedReport);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.framesOf(Endpoint::kReport).size(), 3u);
    EXPECT_EQ(run.frames.back().message, link::Message::kExitNotice);
    EXPECT_TRUE(fileExists(output));

    FrontEndScript closedProgress;
    closedProgress.closeProgressAfterFrames = 1;
    run = runTorvek({input, output}, closedProgress);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.framesOf(Endpoint::kProgress).size(), 1u);
    EXPECT_TRUE(fileExists(output));

    FrontEndScript garbage;
    garbage.garbageAnswers = true;
    run = runTorvek({input, output}, garbage);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(run.timedOut);
}

TEST_F(FrontEndProtocol, RefusedPiecesChangeNothing) {
    FrontEndScript script;
    script.refusePieces = true;
    script.abortAtStages = {29};
    RunResult refused = runTorvek({input, output}, script);
    script.refusePieces = false;
    RunResult accepted = runTorvek({input, output}, script);
    EXPECT_EQ(refused.stages(), accepted.stages());
    EXPECT_EQ(refused.exitCode, 0);
}

}  // namespace
}  // namespace torvek::testing
