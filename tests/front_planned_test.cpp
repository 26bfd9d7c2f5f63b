// Planned vectors for a pre-analysis: the sigma model of the receivers (its text and its rotation
// into the Earth-centred frame, against matrices worked out by hand), and planned vectors in a
// project: checked by name, kept by the project, added to the data set only for a pre-analysis.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "front/files/file_output.h"
#include "front/project/planned_vectors.h"
#include "front/project/project_json.h"
#include "support/command_runner.h"
#include "support/temp_directory.h"

namespace torvek::front {
namespace {

const std::string kExample = std::string(TORVEK_SOURCE_DIR) + "/examples/example-network.json";

TEST(FrontSigmaModel, GoodAndBadTexts) {
    struct Good {
        const char* text;
        SigmaModel expected;
    };
    for (const Good& good : {Good{"5mm+1ppm,10mm+2ppm", {{0.005, 1}, {0.010, 2}}},
                             Good{" 3 MM , 0.01m + 4 ppm ", {{0.003, 0}, {0.010, 4}}},
                             Good{"2ppm+1mm,0.5ppm", {{0.001, 2}, {0.0, 0.5}}}}) {
        SigmaModel model;
        std::string error;
        ASSERT_TRUE(parseSigmaModel(good.text, model, error)) << good.text << ": " << error;
        EXPECT_DOUBLE_EQ(model.horizontal.constant, good.expected.horizontal.constant);
        EXPECT_DOUBLE_EQ(model.horizontal.ppm, good.expected.horizontal.ppm);
        EXPECT_DOUBLE_EQ(model.vertical.constant, good.expected.vertical.constant);
        EXPECT_DOUBLE_EQ(model.vertical.ppm, good.expected.vertical.ppm);
    }
    for (const char* bad :
         {"5mm+1ppm", "5mm,10mm,1mm", "5cm,1mm", "-5mm,1mm", "0mm,1mm", "5mm+,1mm", "5mm+6mm,1mm",
          "2m,1mm", "1mm,2000ppm", ",", "mm,1mm", "1e400mm,1mm", "nan mm,1mm"}) {
        SigmaModel model = kDefaultSigmaModel;
        std::string error;
        EXPECT_FALSE(parseSigmaModel(bad, model, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_EQ(model.horizontal.constant, kDefaultSigmaModel.horizontal.constant) << bad;
    }
}

// A vertical sigma alone lies along the ellipsoid normal: at latitude 45 and longitude 30 degrees
// the up vector is (cos 45 cos 30, cos 45 sin 30, sin 45) = (sqrt6/4, sqrt2/4, sqrt2/2), so
// C = s^2 u u^T = s^2 [[6/16, sqrt12/16, sqrt12/8], [., 2/16, 2/8], [., ., 1/2]]. A horizontal
// sigma alone at latitude 0, longitude 0 spans north (Z) and east (Y) only.
TEST(FrontSigmaModel, SigmasRotateFromNorthEastUpIntoXyz) {
    constexpr double kDegree = M_PI / 180.0;
    const SigmaModel vertical{{0, 0}, {0.010, 2}};
    const double s = 0.010 + 2e-6 * 5000.0;  // 20 mm at 5 km
    const Matrix3 c = sigmaModelCovariance(vertical, 5000.0, 45 * kDegree, 30 * kDegree);
    const double expected[9] = {6.0 / 16,
                                std::sqrt(12.0) / 16,
                                std::sqrt(12.0) / 8,
                                std::sqrt(12.0) / 16,
                                2.0 / 16,
                                2.0 / 8,
                                std::sqrt(12.0) / 8,
                                2.0 / 8,
                                0.5};
    for (int k = 0; k < 9; ++k) {
        EXPECT_NEAR(c[k], s * s * expected[k], 1e-15) << k;
    }
    const Matrix3 h = sigmaModelCovariance({{0.003, 0}, {0, 0}}, 1000.0, 0.0, 0.0);
    const double diagonal[9] = {0, 0, 0, 0, 9e-6, 0, 0, 0, 9e-6};
    for (int k = 0; k < 9; ++k) {
        EXPECT_NEAR(h[k], diagonal[k], 1e-18) << k;
    }
}

Json exampleWithPlan() {
    std::string text, error;
    EXPECT_TRUE(readWholeFile(kExample, kMaximumProjectSize, text, error)) << error;
    Json project = Json::parse(text);
    project["planned"] = Json::array(
        {Json{{"from", "birk"}, {"to", "ZELG"}},
         Json{{"from", "HOHB"},
              {"to", "SPIT"},
              {"covariance", {{"unit", "mm2"}, {"matrix", {{9, 0, 0}, {16, 0}, {25}}}}}},
         Json{{"from", project["vectors"][0]["from"]}, {"to", project["vectors"][0]["to"]}}});
    return project;
}

TEST(FrontPlannedVectors, CheckedKeptAndAddedOnlyForAPreanalysis) {
    const Json project = exampleWithPlan();
    AdjustedDataSet adjustment, preanalysis;
    ImportReport report;
    ASSERT_TRUE(importProjectDocument(project, "plan.json", {}, adjustment, report))
        << report.error;
    ImportOptions options;
    options.withPlanned = true;
    options.sigmaModel = {{0.004, 0}, {0.004, 0}};
    ASSERT_TRUE(importProjectDocument(project, "plan.json", options, preanalysis, report))
        << report.error;
    const std::size_t observed = adjustment.vectors().size();
    ASSERT_EQ(preanalysis.vectors().size(), observed + 3) << "an adjustment never uses them";
    int largest = 0;
    for (const VectorRecord& v : adjustment.vectors()) {
        largest = std::max(largest, int(v.recordNumber));
    }
    const VectorRecord& byModel = preanalysis.vectors()[observed];
    const VectorRecord& given = preanalysis.vectors()[observed + 1];
    EXPECT_EQ(byModel.recordNumber, largest + 1);
    EXPECT_EQ(byModel.fromSite.toString(), "BIRK");
    // A sigma model of 4 mm in every direction is a round covariance: 4 mm along X, Y, Z.
    for (double sigma : {byModel.sigmaX, byModel.sigmaY, byModel.sigmaZ}) {
        EXPECT_NEAR(sigma, 0.004, 1e-12);
    }
    EXPECT_NEAR(given.sigmaX, 0.003, 1e-12);
    EXPECT_NEAR(given.sigmaZ, 0.005, 1e-12);
    // The components come from the approximate coordinates: the observed vector between two
    // sites and the one planned between them agree as well as the approximate coordinates do
    // (the example's are off by decimetres): a swap, a sign or a unit would be off by far more.
    const VectorRecord& first = adjustment.vectors()[0];
    const VectorRecord& again = preanalysis.vectors()[observed + 2];
    EXPECT_NEAR(again.deltaX, first.deltaX, 2.0);
    EXPECT_NEAR(again.deltaY, first.deltaY, 2.0);
    EXPECT_NEAR(again.deltaZ, first.deltaZ, 2.0);
    EXPECT_GT(again.recordNumber, given.recordNumber);

    struct Bad {
        Json planned;
        const char* says;
    };
    for (const Bad& bad :
         {Bad{Json{{{"from", "BIRK"}, {"to", "NOPE"}}}, "planned[0] (\"BIRK\" to \"NOPE\").to: "},
          Bad{Json{{{"from", "BIRK"}, {"to", "EICH"}},
                   {{"from", "BIRK"}, {"to", "EICH"}, {"dX", 1.0}}},
              "planned[1] (\"BIRK\" to \"EICH\").dX: unknown field"},
          Bad{Json{{{"from", "BIRK"}, {"to", "birk"}}}, "two different sites"},
          Bad{Json{{{"from", "BIRK"}}}, "planned[0].to"},
          Bad{Json{{"from", "BIRK"}}, "planned: must be a list"}}) {
        Json broken = project;
        broken["planned"] = bad.planned;
        AdjustedDataSet untouched;
        EXPECT_FALSE(importProjectDocument(broken, "plan.json", {}, untouched, report));
        EXPECT_NE(report.error.find(bad.says), std::string::npos) << report.error;
    }
}

#if defined(TORVEK_FRONT_BINARY) && defined(TORVEK_LARGE_BINARY)
// `adjust --preanalysis` as a person runs it: the plan's pairs among the relative precisions, the
// summary and the documents saying it is a pre-analysis without a chi-square test or residual
// table, and the options that make no sense with it refused before anything is written.
TEST(FrontPlannedVectors, AdjustPreanalysisOfTheProjectsPlan) {
    testing::TempDirectory folder;
    const std::string project = folder.file("plan.json");
    std::string error;
    ASSERT_TRUE(writeFileAtomically(project, exampleWithPlan().dump(1), error)) << error;
    testing::CommandOptions options;
    options.environment = {{"TORVEK_LARGE_BINARY", TORVEK_LARGE_BINARY}};
    const std::string out = folder.file("pre.dat");
    const auto run =
        testing::runCommand(TORVEK_FRONT_BINARY,
                            {"adjust", project, "--model", "rigorous", "--preanalysis",
                             "--sigma-model", "3mm+0.5ppm,6mm+1ppm", "-o", out, "--no-report"},
                            options);
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_NE(run.standardOutput.find("Pre-analysis of planned vectors"), std::string::npos);
    EXPECT_EQ(run.standardOutput.find("Chi-square"), std::string::npos) << run.standardOutput;
    std::string text;
    ASSERT_TRUE(readWholeFile(folder.file("pre.statistics.json"), 1 << 24, text, error)) << error;
    const Json statistics = Json::parse(text);
    EXPECT_EQ(statistics["preanalysis"], true);
    EXPECT_TRUE(statistics["sigma0"]["aposteriori"].is_null());
    bool planned = false;
    for (const Json& p : statistics["relativePrecision"]) {
        planned = planned || (p["from"] == "BIRK" && p["to"] == "ZELG");
    }
    EXPECT_TRUE(planned) << "the planned BIRK-ZELG is a pair";
    ASSERT_TRUE(readWholeFile(folder.file("pre.html"), 1 << 24, text, error)) << error;
    EXPECT_NE(text.find("Pre-analysis: reliability of the planned vectors"), std::string::npos);
    EXPECT_EQ(text.find("Residuals by normalized residual"), std::string::npos);
    for (const std::vector<std::string>& refused :
         {std::vector<std::string>{"--model", "classic", "--preanalysis"},
          {"--model", "rigorous", "--preanalysis", "--snoop", "2"},
          {"--model", "rigorous", "--sigma-model", "5mm,5mm"},
          {"--model", "rigorous", "--preanalysis", "--sigma-model", "5mm"}}) {
        std::vector<std::string> arguments = {"adjust", project, "-o", folder.file("no.dat")};
        arguments.insert(arguments.end(), refused.begin(), refused.end());
        const auto bad = testing::runCommand(TORVEK_FRONT_BINARY, arguments, options);
        EXPECT_EQ(bad.exitCode, 1) << refused.back();
        EXPECT_FALSE(bad.standardError.empty());
        EXPECT_FALSE(std::filesystem::exists(folder.file("no.dat")));
    }
}
#endif

}  // namespace
}  // namespace torvek::front
