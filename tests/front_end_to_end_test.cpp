// torvek-front as a person uses it: adjusting the example, aborting, answering the warning box,
// and children that crash or end early. Runs build/torvek-front against build/torvek and against
// a stand-in child that misbehaves on request.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "dataset/adjusted_data_set.h"
#include "front/cli/adjust_command.h"
#include "front/documents/report_document.h"
#include "front/documents/results_document.h"
#include "front/documents/results_rtf.h"
#include "front/files/file_output.h"
#include "front/project/project_json.h"
#include "front/project/site_name_mapping.h"
#include "front/results/network_results.h"
#include "front/results/vector_misfit.h"
#include "support/command_runner.h"
#include "support/temp_directory.h"
#include "support/test_front_end.h"

#if defined(TORVEK_FRONT_BINARY)

namespace torvek::front {
namespace {

using torvek::testing::CommandOptions;
using torvek::testing::CommandResult;
using torvek::testing::fileExists;
using torvek::testing::readFileBytes;
using torvek::testing::runCommand;
using torvek::testing::TempDirectory;
using torvek::testing::writeFileBytes;

const std::string kExample = std::string(TORVEK_SOURCE_DIR) + "/examples/example-network.json";
const std::string kBlunder = std::string(TORVEK_SOURCE_DIR) + "/examples/example-blunder.json";

CommandResult front(const std::vector<std::string>& args, CommandOptions options = {}) {
    // The adjustment program is found next to torvek-front, as after a build.
    options.environment.emplace_back("TORVEK_BINARY", "");
    return runCommand(TORVEK_FRONT_BINARY, args, options);
}

CommandResult frontWithFake(const std::string& mode, const std::vector<std::string>& args,
                            CommandOptions options = {}) {
    options.environment.emplace_back("TORVEK_FAKE_MODE", mode);
    std::vector<std::string> all = args;
    all.push_back("--program");
    all.push_back(TORVEK_FAKE_CHILD_BINARY);
    return runCommand(TORVEK_FRONT_BINARY, all, options);
}

// Converts `file` with LibreOffice (`soffice`) to `format` ("pdf", "txt:Text"), into `dir`, with
// a profile of its own there.
CommandResult convertWithOffice(const std::string& soffice, const std::string& dir,
                                const std::string& file, const std::string& format) {
    CommandOptions options;
    options.timeoutSeconds = 300;
    return runCommand(soffice,
                      {"--headless", "-env:UserInstallation=file://" + dir + "/office",
                       "--convert-to", format, "--outdir", dir, file},
                      options);
}

bool contains(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

AdjustedDataSet readOutput(const std::string& path) {
    AdjustedDataSet ds;
    EXPECT_TRUE(ds.readFile(path)) << path;
    return ds;
}

// The example network with two more sites joined only to each other, far from the rest: the
// network falls apart into two pieces and the program asks whether to go on with the larger.
std::string disconnectedProject(const std::string& dir) {
    std::string text, error;
    EXPECT_TRUE(readWholeFile(kExample, kMaximumProjectSize, text, error)) << error;
    Json project = Json::parse(text);
    project["sites"].push_back({{"name", "ISLA"},
                                {"latitude", 47.3},
                                {"longitude", 8.6},
                                {"elevation", 400.0},
                                {"geoidHeight", 48.0}});
    project["sites"].push_back({{"name", "ISLB"},
                                {"latitude", 47.31},
                                {"longitude", 8.61},
                                {"elevation", 410.0},
                                {"geoidHeight", 48.0}});
    project["vectors"].push_back({{"from", "ISLA"},
                                  {"to", "ISLB"},
                                  {"dX", -880.0},
                                  {"dY", 680.5},
                                  {"dZ", 760.25},
                                  {"sigmas", {{"x", 0.004}, {"y", 0.004}, {"z", 0.006}}}});
    const std::string path = dir + "/split.json";
    writeFileBytes(path, project.dump(2));
    return path;
}

TEST(FrontEndToEnd, ExampleAdjustsWithChiSquarePassed) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    const std::string output = dir + "/example.dat";
    const CommandResult run = front({"adjust", kExample, "-o", output});
    ASSERT_EQ(run.exitCode, 0) << run.standardError << run.standardOutput;
    // Not a terminal: no progress bar, no colours.
    EXPECT_FALSE(contains(run.standardError, "\r"));
    EXPECT_FALSE(contains(run.standardOutput, "\x1b["));
    // The report first, then the summary.
    const std::size_t report = run.standardOutput.find("Adjustment Tests");
    const std::size_t summary = run.standardOutput.find("Chi-square test at 95.0 %: passed");
    ASSERT_NE(report, std::string::npos) << run.standardOutput;
    ASSERT_NE(summary, std::string::npos) << run.standardOutput;
    EXPECT_LT(report, summary);
    EXPECT_TRUE(contains(run.standardOutput, "Adjusted coordinates"));
    EXPECT_TRUE(contains(run.standardOutput, "EICH  47 04 0"));

    const AdjustedDataSet adjusted = readOutput(output);
    const NetworkResults results = collectResults(adjusted);
    EXPECT_TRUE(results.succeeded);
    EXPECT_TRUE(results.chiSquarePassed());
    EXPECT_FALSE(results.minimallyConstrained);
    EXPECT_EQ(results.iterations, 2);
    EXPECT_EQ(results.observations, 108);     // 36 vectors, three components each
    EXPECT_EQ(results.unknowns, 13 * 3 + 4);  // free sites, then the datum bias parameters
    EXPECT_EQ(results.flaggedCount(), 0);
    // The example was simulated from these true positions (tools/make_example.py); the
    // adjustment must land within four standard deviations of them.
    const std::map<std::string, std::array<double, 3>> truth = {
        {"BIRK", {47.0412, 8.2208, 612.4}},  {"EICH", {47.0675, 8.2754, 745.9}},
        {"FELS", {47.0931, 8.3317, 1021.3}}, {"HANG", {47.1148, 8.2486, 823.7}},
        {"KAPF", {47.0539, 8.3692, 904.2}},  {"LIND", {47.0216, 8.3051, 455.8}},
        {"MOOS", {47.0810, 8.2034, 531.6}},  {"RIED", {47.1103, 8.3905, 688.0}},
        {"SAGE", {47.0068, 8.3724, 437.5}},  {"SPIT", {47.1321, 8.3188, 1102.9}},
        {"TANN", {47.0995, 8.2812, 956.1}},  {"WALD", {47.0357, 8.4211, 811.4}},
        {"WEID", {47.0621, 8.1893, 498.3}},  {"ZELG", {47.1245, 8.4329, 742.6}},
        {"HOHB", {46.9952, 8.2517, 579.0}},  {"AUEN", {47.0731, 8.4405, 463.2}}};
    constexpr double kMetresPerDegree = 111200.0;  // of latitude, near enough for a bound
    for (const SiteResult& s : results.sites) {
        EXPECT_TRUE(s.adjusted) << s.name;
        EXPECT_LT(s.sigmaUp, 0.02) << s.name;
        const auto& t = truth.at(s.name);
        const double north = (s.adjustedLatitude - t[0]) * kMetresPerDegree;
        const double east =
            (s.adjustedLongitude - t[1]) * kMetresPerDegree * std::cos(t[0] * M_PI / 180);
        EXPECT_LE(std::fabs(north), 4 * s.sigmaNorth + 1e-4) << s.name;
        EXPECT_LE(std::fabs(east), 4 * s.sigmaEast + 1e-4) << s.name;
        EXPECT_LE(std::fabs(s.adjustedElevation - t[2]), 4 * s.sigmaUp + 1e-4) << s.name;
    }
    EXPECT_TRUE(fileExists(dir + "/example.input.dat"));

    // The RTF document and the HTML page beside the output data set.
    const std::string rtf = readFileBytes(dir + "/example.rtf");
    EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
    EXPECT_TRUE(contains(rtf, "Adjustment Tests"));
    int depth = 0;
    bool neverNegative = true;
    for (std::size_t i = 0; i < rtf.size(); ++i) {
        if (rtf[i] == '\\') {
            ++i;
        } else if (rtf[i] == '{') {
            ++depth;
        } else if (rtf[i] == '}') {
            neverNegative = neverNegative && --depth >= 0;
        }
    }
    EXPECT_TRUE(neverNegative);
    EXPECT_EQ(depth, 0);
    const std::string html = readFileBytes(dir + "/example.html");
    EXPECT_TRUE(contains(html, "Adjustment Tests"));
    EXPECT_TRUE(contains(html, "Critical value for Tau-test"));
    EXPECT_TRUE(contains(html, "<table class=\"geodetic\">"));
    EXPECT_TRUE(contains(html, "<table class=\"residuals\">"));
    EXPECT_TRUE(contains(html, "<svg"));
    EXPECT_TRUE(contains(html, "<tr class=\"passed\"><td>Chi-square test</td>"));

    // Every result of the real run survives export and import.
    const CommandResult exported = front({"export", output, "-o", dir + "/all.json"});
    ASSERT_EQ(exported.exitCode, 0) << exported.standardError;
    ASSERT_EQ(front({"import", dir + "/all.json", dir + "/back.dat", "--with-results"}).exitCode,
              0);
    EXPECT_EQ(readFileBytes(dir + "/back.dat"), readFileBytes(output));
}

// The textbook network through the rigorous model, as a surveyor runs it: the statistics file
// beside the documents with the published a-posteriori sigma0 (0.7075) and redundancy numbers that
// sum to the 27 degrees of freedom; a 5 cm blunder planted on F-C x is flagged (studentized 3.33
// against 3.018), and --snoop takes exactly that vector out first, which every output then shows.
TEST(FrontEndToEnd, RigorousModelFlagsAndSnoopsAPlantedBlunder) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    const std::string textbook =
        std::string(TORVEK_SOURCE_DIR) + "/tests/data/" + "textbook-network.gama-local.xml";
    CommandResult run = front({"adjust", textbook, "-o", dir + "/tb.dat", "--no-report"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    Json statistics = Json::parse(readFileBytes(dir + "/tb.statistics.json"));
    EXPECT_EQ(statistics["model"], "rigorous");
    EXPECT_NEAR(statistics["sigma0"]["aposteriori"].get<double>(), 0.7075, 5e-5);
    double redundancy = 0.0;
    for (const Json& v : statistics["vectors"]) {
        for (const Json& c : v["components"]) {
            redundancy += c["redundancy"].get<double>();
        }
    }
    EXPECT_NEAR(redundancy, 27.0, 1e-6);

    std::string planted = readFileBytes(textbook);
    const std::string fc = "<vec from=\"F\" to=\"C\" dx=\"10527.7852\"";
    ASSERT_NE(planted.find(fc), std::string::npos);
    planted.replace(planted.find(fc), fc.size(), "<vec from=\"F\" to=\"C\" dx=\"10527.8352\"");
    writeFileBytes(dir + "/blunder.xml", planted);
    run = front({"adjust", dir + "/blunder.xml", "-o", dir + "/b.dat", "--no-report", "--model",
                 "rigorous", "--snoop", "5", "--relative-tolerance", "20mm+50ppm"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    statistics = Json::parse(readFileBytes(dir + "/b.statistics.json"));
    ASSERT_EQ(statistics["snooping"].size(), 1u) << statistics["snooping"].dump();
    const Json& first = statistics["snooping"][0];
    EXPECT_EQ(first["from"].get<std::string>() + "-" + first["to"].get<std::string>(), "F-C");
    EXPECT_NEAR(std::fabs(first["studentized"].get<double>()), 3.33, 0.01);
    for (const Json& v : statistics["vectors"]) {
        const bool fc = v["from"] == "F" && v["to"] == "C";
        EXPECT_EQ(v["inUse"].get<bool>(), !fc);
    }
    EXPECT_TRUE(statistics.contains("relativeTolerance"));
    for (const char* document : {"/b.html", "/b.rtf"}) {
        EXPECT_TRUE(contains(readFileBytes(dir + document), "snooping")) << document;
    }
    // A rigorous option asked of the classic model is refused before anything is written.
    run = front({"adjust", textbook, "-o", dir + "/c.dat", "--model", "classic", "--snoop", "2"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(fileExists(dir + "/c.dat"));
}

TEST(FrontEndToEnd, BlunderIsFlaggedByTheTauTest) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    const CommandResult run =
        front({"adjust", kBlunder, "-o", dir + "/blunder.dat", "--no-report"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_FALSE(contains(run.standardOutput, "Adjustment Tests"));  // --no-report
    EXPECT_TRUE(contains(run.standardOutput, "Chi-square test at 95.0 %: FAILED"))
        << run.standardOutput;
    EXPECT_TRUE(contains(run.standardOutput, "TANN-SPIT")) << run.standardOutput;
    const NetworkResults results = collectResults(readOutput(dir + "/blunder.dat"));
    ASSERT_GE(results.flaggedCount(), 1);
    // The largest normalized residual is the blundered vector's.
    const VectorResult* worst = nullptr;
    for (const VectorResult& v : results.vectors) {
        if (worst == nullptr || v.largestNormalized > worst->largestNormalized) {
            worst = &v;
        }
    }
    EXPECT_EQ(worst->from + "-" + worst->to, "TANN-SPIT");
    EXPECT_TRUE(worst->flagged);
    EXPECT_TRUE(contains(readFileBytes(dir + "/blunder.html"), "<tr class=\"flagged\">"));
}

TEST(FrontEndToEnd, AbortAtAStageEndsTheRunWithoutResults) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    const CommandResult run =
        front({"adjust", kExample, "-o", dir + "/a.dat", "--abort-at-stage", "49"});
    EXPECT_EQ(run.exitCode, 2) << run.standardError;
    EXPECT_TRUE(contains(run.standardError, "Aborting the adjustment at stage 49"));
    EXPECT_TRUE(contains(run.standardError, "The adjustment was aborted at stage 49."));
    EXPECT_TRUE(contains(run.standardError, "left as they were")) << run.standardError;
    EXPECT_TRUE(contains(run.standardOutput, "Adjustment aborted by user"));
    EXPECT_TRUE(contains(run.standardOutput, "did not succeed"));
    // An aborted run puts nothing into place.
    for (const char* name : {"/a.dat", "/a.rtf", "/a.html", "/a.input.dat"})
        EXPECT_FALSE(fileExists(dir + name)) << name;
}

TEST(FrontEndToEnd, CtrlCAbortsAtTheNextPoll) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(front({"import", kExample, dir + "/in.dat"}).exitCode, 0);
    CommandOptions options;
    // To the whole process group, as a terminal sends it, once the child has started (its first
    // act is to write the output file) and made a few polls.
    options.interruptAfterMs = 600;
    options.interruptWhenExists = dir + "/ready";
    options.environment.emplace_back("TORVEK_FAKE_READY", dir + "/ready");
    const CommandResult run =
        frontWithFake("slow", {"adjust", dir + "/in.dat", "-o", dir + "/out.dat"}, options);
    EXPECT_EQ(run.exitCode, 2) << run.standardError;
    EXPECT_TRUE(contains(run.standardError, "at your request")) << run.standardError;
    // The child ignored the signal and stopped through the link, after some polls.
    EXPECT_TRUE(contains(run.standardError, "aborted at stage ")) << run.standardError;
    EXPECT_FALSE(contains(run.standardError, "aborted at stage 0\n"));
    EXPECT_TRUE(contains(run.standardOutput, "Adjustment aborted by user"));
    EXPECT_FALSE(contains(run.standardOutput, "stage 99"));
}

TEST(FrontEndToEnd, SecondCtrlCKillsAChildThatNoLongerPolls) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(front({"import", kExample, dir + "/in.dat"}).exitCode, 0);
    CommandOptions options;
    options.interruptAfterMs = 400;
    options.interruptRepeatMs = 400;
    options.interruptWhenExists = dir + "/ready";
    options.environment.emplace_back("TORVEK_FAKE_READY", dir + "/ready");
    options.timeoutSeconds = 30;
    const CommandResult run =
        frontWithFake("stall", {"adjust", dir + "/in.dat", "-o", dir + "/out.dat"}, options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 3) << run.standardError;
    EXPECT_TRUE(contains(run.standardError, "press Ctrl-C again"));
    EXPECT_TRUE(contains(run.standardError, "stopped at your request")) << run.standardError;
}

TEST(FrontEndToEnd, WarningBoxCancelAndOk) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    const std::string project = disconnectedProject(dir);

    const CommandResult cancelled =
        front({"adjust", project, "-o", dir + "/c.dat", "--warning-answer", "cancel"});
    EXPECT_EQ(cancelled.exitCode, 2) << cancelled.standardError;
    EXPECT_TRUE(contains(cancelled.standardError, "*** The network connectivity test ***"));
    EXPECT_TRUE(contains(cancelled.standardError, "Do you want to continue with the adjustment?"));
    EXPECT_TRUE(contains(cancelled.standardError, "cancelled at the connectivity warning"));
    EXPECT_TRUE(contains(cancelled.standardOutput,
                         "Adjustment aborted due to Network connectivity test failure."));
    EXPECT_FALSE(fileExists(dir + "/c.dat"));  // a cancelled run puts nothing into place

    const CommandResult accepted =
        front({"adjust", project, "-o", dir + "/o.dat", "--warning-answer", "ok"});
    EXPECT_EQ(accepted.exitCode, 0) << accepted.standardError;
    EXPECT_TRUE(contains(accepted.standardOutput, "ISLA  not adjusted")) << accepted.standardOutput;
    const NetworkResults results = collectResults(readOutput(dir + "/o.dat"));
    EXPECT_TRUE(results.succeeded);
    EXPECT_TRUE(results.chiSquarePassed());
    EXPECT_FALSE(results.sites.back().adjusted);
    EXPECT_TRUE(results.sites.front().adjusted);
}

TEST(FrontEndToEnd, WarningBoxAskedOnStandardInput) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    const std::string project = disconnectedProject(dir);
    struct Case {
        std::string typed;
        int exitCode;
        std::string echo;
    };
    for (const Case& c : {Case{"ok\n", 0, "OK"}, Case{"\n", 0, "OK"}, Case{"YES\n", 0, "OK"},
                          Case{"no\n", 2, "Cancel"}, Case{"", 2, "No answer: Cancel"}}) {
        CommandOptions options;
        options.standardInput = c.typed;
        const CommandResult run =
            front({"adjust", project, "-o", dir + "/s.dat", "--no-report"}, options);
        EXPECT_EQ(run.exitCode, c.exitCode) << "typed " << c.typed << run.standardError;
        EXPECT_TRUE(contains(run.standardError, "[OK/cancel] "));
        EXPECT_TRUE(contains(run.standardError, c.echo + "\n")) << run.standardError;
    }
}

TEST(FrontEndToEnd, ChildrenThatCrashOrEndEarlyAreReportedWithTheirStatus) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(front({"import", kExample, dir + "/in.dat"}).exitCode, 0);
    // The classic model: the stand-in takes the place of torvek.
    const std::vector<std::string> adjust = {"adjust",         dir + "/in.dat", "-o",
                                             dir + "/out.dat", "--model",       "classic"};

    CommandResult run = frontWithFake("crash:5", adjust);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(contains(run.standardError,
                         "torvek was killed by signal 11 (Segmentation fault) before finishing "
                         "its run"))
        << run.standardError;
    // What it did send is still shown; nothing is put into place.
    EXPECT_TRUE(contains(run.standardOutput, "stage 5")) << run.standardOutput;
    EXPECT_FALSE(fileExists(dir + "/out.dat"));
    EXPECT_FALSE(fileExists(dir + "/out.html"));

    run = frontWithFake("exit:3:7", adjust);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(contains(run.standardError, "torvek exited with status 7 before finishing its run"))
        << run.standardError;
    EXPECT_TRUE(contains(run.standardError, "chatter from the fake child"));

    run = front({"adjust", dir + "/in.dat", "-o", dir + "/out.dat", "--program", "/bin/false",
                 "--model", "classic"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(contains(run.standardError, "torvek exited with status 1 before finishing its run"))
        << run.standardError;

    run = front({"adjust", dir + "/in.dat", "-o", dir + "/out.dat", "--program",
                 dir + "/no-such-program", "--model", "classic"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(contains(run.standardError, "could not be started"));
    EXPECT_TRUE(contains(run.standardError, "No such file or directory"));

    // A frame too long to be real closes that endpoint; the run goes on over the other.
    run = frontWithFake("oversized", adjust);
    EXPECT_EQ(run.exitCode, 2) << run.standardError;
    EXPECT_TRUE(contains(run.standardError, "a frame longer than")) << run.standardError;
}

TEST(FrontEndToEnd, BadInputStopsBeforeAnythingRuns) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    writeFileBytes(dir + "/bad.json", "{\"sites\": [}");
    CommandResult run = front({"adjust", dir + "/bad.json", "-o", dir + "/out.dat"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.standardError, dir + "/bad.json: line 1, column 12"))
        << run.standardError;
    EXPECT_FALSE(fileExists(dir + "/out.dat"));
    EXPECT_FALSE(fileExists(dir + "/out.input.dat"));

    ASSERT_EQ(front({"import", kExample, dir + "/in.dat"}).exitCode, 0);
    run = front({"adjust", dir + "/in.dat", "-o", dir + "/./in.dat"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.standardError, "would replace an input")) << run.standardError;

    run = front({"adjust", dir + "/missing.dat"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(front({"frobnicate"}).exitCode, 1);
    EXPECT_EQ(front({"adjust", kExample, "--abort-at-stage"}).exitCode, 1);
    EXPECT_EQ(front({"help"}).exitCode, 0);
}

TEST(FrontEndToEnd, ShortSiteNamesAdjustOnceTheyArePadded) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    std::string text, error;
    ASSERT_TRUE(readWholeFile(kExample, kMaximumProjectSize, text, error)) << error;
    // Rename every site to one or two letters (and the vector ends with them).
    Json project = Json::parse(text);
    std::map<std::string, std::string> renamed;
    for (Json& site : project["sites"]) {
        const std::string name =
            std::string(1, char('A' + renamed.size() % 26)) + (renamed.size() >= 26 ? "2" : "");
        renamed[site["name"]] = name;
        site["name"] = name;
    }
    for (Json& vector : project["vectors"]) {
        vector["from"] = renamed[vector["from"]];
        vector["to"] = renamed[vector["to"]];
    }
    writeFileBytes(dir + "/short.json", project.dump(2));
    const CommandResult run = front({"adjust", dir + "/short.json", "-o", dir + "/short.dat"});
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_TRUE(contains(run.standardError,
                         "padded with blanks to four characters in the data "
                         "set, so that the program finds their vectors: "
                         "\"A\" as \"A   \""))
        << run.standardError;
    const NetworkResults results = collectResults(readOutput(dir + "/short.dat"));
    EXPECT_TRUE(results.succeeded);
    EXPECT_TRUE(results.chiSquarePassed());

    // The same data set with the names as typed (NUL-padded) loses every vector: their labels
    // right-align the names and no longer match, and the run ends for lack of redundancy.
    AdjustedDataSet padded = readOutput(dir + "/short.input.dat");
    for (bool more = padded.firstSite(); more; more = padded.nextSite()) {
        padded.currentSite()->name = SiteName(projectSiteName(padded.siteName()).c_str());
    }
    for (bool more = padded.firstVector(); more; more = padded.nextVector()) {
        VectorRecord& v = *padded.currentVector();
        v.fromSite = SiteName(projectSiteName(v.fromSite.data()).c_str());
        v.toSite = SiteName(projectSiteName(v.toSite.data()).c_str());
    }
    ASSERT_TRUE(padded.writeFile(dir + "/raw.dat"));
    const auto raw = torvek::testing::runTorvek({dir + "/raw.dat", dir + "/raw-out.dat"});
    EXPECT_TRUE(contains(raw.reportText(), "lack of redundancy")) << raw.reportText();
    // Given such a data set, the front end says why before it runs; export and import repair it.
    const CommandResult warned = front({"adjust", dir + "/raw.dat", "--no-report"});
    EXPECT_EQ(warned.exitCode, 2);
    EXPECT_TRUE(contains(warned.standardError,
                         "warning: site \"A\" has fewer than four characters in the data set"))
        << warned.standardError;
    ASSERT_EQ(front({"export", dir + "/raw.dat", "-o", dir + "/raw.json"}).exitCode, 0);
    ASSERT_EQ(front({"adjust", dir + "/raw.json", "--no-report"}).exitCode, 0);
}

TEST(FrontEndToEnd, EveryReportPieceIsKeptInOrder) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(front({"import", kExample, dir + "/in.dat"}).exitCode, 0);
    const auto run = torvek::testing::runTorvek({dir + "/in.dat", dir + "/out.dat"});
    ReportDocument document;
    std::vector<std::string> plainPieces;
    for (const auto& frame : run.frames) {
        if (frame.message == link::Message::kReportPiece) {
            document.addPiece(frame.dataWord, frame.text);
            if (frame.dataWord == link::kDataWordAtSelection) {
                plainPieces.push_back(frame.text);
            }
        }
    }
    ASSERT_GT(plainPieces.size(), 20u);
    const std::string text = document.plainText();
    std::size_t at = 0;
    for (const std::string& piece : plainPieces) {
        // Line feeds separate lines in the document, so compare piece by piece line.
        std::size_t start = 0;
        while (start <= piece.size()) {
            const std::size_t end = std::min(piece.find('\n', start), piece.size());
            const std::string part = piece.substr(start, end - start);
            const std::size_t found = text.find(part, at);
            ASSERT_NE(found, std::string::npos) << "missing: \"" << part << "\"";
            at = found + part.size();
            start = end + 1;
        }
    }
}

// Report pieces in a long row, whose answers the front end sends ahead: each is answered as
// delivered, once, and the report holds them all in order; the progress endpoint is answered as
// always.
TEST(FrontEndToEnd, ReportPiecesAnsweredAheadAreAllDeliveredInOrder) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(front({"import", kExample, dir + "/in.dat"}).exitCode, 0);
    const CommandResult run = frontWithFake(
        "pieces", {"adjust", dir + "/in.dat", "-o", dir + "/out.dat", "--model", "classic"});
    EXPECT_TRUE(contains(run.standardError, "pieces delivered: 300 of 300")) << run.standardError;
    EXPECT_FALSE(contains(run.standardError, "protocol")) << run.standardError;
    std::size_t at = 0;
    for (int n = 0; n < 300; ++n) {
        const std::size_t found = run.standardOutput.find("piece " + std::to_string(n) + "\n", at);
        ASSERT_NE(found, std::string::npos) << "piece " << n << "\n" << run.standardOutput;
        at = found;
    }
}

// The example with and without its blunder, the blundered vector switched off in both: the run
// no longer sees it, so both adjust alike, and the difference of the vector's two misfits is the
// 6 cm height error the example was made with (tools/make_example.py). The misfits of the vectors
// in use reproduce the run's own residuals.
TEST(FrontEndToEnd, VectorsLeftOutShowTheirMisfits) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    std::vector<std::array<double, 3>> misfit;
    AdjustedDataSet output;
    for (const std::string& example : {kExample, kBlunder}) {
        std::string text, error;
        ASSERT_TRUE(readWholeFile(example, kMaximumProjectSize, text, error)) << error;
        Json project = Json::parse(text);
        for (Json& v : project["vectors"]) {
            if (v["from"] == "TANN" && v["to"] == "SPIT") {
                v["inUse"] = false;
            }
        }
        writeFileBytes(dir + "/off.json", project.dump(2));
        const CommandResult run = front({"adjust", dir + "/off.json", "-o", dir + "/off.dat",
                                         "--no-report", "--model", "classic"});
        ASSERT_EQ(run.exitCode, 0) << run.standardError;
        EXPECT_TRUE(contains(run.standardOutput, "Chi-square test at 95.0 %: passed"))
            << run.standardOutput;
        EXPECT_TRUE(contains(run.standardOutput, "Vectors left out of the adjustment"));
        output = readOutput(dir + "/off.dat");
        const NetworkResults results = collectResults(output);
        const auto left = std::find_if(results.vectors.begin(), results.vectors.end(),
                                       [](const VectorResult& v) { return v.excluded; });
        ASSERT_NE(left, results.vectors.end());
        EXPECT_EQ(left->from + "-" + left->to, "TANN-SPIT");
        ASSERT_TRUE(left->hasMisfit);
        misfit.push_back(left->misfit);
        if (example == kBlunder) {
            EXPECT_GT(std::fabs(left->normalizedMisfit[2]), results.tauCriticalValue);
        }
    }
    const double blunderUp = 0.060;  // metres, added to the measured vector's height
    EXPECT_NEAR(misfit[1][0] - misfit[0][0], 0.0, 2e-4);
    EXPECT_NEAR(misfit[1][1] - misfit[0][1], 0.0, 2e-4);
    EXPECT_NEAR(misfit[1][2] - misfit[0][2], -blunderUp, 2e-4);

    const std::vector<VectorMisfit> misfits = vectorMisfits(output);
    int compared = 0;
    for (std::size_t i = 0; i < output.vectors().size(); ++i) {
        const VectorRecord& v = output.vectors()[i];
        if (v.inUse == 0) {
            continue;
        }
        ASSERT_TRUE(misfits[i].available);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(misfits[i].misfit[k], v.vectorTestResults[6 + k], 5e-5) << i << " " << k;
            EXPECT_NEAR(misfits[i].normalized[k], v.vectorTestResults[9 + k], 0.01) << i;
        }
        ++compared;
    }
    EXPECT_EQ(compared, 35);
}

// The result files as a client and a GIS receive them: the GeoJSON and the KML open in GDAL's
// reader with every feature, and the RTF converts in LibreOffice to pages holding the header and
// the coordinate tables. The tools come with tools/setup.sh.
TEST(FrontEndToEnd, ResultDocumentsOpenInStandardReaders) {
    const std::string ogrinfo = torvek::testing::programOnPath("ogrinfo");
    const std::string soffice = torvek::testing::programOnPath("soffice");
    const std::string pdftotext = torvek::testing::programOnPath("pdftotext");
    ASSERT_FALSE(ogrinfo.empty() || soffice.empty() || pdftotext.empty())
        << "ogrinfo (gdal-bin), soffice (libreoffice-writer-nogui) or pdftotext (poppler-utils) "
           "is missing: run tools/setup.sh";
    const TempDirectory folder;
    const std::string& dir = folder.path();
    std::string text, error;
    ASSERT_TRUE(readWholeFile(kExample, kMaximumProjectSize, text, error)) << error;
    Json project = Json::parse(text);
    project["client"] = "Canton of Hillside, survey office";
    project["surveyor"] = "A. Surveyor";
    project["datum"] = "ETRS89";
    project["epoch"] = "2024.35";
    writeFileBytes(dir + "/net.json", project.dump(2));
    const CommandResult run =
        front({"adjust", dir + "/net.json", "-o", dir + "/net.dat", "--no-report", "--crs", "utm"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_TRUE(contains(run.standardOutput, "Grid coordinates in EPSG:32632"))
        << run.standardOutput;

    struct Layer {
        std::string file, name;
        int features;
    };
    // The layer is named after the project's title, not the file's name.
    const std::string title = project["title"].get<std::string>();
    for (const Layer& layer : {Layer{"net.geojson", title, 16 + 36}, Layer{"net.kml", "Sites", 16},
                               Layer{"net.kml", "Vectors", 36}}) {
        const CommandResult info = torvek::testing::runCommand(
            ogrinfo, {"-ro", "-so", dir + "/" + layer.file, layer.name});
        ASSERT_EQ(info.exitCode, 0) << layer.file << ": " << info.standardError;
        EXPECT_TRUE(
            contains(info.standardOutput, "Feature Count: " + std::to_string(layer.features)))
            << layer.file << " " << layer.name << ":\n"
            << info.standardOutput;
    }

    const CommandResult convert = convertWithOffice(soffice, dir, dir + "/net.rtf", "pdf");
    ASSERT_EQ(convert.exitCode, 0) << convert.standardError;
    const CommandResult pages =
        torvek::testing::runCommand(pdftotext, {"-layout", dir + "/net.pdf", "-"});
    ASSERT_EQ(pages.exitCode, 0) << pages.standardError;
    const std::string& pdf = pages.standardOutput;
    for (const char* expected :
         {"Canton of Hillside, survey office", "A. Surveyor", "ETRS89", "2024.35",
          "Adjustment Tests", "Geodetic coordinates", "47 04 02.9", "Geocentric coordinates",
          "Grid coordinates, EPSG:32632", "Residuals by normalized residual",
          "within its limits"}) {
        EXPECT_TRUE(contains(pdf, expected)) << expected;
    }
    // The sections run on from page to page: the 16-site network with grid coordinates fills
    // seven (it took a page for the header and one for each table before).
    EXPECT_LE(std::count(pdf.begin(), pdf.end(), '\f'), 7);
}

const std::string kTextbook =
    std::string(TORVEK_SOURCE_DIR) + "/tests/data/textbook-network.gps.txt";

// The textbook network as a surveyor's two files: its vectors and approximate positions with site
// A renamed "BM 2041-A" (quoted, as names with blanks and dashes are written), and its control,
// A (at `controlX`) and B held, apart.
void writeTextbookFiles(const std::string& dir, const std::string& controlX = "402.35087") {
    std::string vectors, control;
    std::istringstream lines(readFileBytes(kTextbook));
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("G1 A-", 0) == 0 || line.rfind("C A ", 0) == 0) {
            line.replace(line.find(" A") + 1, 1, "\"BM 2041-A\"");
        } else if (line.rfind("G1 ", 0) == 0 && line.find("-A ") != std::string::npos) {
            line.replace(line.find("-A ") + 1, 1, "\"BM 2041-A\"");
        }
        // Control goes to its own file; the vectors' file keeps its position, free.
        const bool isControl = line.rfind("C \"BM", 0) == 0 || line.rfind("C B ", 0) == 0;
        control += isControl ? line + "\n" : "";
        vectors += (isControl ? line.substr(0, line.find(" !")) : line) + "\n";
    }
    control.replace(control.find("402.35087"), 9, controlX);
    writeFileBytes(dir + "/vectors.gps", vectors);
    writeFileBytes(dir + "/control.gps", control);
}

// Vectors and control from two files into one run; the run keeps the full names beside its data
// set, export writes them, and says so when only the codes are left. Control that places a site
// apart from the vectors' file stops the run before it starts.
TEST(FrontEndToEnd, SurveyFilesTogetherKeepTheirFullNames) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    writeTextbookFiles(dir);
    const CommandResult run = front({"adjust", dir + "/vectors.gps", dir + "/control.gps", "-o",
                                     dir + "/out/net.dat", "--no-report", "--model", "classic"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(readOutput(dir + "/out/net.dat").siteCount(), 6);
    CommandResult exported = front({"export", dir + "/out/net.dat", "-o", dir + "/net.json"});
    ASSERT_EQ(exported.exitCode, 0) << exported.standardError;
    EXPECT_FALSE(contains(exported.standardError, "four-character codes"));
    EXPECT_TRUE(contains(readFileBytes(dir + "/net.json"), "\"name\": \"BM 2041-A\""));
    ASSERT_EQ(std::remove((dir + "/out/net.names.json").c_str()), 0);
    exported = front({"export", dir + "/out/net.dat", "--csv", "-o", dir + "/net.csv"});
    ASSERT_EQ(exported.exitCode, 0) << exported.standardError;
    EXPECT_TRUE(contains(exported.standardError, "written by their four-character codes"));
    EXPECT_FALSE(contains(readFileBytes(dir + "/net.csv"), "BM 2041-A"));

    // The import of both files to a data set keeps the names as the run does.
    ASSERT_EQ(
        front({"import", dir + "/vectors.gps", dir + "/control.gps", dir + "/in.dat"}).exitCode, 0);
    EXPECT_TRUE(contains(readFileBytes(dir + "/in.names.json"), "BM 2041-A"));

    writeTextbookFiles(dir, "402.36087");  // 10 mm east of the vectors' file
    const CommandResult refused = front({"adjust", dir + "/vectors.gps", dir + "/control.gps", "-o",
                                         dir + "/bad/net.dat", "--no-report"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(contains(refused.standardError, "\"BM 2041-A\" is placed twice"))
        << refused.standardError;
    EXPECT_TRUE(contains(refused.standardError, "X 402.3609 "));
    EXPECT_FALSE(fileExists(dir + "/bad/net.dat"));
}

// The RTF of a six-site network, header, report, statistics, coordinates and tests, fits on four
// A4 pages once LibreOffice has set it (only where LibreOffice is installed).
TEST(FrontEndToEnd, SixSiteReportFitsFourPages) {
    const std::string soffice = torvek::testing::programOnPath("soffice");
    const std::string pdfinfo = torvek::testing::programOnPath("pdfinfo");
    if (soffice.empty() || pdfinfo.empty()) {
        GTEST_SKIP() << "soffice or pdfinfo is not installed";
    }
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(front({"adjust", kTextbook, "-o", dir + "/tb.dat", "--no-report"}).exitCode, 0);
    ASSERT_EQ(convertWithOffice(soffice, dir, dir + "/tb.rtf", "pdf").exitCode, 0);
    const CommandResult info = runCommand(pdfinfo, {dir + "/tb.pdf"});
    const std::size_t at = info.standardOutput.find("Pages:");
    ASSERT_NE(at, std::string::npos) << info.standardOutput;
    EXPECT_LE(std::stoi(info.standardOutput.substr(at + 6)), 4);
}

// A table of more than a thousand rows states its cells' formatting once a row; LibreOffice still
// reads every cell whole and in its place, across every change of alignment (cells beginning with
// letters and digits after left and right ones), flagged rows among them.
TEST(FrontEndToEnd, LongRtfTableReadsCellByCellInLibreOffice) {
    const std::string soffice = torvek::testing::programOnPath("soffice");
    if (soffice.empty()) {
        GTEST_SKIP() << "soffice is not installed";
    }
    ResultsDocument document;
    document.title = "long table";
    ResultTable table;
    table.id = "long";
    table.title = "Long table";
    table.columns = {leftColumn("Name"), rightColumn("A"), leftColumn("Word"), rightColumn("B")};
    constexpr int kRows = 1200;
    for (int i = 1; i <= kRows; ++i) {
        char name[16], word[16];
        std::snprintf(name, sizeof name, "R%04d", i);
        std::snprintf(word, sizeof word, "w%04d", i);
        table.rows.push_back({{name, std::to_string(i) + ".25", word, "-" + std::to_string(i)},
                              i % 100 == 0 ? RowStyle::kFlagged : RowStyle::kNormal});
    }
    document.tables.push_back(table);
    const TempDirectory folder;
    const std::string& dir = folder.path();
    writeFileBytes(dir + "/long.rtf", renderRtfDocument(document, ReportDocument{}, ""));
    ASSERT_EQ(convertWithOffice(soffice, dir, dir + "/long.rtf", "txt:Text").exitCode, 0);
    // The text export gives each cell a line of its own.
    std::istringstream text(readFileBytes(dir + "/long.txt"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    int found = 0;
    for (std::size_t k = 0; k + 3 < lines.size(); ++k) {
        if (lines[k].size() == 5 && lines[k][0] == 'R' && lines[k] != "R0000") {
            const int i = std::stoi(lines[k].substr(1));
            EXPECT_EQ(lines[k + 1], std::to_string(i) + ".25") << lines[k];
            EXPECT_EQ(lines[k + 2], lines[k].replace(0, 1, "w")) << i;
            EXPECT_EQ(lines[k + 3], "-" + std::to_string(i)) << i;
            ++found;
        }
    }
    EXPECT_EQ(found, kRows);
}

TEST(FrontEndToEnd, ExportWritesGisFilesWithoutReplacingTheDataSet) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(front({"adjust", kExample, "-o", dir + "/x.dat", "--no-report"}).exitCode, 0);
    CommandResult run = front({"export", dir + "/x.dat", "--geojson", dir + "/g.json", "--kml",
                               dir + "/k.kml", "--crs", "EPSG:25832"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_TRUE(run.standardOutput.empty());  // only the GIS files were asked for
    const Json geo = Json::parse(readFileBytes(dir + "/g.json"));
    EXPECT_EQ(geo["features"][0]["properties"]["gridSystem"], "EPSG:25832");
    EXPECT_TRUE(contains(readFileBytes(dir + "/k.kml"), "<SimpleData name=\"gridEasting\">"));

    const std::string before = readFileBytes(dir + "/x.dat");
    run = front({"export", dir + "/x.dat", "--kml", dir + "/./x.dat"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(readFileBytes(dir + "/x.dat"), before);
    EXPECT_EQ(front({"export", dir + "/x.dat", "--crs", "utm"}).exitCode, 1);
    run = front({"export", dir + "/x.dat", "--geojson", dir + "/h.json", "--crs", "EPSG:4326"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.standardError, "not a projected coordinate system"));
    run = front({"adjust", kExample, "-o", dir + "/y.dat", "--crs", "nonsense"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(fileExists(dir + "/y.dat"));

    Json project = Json::parse(readFileBytes(kExample));
    project["epoch"] = 2024.35;
    writeFileBytes(dir + "/epoch.json", project.dump());
    run = front({"adjust", dir + "/epoch.json", "-o", dir + "/z.dat"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.standardError, "epoch: must be a text in quotes"))
        << run.standardError;
    // The data set has no room for the header texts: an import says they stay behind.
    project["epoch"] = "2024.35";
    writeFileBytes(dir + "/epoch.json", project.dump());
    run = front({"import", dir + "/epoch.json", dir + "/epoch.dat"});
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_TRUE(contains(run.standardError, "the data set does not keep \"epoch\""))
        << run.standardError;
}

TEST(FrontEndToEnd, EngineChosenBySitesInUseUnlessNamed) {
    struct Case {
        EngineChoice asked;
        int sites;
        EngineChoice runs;
    } cases[] = {
        {EngineChoice::kAuto, 2, EngineChoice::kStandard},
        {EngineChoice::kAuto, kStandardEngineSiteLimit, EngineChoice::kStandard},
        {EngineChoice::kAuto, kStandardEngineSiteLimit + 1, EngineChoice::kLarge},
        {EngineChoice::kStandard, 100000, EngineChoice::kStandard},
        {EngineChoice::kLarge, 2, EngineChoice::kLarge},
    };
    for (const Case& c : cases)
        EXPECT_EQ(chooseEngine(c.asked, c.sites), c.runs) << c.sites;
}

#if defined(TORVEK_LARGE_BINARY)
// --timings names every phase in the order a run goes through them, with the program's peak.
TEST(FrontEndToEnd, TimingsNameEveryPhaseInOrder) {
    TempDirectory folder;
    const CommandResult result = front({"adjust", kExample, "-o", folder.path() + "/t.dat",
                                        "--model", "classic", "--no-report", "--timings"});
    EXPECT_EQ(result.exitCode, kExitSucceeded) << result.standardError;
    std::size_t at = 0;
    for (const char* phase : {"import", "checks", "run", "results", "documents", "placing",
                              "terminal", "total", "torvek peak resident memory"}) {
        const std::size_t found = result.standardError.find("  " + std::string(phase), at);
        ASSERT_NE(found, std::string::npos) << phase << "\n" << result.standardError;
        at = found;
    }
}

TEST(FrontEndToEnd, EngineLargeRunsTheSparseEngineAndSaysSo) {
    TempDirectory folder;
    const std::string output = folder.path() + "/large.dat";
    CommandOptions options;
    options.environment.emplace_back("TORVEK_LARGE_BINARY", "");
    const CommandResult result = front(
        {"adjust", kExample, "-o", output, "--engine", "large", "--colour", "never"}, options);
    EXPECT_EQ(result.exitCode, kExitSucceeded) << result.standardError;
    EXPECT_TRUE(contains(result.standardError + result.standardOutput, "running torvek-large"));
    EXPECT_TRUE(contains(result.standardOutput + result.standardError, "Engine: sparse;"));
    EXPECT_EQ(readOutput(output).adjustmentSucceeded(), 1);
    EXPECT_EQ(front({"adjust", kExample, "-o", output, "--engine", "huge"}).exitCode,
              kExitBadInput);
}
#endif

}  // namespace
}  // namespace torvek::front

#endif  // TORVEK_FRONT_BINARY
