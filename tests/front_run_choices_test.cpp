// The choices of a run, as both front ends hand them to the run service: the model a run takes,
// the program and arguments it gets, and the workspace's reading of a run's choices.
#include <gtest/gtest.h>

#include "front/run/run_service.h"
#include "front/serve/workspace.h"

namespace torvek::front {
namespace {

// The command line or the page wins, then the project, then the rigorous model.
TEST(FrontRunChoices, ModelComesFromTheAskingThenTheProjectThenTheDefault) {
    EXPECT_EQ(modelForRun(AdjustmentModel::kClassic, AdjustmentModel::kRigorous),
              AdjustmentModel::kClassic);
    EXPECT_EQ(modelForRun(std::nullopt, AdjustmentModel::kClassic), AdjustmentModel::kClassic);
    EXPECT_EQ(modelForRun(std::nullopt, std::nullopt), AdjustmentModel::kRigorous);
}

// The classic model gives the program its two paths as before; the rigorous one puts its options
// in front of them, the statistics file always among them, and needs the sparse engine whatever
// the network's size.
TEST(FrontRunChoices, RigorousRunsGiveTheSparseEngineItsOptionsBeforeThePaths) {
    RunChoices choices;
    EXPECT_EQ(programArguments(choices, "in.dat", "out.dat", "s.json"),
              (std::vector<std::string>{"in.dat", "out.dat"}));
    choices.model = AdjustmentModel::kRigorous;
    EXPECT_EQ(programArguments(choices, "in.dat", "out.dat", "s.json"),
              (std::vector<std::string>{"--model", "rigorous", "--statistics", "s.json", "in.dat",
                                        "out.dat"}));
    choices.snoopRounds = 4;
    choices.scaleByAposteriori = true;
    EXPECT_EQ(programArguments(choices, "in.dat", "out.dat", "s.json"),
              (std::vector<std::string>{"--model", "rigorous", "--statistics", "s.json", "--snoop",
                                        "4", "--scale-by", "aposteriori", "in.dat", "out.dat"}));

    AdjustedDataSet small;  // no sites at all: torvek's size, were it not for the model
    const EngineDecision engine = decideEngine(choices, small);
    EXPECT_TRUE(engine.large);
    EXPECT_TRUE(engine.byModel);
    EXPECT_EQ(engine.name, "torvek-large");
    choices.model = AdjustmentModel::kClassic;
    EXPECT_FALSE(decideEngine(choices, small).large);

    // The statistics file is a file of the run only with the rigorous model.
    EXPECT_EQ(runFilePaths("net/out.dat", false, false, true).statistics,
              "net/out.statistics.json");
    EXPECT_TRUE(runFilePaths("net/out.dat", false, false).statistics.empty());
}

// The body of POST /api/runs: every key optional, each value checked, the error naming the key.
TEST(FrontRunChoices, WorkspaceReadsARunsChoicesAndNamesWhatIsWrong) {
    serve::RunAsked asked;
    std::string error;
    ASSERT_TRUE(serve::readRunAsked(Json(nullptr), asked, error));
    EXPECT_FALSE(asked.model);
    ASSERT_TRUE(serve::readRunAsked(Json::parse(R"({"model": "classic", "snoop": 3,
        "scaleBy": "aposteriori", "relativeTolerance": "20mm+50ppm"})"),
                                    asked, error))
        << error;
    EXPECT_EQ(asked.model, AdjustmentModel::kClassic);
    EXPECT_EQ(asked.snoopRounds, 3);
    EXPECT_TRUE(asked.scaleByAposteriori);
    ASSERT_TRUE(asked.relativeTolerance);
    EXPECT_DOUBLE_EQ(asked.relativeTolerance->horizontal, 0.02);
    EXPECT_DOUBLE_EQ(asked.relativeTolerance->ppm, 50.0);

    const std::pair<const char*, const char*> refused[] = {
        {R"({"model": "fast"})", "model"},
        {R"({"snoop": 1001})", "snoop"},
        {R"({"snoop": 2.5})", "snoop"},
        {R"({"scaleBy": "both"})", "scaleBy"},
        {R"({"relativeTolerance": "twenty"})", "relativeTolerance"},
        {R"({"engine": "large"})", "engine"},
        {R"([1, 2])", "object"},
    };
    for (const auto& [body, named] : refused) {
        serve::RunAsked again;
        error.clear();
        EXPECT_FALSE(serve::readRunAsked(Json::parse(body), again, error)) << body;
        EXPECT_NE(error.find(named), std::string::npos) << body << ": " << error;
    }
    // The page's empty tolerance field asks for no check.
    serve::RunAsked empty;
    ASSERT_TRUE(serve::readRunAsked(Json::parse(R"({"relativeTolerance": ""})"), empty, error));
    EXPECT_FALSE(empty.relativeTolerance);
}

}  // namespace
}  // namespace torvek::front
