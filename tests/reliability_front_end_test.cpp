// A front end that goes away or talks nonsense at any point of a run: the program still
// finishes, writes the output data set and exits 0, without dying of a broken pipe or waiting on
// a closed socket.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include "support/network_run.h"

namespace torvek::testing {
namespace {

class FrontEndFaults : public NetworkRun {
  protected:
    void SetUp() override {
        NetworkRun::SetUp();
        SyntheticNetwork net = ringNetwork(6, 52.0, 5.0, 2000);
        fixSite(net.sites[0]);
        net.simulate(21);
        net.writeTo(input);
    }
    // A run that must end as every healthy run does, whatever the front end did.
    void expectCompleteRun(const RunResult& result) {
        EXPECT_NE(result.exitCode, 128 + SIGPIPE);
        EXPECT_EQ(adjusted.adjustmentSucceeded(), 1) << result.reportText();
        EXPECT_FALSE(fileExists(dir + "/torvek.tmp"));  // no failed attempt on the way
    }
};

TEST_F(FrontEndFaults, ProgressEndpointClosedAtEveryStage) {
    const int progressFrames = int(runInput().framesOf(Endpoint::kProgress).size());
    ASSERT_GE(progressFrames, 14);  // 13 polls and the exit notice
    for (int frames = 0; frames <= progressFrames; ++frames) {
        SCOPED_TRACE(frames);
        FrontEndScript script;
        script.closeProgressAfterFrames = frames;
        RunResult result = runInput(script);
        expectCompleteRun(result);
        // The script closes after answering its frames; with 0 it answers the first one.
        EXPECT_EQ(int(result.framesOf(Endpoint::kProgress).size()), std::max(frames, 1));
        // The report goes on to the end of the closing report.
        EXPECT_NE(result.reportText().find("Scale correction (ppm)"), std::string::npos);
    }
}

TEST_F(FrontEndFaults, ReportEndpointClosedAtEveryStage) {
    const int reportFrames = int(runInput().framesOf(Endpoint::kReport).size());
    ASSERT_GT(reportFrames, 60);
    // Every frame up to the first twenty, then a stride that still reaches the last ones.
    for (int frames = 0; frames <= reportFrames; frames += frames < 20 ? 1 : 7) {
        SCOPED_TRACE(frames);
        FrontEndScript script;
        script.closeReportAfterFrames = frames;
        RunResult result = runInput(script);
        expectCompleteRun(result);
        EXPECT_EQ(int(result.framesOf(Endpoint::kReport).size()), std::max(frames, 1));
        // The polls all still arrive, and the exit notice last.
        EXPECT_EQ(result.stages().back(), 100);
        EXPECT_EQ(result.frames.back().message, link::Message::kExitNotice);
    }
}

TEST_F(FrontEndFaults, BothEndpointsClosedAtOnceOrAnsweringGarbage) {
    FrontEndScript closed;
    closed.closeProgressAfterFrames = 0;
    closed.closeReportAfterFrames = 0;
    expectCompleteRun(runInput(closed));

    // Two bytes instead of an answer, then the socket closes: every exchange fails, the class
    // query included, and the program adjusts on without a front end.
    FrontEndScript garbage;
    garbage.garbageAnswers = true;
    RunResult result = runInput(garbage);
    expectCompleteRun(result);
    EXPECT_LE(result.frames.size(), 2u);
}

TEST_F(FrontEndFaults, WarningBoxOnAClosedProgressEndpointIsAnsweredCancel) {
    // Two parts: the connectivity test asks through the progress endpoint, which is gone.
    SyntheticNetwork net = ringNetwork(6, 52.0, 5.0, 2000);
    fixSite(net.sites[0]);
    SyntheticNetwork other = ringNetwork(4, 52.5, 5.5, 1000);
    for (SyntheticSite site : other.sites) {
        site.name[0] = 'T';
        net.sites.push_back(site);
    }
    for (SyntheticVector vector : other.vectors) {
        vector.from += 6;
        vector.to += 6;
        net.vectors.push_back(vector);
    }
    net.simulate(22);
    FrontEndScript script;
    script.closeProgressAfterFrames = 1;  // only the poll at stage 0 is answered
    RunResult result = run(net, script);
    EXPECT_NE(
        result.reportText().find("Adjustment aborted due to Network connectivity test failure."),
        std::string::npos)
        << result.reportText();
    EXPECT_EQ(adjusted.adjustmentSucceeded(), 0);
}

}  // namespace
}  // namespace torvek::testing
