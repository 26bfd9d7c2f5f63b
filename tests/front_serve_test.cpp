// The browser workspace's server without a browser: who may use it (token, host, origin), what
// the page's edits do to the project, and runs that end cleanly when the server stops. The page
// itself is tested in headless Chromium (tests/browser).
#include <gtest/gtest.h>
#include <httplib.h>
#include <stdlib.h>

#include <chrono>
#include <string>
#include <thread>

#include "front/files/file_output.h"
#include "front/serve/access_guard.h"
#include "front/serve/workspace_server.h"
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
    ASSERT_TRUE(server_->workspace().startRun(id, error)) << error;
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

}  // namespace
}  // namespace torvek::front::serve

#endif
