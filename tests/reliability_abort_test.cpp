// An abort answered at every poll of a run, and at every poll of a retry: no crash, the report
// lines of an abort, no poll after it, and the output data set written.
#include <gtest/gtest.h>

#include <map>

#include "dataset/data_set_file.h"
#include "support/network_run.h"
#include "support/report_markers.h"
#include "support/result_fields.h"

namespace torvek::testing {
namespace {

class AbortEverywhere : public NetworkRun {
  protected:
    // Runs `net` once without an abort, then once for every poll of that run with an abort
    // answered at exactly that poll, and checks each aborted run.
    void abortAtEveryPoll(const SyntheticNetwork& net, bool retried) {
        net.writeTo(input);
        const std::vector<int> polls = runInput().stages();
        ASSERT_GT(polls.size(), 10u);
        std::map<int, int> seen;
        for (std::size_t i = 0; i < polls.size(); ++i) {
            const int stage = polls[i];
            const int occurrence = ++seen[stage];
            SCOPED_TRACE("stage " + std::to_string(stage) + ", occurrence " +
                         std::to_string(occurrence));
            ::unlink((dir + "/torvek.tmp").c_str());
            FrontEndScript script;
            script.abortAtOccurrence = {{stage, occurrence}};
            RunResult result = runInput(script);
            checkAbortedRun(result, polls, i, retried);
        }
    }

    void checkAbortedRun(const RunResult& result, const std::vector<int>& polls, std::size_t at,
                         bool retried) {
        const int stage = polls[at];
        const std::string styled = result.styledReport();
        EXPECT_NE(styled.find(inStyle(style::kAbortNotice, "Adjustment aborted by user\n ")),
                  std::string::npos)
            << styled;
        // Nothing is polled after the abort (at 100 the run has nothing left to poll).
        EXPECT_EQ(result.stages(), std::vector<int>(polls.begin(), polls.begin() + at + 1));
        // The exit notice still comes last.
        EXPECT_EQ(result.frames.back().message, link::Message::kExitNotice);
        std::string where;
        EXPECT_TRUE(resultFieldsAreFinite(adjusted, where)) << where;
        if (stage == 0) {
            // Nothing was read yet: the output data set is written empty.
            EXPECT_TRUE(adjusted.sites().empty());
            return;
        }
        EXPECT_NE(styled.find("Reference Ellipsoid Parameters"), std::string::npos);
        const bool inAttempt = stage >= 32 && stage <= 86;
        if (stage == 100) {
            EXPECT_EQ(adjusted.adjustmentSucceeded(), 1);  // the answer at 100 is not used
            EXPECT_EQ(styled.find("Error: Adjustment was not sucessful"), std::string::npos);
        } else if (inAttempt) {
            EXPECT_EQ(adjusted.adjustmentSucceeded(), 0);
            EXPECT_NE(styled.find(inStyle(style::kError, "Error: Adjustment was not sucessful\n ")),
                      std::string::npos);
            EXPECT_EQ(readFileBytes(dir + "/torvek.tmp"), readFileBytes(input));
        } else {
            // At 13, 26 or 29 no attempt was made: no error line and no trailer.
            EXPECT_EQ(adjusted.adjustmentSucceeded(), 0);
            EXPECT_EQ(styled.find("Error: "), std::string::npos) << styled;
            EXPECT_FALSE(fileExists(dir + "/torvek.tmp"));
        }
        const bool duringRetry =
            retried && std::count(polls.begin(), polls.begin() + at + 1, 32) == 2;
        EXPECT_EQ(styled.find("Try to resolve matrix singularity") != std::string::npos,
                  duringRetry || (retried && stage == 100));
    }
};

TEST_F(AbortEverywhere, EveryPollOfAnOverConstrainedRun) {
    SyntheticNetwork net = ringNetwork(9, 52.0, 5.0, 2000);
    fixSite(net.sites[0]);
    fixSite(net.sites[3]);
    fixSite(net.sites[6]);
    net.simulate(41);
    abortAtEveryPoll(net, false);
}

TEST_F(AbortEverywhere, EveryPollOfARetry) {
    // The first attempt meets a site without equations and is retried with bias constraints
    // (which meet it again): two sites of one name, the engine joining every vector end to the
    // first of them.
    SyntheticNetwork net = duplicateNameNetwork();
    net.writeTo(input);
    const RunResult plain = runInput();
    ASSERT_NE(plain.reportText().find("Try to resolve matrix singularity"), std::string::npos)
        << plain.reportText();
    abortAtEveryPoll(net, true);
}

// A run that stops before its adjustment leaves a copy of its input. When that input holds the
// success of an earlier run, the copy must not claim it: the flag is cleared and nothing else
// changes. An input without the flag set is copied byte for byte, with no record added.
TEST_F(AbortEverywhere, CopyOfAnEarlierSuccessDoesNotClaimIt) {
    SyntheticNetwork ring = ringNetwork(6, 52.0, 5.0, 2000);
    fixSite(ring.sites[0]);
    ring.simulate(41);
    SyntheticNetwork lone = ring;  // one site, no vector: no redundancy
    lone.sites.resize(1);
    lone.vectors.clear();
    struct Case {
        const char* name;
        const SyntheticNetwork* net;
        int abortStage;  // -1: none
    };
    const Case cases[] = {{"abort at 13", &ring, 13},
                          {"abort at 26", &ring, 26},
                          {"abort at 29", &ring, 29},
                          {"lack of redundancy", &lone, -1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrontEndScript script;
        if (c.abortStage >= 0)
            script.abortAtStages = {c.abortStage};
        // The flag set, clear, or no adjustment record at all.
        for (int flag : {1, 0, -1}) {
            SCOPED_TRACE(flag);
            // First a run that gets as far, so that the input carries the flags it writes.
            c.net->writeTo(input);
            runInput(script);
            DataSetContents contents;
            ASSERT_TRUE(decodeDataSet(adjusted.writeImage(), contents));
            ASSERT_FALSE(contents.adjustmentRecords.empty());
            if (flag >= 0) {
                contents.adjustmentRecords.back().adjustmentSucceeded = std::uint8_t(flag);
            } else {
                contents.adjustmentRecords.clear();
                contents.adjustmentRecordCount = 0;
            }
            ASSERT_TRUE(writeDataSetFile(input, contents));
            const std::string copied = readFileBytes(input);
            runInput(script);
            EXPECT_EQ(adjusted.adjustmentSucceeded(), 0);
            EXPECT_EQ(adjusted.adjustmentRecordCount(), flag >= 0 ? 1 : 0);
            if (flag == 1) {
                contents.adjustmentRecords.back().adjustmentSucceeded = 0;
                const std::vector<std::uint8_t> cleared = encodeDataSet(contents);
                EXPECT_EQ(readFileBytes(output), std::string(cleared.begin(), cleared.end()));
            } else {
                EXPECT_EQ(readFileBytes(output), copied);
            }
        }
    }
}

}  // namespace
}  // namespace torvek::testing
