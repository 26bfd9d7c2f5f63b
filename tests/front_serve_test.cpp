// The browser workspace's server without a browser: who may use it (token, host, origin), what
// the page's edits do to the project, and runs that end cleanly when the server stops. The page
// itself is tested in headless Chromium (tests/browser).
#include <gtest/gtest.h>
#include <httplib.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>
#include <map>
#include <regex>
#include <string>
#include <thread>

#include "front/files/file_output.h"
#include "front/serve/access_guard.h"
#include "front/serve/workspace_server.h"
#include "support/command_runner.h"
#include "support/synthetic_network.h"
#include "support/temp_directory.h"

#if defined(TORVEK_FAKE_CHILD_BINARY)

namespace torvek::front::serve {
namespace {

using torvek::testing::TempDirectory;

const std::string kExample = std::string(TORVEK_SOURCE_DIR) + "/examples/example-network.json";
constexpr int kPort = 8123;
const std::string kToken(64, 'a');

RequestFacts allowedRequest() {
    RequestFacts r;
    r.host = "127.0.0.1:8123";
    r.authorization = "Bearer " + kToken;
    return r;
}

TEST(ServeAccess, EveryRuleOfTheGuard) {
    struct Case {
        const char* what;
        void (*change)(RequestFacts&);
        Verdict expected;
    };
    const Case cases[] = {
        {"token as bearer", [](RequestFacts&) {}, Verdict::kAllowed},
        {"localhost", [](RequestFacts& r) { r.host = "localhost:8123"; }, Verdict::kAllowed},
        {"another port", [](RequestFacts& r) { r.host = "127.0.0.1:8124"; }, Verdict::kForeignHost},
        {"a rebound name", [](RequestFacts& r) { r.host = "attacker.example:8123"; },
         Verdict::kForeignHost},
        {"no host", [](RequestFacts& r) { r.host.clear(); }, Verdict::kForeignHost},
        {"own origin", [](RequestFacts& r) { r.origin = "http://127.0.0.1:8123"; },
         Verdict::kAllowed},
        {"origin of another port", [](RequestFacts& r) { r.origin = "http://127.0.0.1:9999"; },
         Verdict::kForeignOrigin},
        {"https origin", [](RequestFacts& r) { r.origin = "https://127.0.0.1:8123"; },
         Verdict::kForeignOrigin},
        {"null origin", [](RequestFacts& r) { r.origin = "null"; }, Verdict::kForeignOrigin},
        {"same-site fetch", [](RequestFacts& r) { r.fetchSite = "same-site"; },
         Verdict::kForeignOrigin},
        {"cross-site fetch", [](RequestFacts& r) { r.fetchSite = "cross-site"; },
         Verdict::kForeignOrigin},
        {"typed address", [](RequestFacts& r) { r.fetchSite = "none"; }, Verdict::kAllowed},
        {"no token", [](RequestFacts& r) { r.authorization.clear(); }, Verdict::kNoToken},
        {"wrong token",
         [](RequestFacts& r) { r.authorization = "Bearer " + std::string(63, 'a') + "b"; },
         Verdict::kWrongToken},
        {"a prefix of the token",
         [](RequestFacts& r) { r.authorization = "Bearer " + kToken.substr(0, 32); },
         Verdict::kWrongToken},
        {"the token and more", [](RequestFacts& r) { r.authorization += "a"; },
         Verdict::kWrongToken},
        {"token in the address",
         [](RequestFacts& r) {
             r.authorization.clear();
             r.queryToken = kToken;
         },
         Verdict::kAllowed},
        {"token in this server's cookie",
         [](RequestFacts& r) {
             r.authorization.clear();
             r.cookies = "other=1; torvek-token-8123=" + kToken + "; x=y";
         },
         Verdict::kAllowed},
        {"token in another server's cookie",
         [](RequestFacts& r) {
             r.authorization.clear();
             r.cookies = "torvek-token-8124=" + kToken;
         },
         Verdict::kNoToken},
    };
    for (const Case& c : cases) {
        RequestFacts request = allowedRequest();
        c.change(request);
        EXPECT_EQ(checkRequest(request, kToken, kPort), c.expected) << c.what;
    }
}

TEST(ServeAccess, TokensAreFreshAndLongEnough) {
    const std::string a = makeAccessToken(), b = makeAccessToken();
    EXPECT_EQ(a.size(), 2 * kTokenBytes);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(a, b);
    EXPECT_FALSE(sameSecret("", ""));  // an empty secret lets nobody in
}

// A server on a free loopback port whose program is the stand-in child.
class ServeServer : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("TORVEK_FAKE_MODE", "slow", 1);
        server_ = std::make_unique<WorkspaceServer>(
            kToken, WorkspaceOptions{TORVEK_FAKE_CHILD_BINARY, folder_.path()});
        std::string error;
        ASSERT_TRUE(server_->bind(0, error)) << error;
        server_->start();
        ASSERT_TRUE(server_->workspace().open({kExample}, {}, error)) << error;
    }
    void TearDown() override {
        server_->stop();
        ::unsetenv("TORVEK_FAKE_MODE");
    }

    TempDirectory folder_;
    std::unique_ptr<WorkspaceServer> server_;
};

TEST_F(ServeServer, RefusesRequestsWithoutTheTokenOrFromAnotherOrigin) {
    httplib::Client client("127.0.0.1", server_->port());
    const auto anonymous = client.Get("/api/state");
    ASSERT_TRUE(anonymous);
    EXPECT_EQ(anonymous->status, 403);
    const httplib::Headers withToken{{"Authorization", "Bearer " + kToken}};
    const auto allowed = client.Get("/api/state", withToken);
    ASSERT_TRUE(allowed);
    EXPECT_EQ(allowed->status, 200);
    httplib::Headers foreign = withToken;
    foreign.emplace("Origin", "http://127.0.0.1:1");
    const auto refused = client.Post("/api/runs", foreign, "", "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 403);
    EXPECT_EQ(server_->workspace().run(1), nullptr) << "no run was started";
}

TEST_F(ServeServer, ARunGoingOnWhenTheServerStopsIsAbortedAndReaped) {
    int id = 0;
    std::string error;
    ASSERT_TRUE(server_->workspace().startRun({}, id, error)) << error;
    const auto run = server_->workspace().run(id);
    // Wait for a few of the child's slow polls.
    for (int i = 0; i < 200 && run->events().size() < 8; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const auto started = std::chrono::steady_clock::now();
    server_->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, kShutdownGrace)
        << "ended at the next poll, without a kill";
    ASSERT_TRUE(run->finished());
    EXPECT_EQ(run->summary()["outcome"], "aborted");
    bool closed = false;
    const auto events = run->events().read(0, std::chrono::milliseconds(0), closed);
    EXPECT_TRUE(closed);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().name, "done");
}

TEST_F(ServeServer, EditsReachTheSavedProjectAndTheNextRunsChanges) {
    Workspace& ws = server_->workspace();
    std::string error;
    EXPECT_TRUE(ws.edit(Json{{"op", "vectorUse"}, {"index", 9}, {"inUse", false}}, error)) << error;
    EXPECT_TRUE(ws.edit(Json{{"op", "siteControl"},
                             {"index", 1},
                             {"fixed", {{"latitude", true}, {"longitude", true}}}},
                        error))
        << error;
    for (const Json& bad : {Json{{"op", "vectorUse"}, {"index", 36}, {"inUse", false}},
                            Json{{"op", "siteUse"}, {"index", 0}},
                            Json{{"op", "rename"}, {"index", 0}}, Json::array()}) {
        EXPECT_FALSE(ws.edit(bad, error)) << bad.dump();
    }
    EXPECT_FALSE(ws.save(folder_.file("project.txt"), error));
    const std::string someoneElses = folder_.file("other.json");
    ASSERT_TRUE(writeFileAtomically(someoneElses, "{}", error));
    EXPECT_FALSE(ws.save(someoneElses, error)) << "another project is not replaced";
    const std::string saved = folder_.file("edited.json");
    ASSERT_TRUE(ws.save(saved, error)) << error;
    std::string text;
    ASSERT_TRUE(readWholeFile(saved, kMaximumProjectSize, text, error));
    const Json project = Json::parse(text);
    EXPECT_EQ(project["vectors"][9]["inUse"], false);
    EXPECT_EQ(project["sites"][1]["fixed"],
              (Json{{"latitude", true}, {"longitude", true}, {"elevation", false}}));
    const Json state = Json::parse(ws.stateText());
    EXPECT_EQ(state["project"]["changes"], (Json{"vector TANN to SPIT (no. 10) out of use",
                                                 "site EICH fixed in latitude, longitude"}));
    EXPECT_EQ(state["project"]["unsaved"], false);
    EXPECT_TRUE(ws.save(saved, error)) << "its own file is saved again: " << error;
}

#if defined(TORVEK_LARGE_BINARY)

// Runs of the real programs started through the workspace's API, as the page starts them.
class WorkspaceRuns : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("TORVEK_BINARY", TORVEK_BINARY, 1);
        ::setenv("TORVEK_LARGE_BINARY", TORVEK_LARGE_BINARY, 1);
        ASSERT_EQ(::mkdir(workspaceFolder().c_str(), 0700), 0);
    }
    std::string workspaceFolder() const { return folder_.file("workspace"); }

    // Runs the open project to its end.
    static std::shared_ptr<AdjustmentRun> runToEnd(Workspace& workspace) {
        int id = 0;
        std::string error;
        EXPECT_TRUE(workspace.startRun({}, id, error)) << error;
        auto run = workspace.run(id);
        if (run) {
            run->join();
        }
        return run;
    }
    static std::string download(const AdjustmentRun& run, const std::string& kind) {
        std::string bytes, name, type;
        EXPECT_TRUE(run.download(kind, bytes, name, type)) << kind;
        return bytes;
    }
    static std::string fileText(const std::string& path) {
        std::string text, error;
        EXPECT_TRUE(readWholeFile(path, kMaximumProjectSize * 4, text, error)) << error;
        return text;
    }
    // The text of the last report event: the report pane as it stays after the run.
    static std::string lastReportEvent(const AdjustmentRun& run) {
        bool closed = false;
        std::string last;
        for (const auto& event : run.events().read(0, std::chrono::milliseconds(0), closed)) {
            last = event.name == "report" ? event.data : last;
        }
        return last;
    }

    TempDirectory folder_;
};

// A document with the date and time of its run in the program's banner ("Mon Dec 07 11:32:48
// 2026") replaced: two runs of one project differ there alone.
std::string withoutRunTime(const std::string& document) {
    static const std::regex kBannerDate(
        "(Mon|Tue|Wed|Thu|Fri|Sat|Sun) [A-Z][a-z]{2} [0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}");
    return std::regex_replace(document, kBannerDate, "DATE");
}

// The example network with a client, a surveyor and sites named in full, beyond the program's
// four-character codes.
Json namedProject() {
    std::string text, error;
    EXPECT_TRUE(readWholeFile(kExample, kMaximumProjectSize, text, error)) << error;
    Json project = Json::parse(text);
    project["client"] = "Canton of Hillside, survey office";
    project["surveyor"] = "A. Surveyor";
    const std::map<std::string, std::string> fullNames = {
        {"BIRK", "Birkenhof control"}, {"TANN", "Tannenberg north"}, {"SPIT", "Spitzhorn"}};
    for (Json& site : project["sites"]) {
        const auto it = fullNames.find(site["name"].get<std::string>());
        site["name"] = it == fullNames.end() ? site["name"].get<std::string>() : it->second;
    }
    for (Json& vector : project["vectors"]) {
        for (const char* end : {"from", "to"}) {
            const auto it = fullNames.find(vector[end].get<std::string>());
            vector[end] = it == fullNames.end() ? vector[end].get<std::string>() : it->second;
        }
    }
    return project;
}

TEST_F(WorkspaceRuns, DownloadsAreTheCommandLinesFilesForTheSameProject) {
    const std::string project = folder_.file("hillside.json");
    std::string error;
    ASSERT_TRUE(writeFileAtomically(project, namedProject().dump(2), error)) << error;
    Workspace workspace({"", workspaceFolder()});
    ASSERT_TRUE(workspace.open({project}, {}, error)) << error;
    const auto run = runToEnd(workspace);
    ASSERT_TRUE(run);
    ASSERT_EQ(run->summary()["outcome"], "adjusted") << run->results().dump();
    // Neither names a model: both take the rigorous one, on torvek-large, with its statistics.
    EXPECT_EQ(run->summary()["engine"], "torvek-large");
    EXPECT_EQ(run->results()["model"], "rigorous");
    std::string statistics, name, type;
    ASSERT_TRUE(run->download("statistics", statistics, name, type));
    EXPECT_NE(statistics.find("\"model\": \"rigorous\""), std::string::npos);

    // The command line, its output named as the workspace names its run's files.
    ASSERT_EQ(::mkdir(folder_.file("cli").c_str(), 0700), 0);
    const std::string output = folder_.file("cli/hillside-run1.dat");
    torvek::testing::CommandOptions options;
    options.environment = {{"TORVEK_BINARY", TORVEK_BINARY}};
    const auto adjusted = torvek::testing::runCommand(
        TORVEK_FRONT_BINARY, {"adjust", project, "-o", output, "--no-report"}, options);
    ASSERT_EQ(adjusted.exitCode, 0) << adjusted.standardError;

    for (const char* kind : {"rtf", "html"}) {
        const std::string fromWorkspace = download(*run, kind);
        const std::string fromCommandLine =
            fileText(replaceExtension(output, std::string(".") + kind));
        EXPECT_NE(withoutRunTime(fromWorkspace), fromWorkspace) << kind << ": the run's time";
        EXPECT_EQ(withoutRunTime(fromWorkspace), withoutRunTime(fromCommandLine))
            << kind << " differs between the workspace and the command line";
        for (const char* wanted : {"Canton of Hillside", "A. Surveyor", "Tannenberg north",
                                   "Residuals by normalized residual"}) {
            EXPECT_NE(fromWorkspace.find(wanted), std::string::npos) << kind << ": " << wanted;
        }
        EXPECT_EQ(fromWorkspace.find("Client not stated"), std::string::npos) << kind;
    }
    EXPECT_EQ(download(*run, "dataset"), fileText(output));
    EXPECT_EQ(statistics, fileText(replaceExtension(output, "") + ".statistics.json"));
    for (const char* kind : {"csv", "json"}) {
        EXPECT_NE(download(*run, kind).find("Tannenberg north"), std::string::npos) << kind;
    }
    const std::string pane = lastReportEvent(*run);
    EXPECT_NE(pane.find("Birkenhof control"), std::string::npos) << "control sites in full";
}

TEST_F(WorkspaceRuns, ANetworkBeyondTorveksSiteLimitRunsTheSparseEngine) {
    constexpr int kSites = 600;  // beyond kStandardEngineSiteLimit
    torvek::testing::SyntheticNetwork net =
        torvek::testing::ringNetwork(kSites, -23.5, -46.6, 40000);
    for (int k : {0, 200, 400}) {
        torvek::testing::fixSite(net.sites[k]);
    }
    net.simulate(11);
    const std::string input = folder_.file("ring.dat");
    net.writeTo(input);
    Workspace workspace({"", workspaceFolder()});
    std::string error;
    ASSERT_TRUE(workspace.open({input}, {}, error)) << error;
    const auto run = runToEnd(workspace);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->summary()["engine"], "torvek-large");
    const Json results = run->results();
    ASSERT_EQ(results["summary"]["outcome"], "adjusted") << results["notes"];
    ASSERT_EQ(results["sites"].size(), static_cast<std::size_t>(kSites));
    // Every adjusted position lies within five of its standard deviations of the truth.
    constexpr double kMetresPerDegree = 6371000.0 * M_PI / 180.0;
    for (int k = 0; k < kSites; k += 37) {
        const Json& site = results["sites"][k];
        const double north =
            (site["latitude"].get<double>() - net.sites[k].latitude) * kMetresPerDegree;
        const double sigmaNorth = site["sigmas"][0].get<double>();
        EXPECT_LE(std::abs(north), 5 * sigmaNorth + 0.001) << net.sites[k].name;
    }
}

// The largest semi-major axis of the sites' ellipses in an answer of POST /api/preanalysis, by
// site name.
std::map<std::string, double> ellipsesOf(const Json& answer) {
    std::map<std::string, double> axes;
    for (const Json& site : answer["sites"]) {
        if (site["adjusted"] == true) {
            axes[site["name"].get<std::string>()] = site["ellipse"]["semiMajor"].get<double>();
        }
    }
    return axes;
}

bool hasPair(const Json& answer, const std::string& a, const std::string& b) {
    for (const Json& p : answer["relativePrecision"]) {
        if ((p["from"] == a && p["to"] == b) || (p["from"] == b && p["to"] == a)) {
            return true;
        }
    }
    return false;
}

TEST_F(WorkspaceRuns, PreanalysisOfAPlanAndItsRefusals) {
    Workspace workspace({"", workspaceFolder()});
    EXPECT_EQ(workspace.preanalysis(Json{{"planned", Json::array()}}).status, 409) << "no project";
    std::string error;
    ASSERT_TRUE(workspace.open({kExample}, {}, error)) << error;
    const PlanAnswer before = workspace.preanalysis(Json{{"planned", Json::array()}});
    ASSERT_EQ(before.status, 200) << before.error;
    const Json planless = Json::parse(before.text);
    EXPECT_EQ(planless["preanalysis"], true);
    EXPECT_TRUE(planless["chiSquare"]["value"].is_null());
    EXPECT_GT(planless["elapsedSeconds"].get<double>(), 0.0);
    EXPECT_FALSE(hasPair(planless, "BIRK", "ZELG"));

    const Json plan{{"planned", {{{"from", "BIRK"}, {"to", "ZELG"}}}},
                    {"sigmaModel", {{"horizontal", {0.003, 0.5}}, {"vertical", {0.006, 1}}}}};
    const PlanAnswer added = workspace.preanalysis(plan);
    ASSERT_EQ(added.status, 200) << added.error;
    const Json planned = Json::parse(added.text);
    EXPECT_TRUE(hasPair(planned, "BIRK", "ZELG"));
    const auto axesBefore = ellipsesOf(planless), axesAdded = ellipsesOf(planned);
    ASSERT_EQ(axesAdded.size(), axesBefore.size());
    double shrunk = 0;
    for (const auto& [name, axis] : axesAdded) {
        EXPECT_LE(axis, axesBefore.at(name) + 1e-12) << name << ": another vector never enlarges";
        shrunk = std::max(shrunk, axesBefore.at(name) - axis);
    }
    EXPECT_GT(shrunk, 1e-5) << "a vector to ZELG makes ZELG's ellipse smaller";

    struct Bad {
        Json body;
        const char* says;
    };
    Json tooMany = Json::array();
    for (std::size_t k = 0; k <= kMaximumPlannedVectors; ++k) {
        tooMany.push_back(Json{{"from", "BIRK"}, {"to", "ZELG"}});
    }
    for (const Bad& bad :
         {Bad{Json::object(), "\"planned\" must be a list"},
          Bad{Json{{"planned", {{{"from", "BIRK"}, {"to", "NOPE"}}}}},
              "planned[0] (\"BIRK\" to \"NOPE\").to: no site is named \"NOPE\""},
          Bad{Json{{"planned", {{{"from", "BIRK"}}}}}, "planned[0]: needs"},
          Bad{Json{{"planned", tooMany}}, "at most 5000 planned vectors"},
          Bad{Json{{"planned", Json::array()}, {"sigmaModel", {{"horizontal", {2.0, 0}}}}},
              "sigmaModel.horizontal"},
          Bad{Json{{"planned", Json::array()}, {"relativeTolerance", "20 furlongs"}},
              "relativeTolerance: "}}) {
        const PlanAnswer refused = workspace.preanalysis(bad.body);
        EXPECT_EQ(refused.status, 400) << bad.says;
        EXPECT_NE(refused.error.find(bad.says), std::string::npos) << refused.error;
    }

    // The plan is kept in the project by an edit and written by Save.
    ASSERT_TRUE(workspace.edit(Json{{"op", "planned"}, {"planned", plan["planned"]}}, error))
        << error;
    EXPECT_FALSE(workspace.edit(
        Json{{"op", "planned"}, {"planned", {{{"from", "X"}, {"to", "Y"}}}}}, error));
    const std::string saved = folder_.file("planned.json");
    ASSERT_TRUE(workspace.save(saved, error)) << error;
    EXPECT_EQ(Json::parse(fileText(saved))["planned"], plan["planned"]);
    Workspace reopened({"", folder_.file("workspace")});
    ASSERT_TRUE(reopened.open({saved}, {}, error)) << error;
    EXPECT_EQ(Json::parse(reopened.stateText())["project"]["planned"], plan["planned"]);
}

TEST_F(WorkspaceRuns, PreanalysisRouteNeedsTheToken) {
    WorkspaceServer server(kToken, WorkspaceOptions{"", workspaceFolder()});
    std::string error;
    ASSERT_TRUE(server.bind(0, error)) << error;
    server.start();
    ASSERT_TRUE(server.workspace().open({kExample}, {}, error)) << error;
    httplib::Client client("127.0.0.1", server.port());
    const std::string body = R"({"planned": [{"from": "BIRK", "to": "ZELG"}]})";
    const auto anonymous = client.Post("/api/preanalysis", body, "application/json");
    ASSERT_TRUE(anonymous);
    EXPECT_EQ(anonymous->status, 403);
    const auto answered =
        client.Post("/api/preanalysis", httplib::Headers{{"Authorization", "Bearer " + kToken}},
                    body, "application/json");
    ASSERT_TRUE(answered);
    ASSERT_EQ(answered->status, 200) << answered->body;
    EXPECT_TRUE(hasPair(Json::parse(answered->body), "BIRK", "ZELG"));
    server.stop();
}

#endif  // TORVEK_LARGE_BINARY

}  // namespace
}  // namespace torvek::front::serve

#endif
