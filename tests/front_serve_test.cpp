// The browser workspace's server without a browser: who may use it (token, host, origin), what
// the page's edits do to the project, runs that end cleanly when the server stops or are
// cancelled, the bounded history, and clients that send slowly, endlessly or follow many streams.
// The page itself is tested in headless Chromium (tests/browser).
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <fstream>
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
        {"the page's own file without the token",
         [](RequestFacts& r) {
             r.authorization.clear();
             r.pageFile = true;
         },
         Verdict::kAllowed},
        {"the page's own file for a page of another port",
         [](RequestFacts& r) {
             r.authorization.clear();
             r.pageFile = true;
             r.fetchSite = "same-site";
         },
         Verdict::kForeignOrigin},
        {"the page's own file under a rebound name",
         [](RequestFacts& r) {
             r.pageFile = true;
             r.host = "attacker.example:8123";
         },
         Verdict::kForeignHost},
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

// A raw connection to the server, for clients no library would be: slow, endless, stalled.
class RawConnection {
  public:
    explicit RawConnection(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in where{};
        where.sin_family = AF_INET;
        where.sin_port = htons(static_cast<std::uint16_t>(port));
        where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    }
    ~RawConnection() { ::close(fd_); }
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    bool connected() const { return connected_; }
    // False once the server has closed the connection.
    bool send(const std::string& bytes) {
        return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    // What arrives within `wait`, until the server closes the connection (then `closed`) or
    // `enough` has arrived.
    std::string receive(std::chrono::milliseconds wait, bool& closed,
                        const std::string& enough = "\x01") {
        std::string got;
        closed = false;
        const auto until = std::chrono::steady_clock::now() + wait;
        while (!closed && std::chrono::steady_clock::now() < until &&
               got.find(enough) == std::string::npos) {
            pollfd watch{fd_, POLLIN, 0};
            if (::poll(&watch, 1, 20) <= 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            closed = n <= 0;
            got.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
        }
        return got;
    }

  private:
    int fd_;
    bool connected_ = false;
};

// The resident memory of this process (the server runs in it), in kB.
long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

std::string head(const std::string& requestLine, int port, const std::string& more = "") {
    return requestLine + "\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" + more;
}

std::string bearerLine() {
    return "Authorization: Bearer " + kToken + "\r\n";
}

TEST_F(ServeServer, OnlyTheBearerHeaderCarriesTheToken) {
    httplib::Client client("127.0.0.1", server_->port());
    const std::string cookie = "torvek-token-" + std::to_string(server_->port()) + "=" + kToken;
    // A cookie is sent to every port of the host: a page of another local server received it.
    const auto withCookie = client.Get("/api/state", {{"Cookie", cookie}});
    ASSERT_TRUE(withCookie);
    EXPECT_EQ(withCookie->status, 403);
    const auto inAddress = client.Get("/api/state?token=" + kToken);
    ASSERT_TRUE(inAddress);
    EXPECT_EQ(inAddress->status, 403) << "addresses end up in histories";
    const auto withHeader = client.Get("/api/state", {{"Authorization", "Bearer " + kToken}});
    ASSERT_TRUE(withHeader);
    EXPECT_EQ(withHeader->status, 200);
    // The page's own files need no token, but no page of another origin may use them.
    const auto page = client.Get("/?token=" + kToken);
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_FALSE(page->has_header("Set-Cookie"));
    const auto script = client.Get("/app.js");
    ASSERT_TRUE(script);
    EXPECT_EQ(script->status, 200);
    EXPECT_EQ(script->get_header_value("Cross-Origin-Resource-Policy"), "same-origin");
    EXPECT_FALSE(script->has_header("Access-Control-Allow-Origin"));
    const auto embedded = client.Get("/app.js", {{"Sec-Fetch-Site", "same-site"}});
    ASSERT_TRUE(embedded);
    EXPECT_EQ(embedded->status, 403) << "a page on another port of this machine";
}

TEST_F(ServeServer, EndlessOrOversizedHeadersAreCutOffWithoutGrowingTheServer) {
    const long before = residentKilobytes();
    struct Flood {
        const char* what;
        std::string unit;  // sent again and again
    };
    const Flood floods[] = {{"thousands of header lines", "X-Flood: 0123456789abcdef\r\n"},
                            {"one endless header line", std::string(4096, 'a')}};
    for (const Flood& flood : floods) {
        RawConnection flooder(server_->port());
        ASSERT_TRUE(flooder.connected());
        ASSERT_TRUE(flooder.send(head("GET /api/state HTTP/1.1", server_->port(), bearerLine())));
        // Far more than the socket buffers of both ends hold: the server must stop reading.
        constexpr std::size_t kFloodBytes = 64u << 20;
        std::size_t sent = 0;
        while (sent < kFloodBytes && flooder.send(flood.unit)) {
            sent += flood.unit.size();
        }
        EXPECT_LT(sent, kFloodBytes) << flood.what << ": the connection stays open";
    }
    EXPECT_LT(residentKilobytes() - before, 16 * 1024) << "kB grown";
    httplib::Client client("127.0.0.1", server_->port());
    const auto state = client.Get("/api/state", {{"Authorization", "Bearer " + kToken}});
    ASSERT_TRUE(state);
    EXPECT_EQ(state->status, 200);
}

TEST_F(ServeServer, SlowAndStalledClientsLeaveTheServerAnswering) {
    // A hundred connections that send a part of a head and stall, as many as the old server had
    // threads and more.
    std::vector<std::unique_ptr<RawConnection>> stalled;
    for (int i = 0; i < 100; ++i) {
        stalled.push_back(std::make_unique<RawConnection>(server_->port()));
        ASSERT_TRUE(stalled.back()->connected());
        ASSERT_TRUE(stalled.back()->send("GET /api/state HTTP/1.1\r\nX-Slow: "));
    }
    httplib::Client client("127.0.0.1", server_->port());
    client.set_read_timeout(3, 0);
    const auto started = std::chrono::steady_clock::now();
    const auto state = client.Get("/api/state", {{"Authorization", "Bearer " + kToken}});
    ASSERT_TRUE(state) << "no answer within 3 s";
    EXPECT_EQ(state->status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    // One that goes on sending a byte a second never completes its head: it is closed at the
    // request's deadline.
    RawConnection dripping(server_->port());
    ASSERT_TRUE(dripping.send("GET /api/state HTTP/1.1\r\n"));
    bool closed = false;
    const auto dripStart = std::chrono::steady_clock::now();
    while (!closed && std::chrono::steady_clock::now() - dripStart < kRequestDeadline * 3) {
        closed = !dripping.send("X") || (dripping.receive(std::chrono::seconds(1), closed), closed);
    }
    EXPECT_TRUE(closed);
    EXPECT_LT(std::chrono::steady_clock::now() - dripStart,
              kRequestDeadline + std::chrono::seconds(2));
}

TEST_F(ServeServer, ThirtyEventStreamsLeaveTheStateAnswered) {
    int id = 0;
    std::string error;
    ASSERT_TRUE(server_->workspace().startRun({}, id, error)) << error;
    std::vector<std::unique_ptr<RawConnection>> streams;
    for (int i = 0; i < 30; ++i) {
        streams.push_back(std::make_unique<RawConnection>(server_->port()));
        ASSERT_TRUE(
            streams.back()->send(head("GET /api/runs/" + std::to_string(id) + "/events HTTP/1.1",
                                      server_->port(), bearerLine() + "\r\n")));
    }
    // While the run goes on (ten seconds), with every stream open:
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    httplib::Client client("127.0.0.1", server_->port());
    client.set_read_timeout(3, 0);
    const auto state = client.Get("/api/state", {{"Authorization", "Bearer " + kToken}});
    ASSERT_TRUE(state) << "no answer within 3 s";
    EXPECT_EQ(state->status, 200);
    EXPECT_FALSE(server_->workspace().run(id)->finished());
    for (auto& stream : streams) {
        bool closed = false;
        const std::string got = stream->receive(std::chrono::seconds(3), closed, "event: ");
        EXPECT_EQ(got.rfind("HTTP/1.1 200", 0), 0u) << got.substr(0, 80);
        EXPECT_NE(got.find("event: "), std::string::npos);
    }
}

// Runs started through the workspace (the fake child behaving as TORVEK_FAKE_MODE says); waits
// until each has polled its first stage or ended.
std::vector<std::shared_ptr<AdjustmentRun>> startPollingRuns(Workspace& workspace, int count) {
    std::vector<std::shared_ptr<AdjustmentRun>> runs;
    for (int i = 0; i < count; ++i) {
        int id = 0;
        std::string error;
        EXPECT_TRUE(workspace.startRun({}, id, error)) << error;
        runs.push_back(workspace.run(id));
    }
    // The engine, the start, the report so far and the first poll.
    constexpr std::size_t kEventsAtFirstPoll = 4;
    for (const auto& run : runs) {
        for (int i = 0;
             i < 500 && run && !run->finished() && run->events().size() < kEventsAtFirstPoll; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return runs;
}

TEST_F(ServeServer, CancelledRunsWhoseProgramsStopTalkingEndAndFreeTheirSlots) {
    // Programs that poll once and then neither poll again nor yield to SIGTERM.
    ::setenv("TORVEK_FAKE_MODE", "stubborn", 1);
    Workspace& workspace = server_->workspace();
    const auto runs = startPollingRuns(workspace, static_cast<int>(kMaximumActiveRuns));
    int id = 0;
    std::string error;
    EXPECT_FALSE(workspace.startRun({}, id, error)) << "every slot is taken";
    for (const auto& run : runs) {
        run->cancel();
    }
    // The abort goes unanswered; SIGTERM after kCancelGrace is ignored; SIGKILL follows.
    const auto deadline = std::chrono::steady_clock::now() + kCancelGrace + std::chrono::seconds(6);
    for (const auto& run : runs) {
        while (!run->finished() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_TRUE(run->finished()) << "run " << run->id() << " still holds its slot";
        EXPECT_EQ(run->summary()["outcome"], "aborted");
        EXPECT_NE(run->results()["notes"].get<std::string>().find("stopped at your request"),
                  std::string::npos);
    }
    ::setenv("TORVEK_FAKE_MODE", "fast", 1);
    EXPECT_TRUE(workspace.startRun({}, id, error)) << error;
}

// The names in `folder` that begin with `prefix`.
std::vector<std::string> entriesStartingWith(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    if (DIR* listing = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(listing)) {
            if (std::string(entry->d_name).rfind(prefix, 0) == 0) {
                names.push_back(entry->d_name);
            }
        }
        ::closedir(listing);
    }
    return names;
}

TEST_F(ServeServer, TheHistoryKeepsTheLastRunsAndDeletesOthersWithTheirFiles) {
    ::setenv("TORVEK_FAKE_MODE", "fast", 1);
    Workspace& workspace = server_->workspace();
    const int total = static_cast<int>(kMaximumKeptRuns) + 3;
    for (int i = 0; i < total; ++i) {
        for (const auto& run : startPollingRuns(workspace, 1)) {
            run->join();
        }
    }
    const Json state = Json::parse(workspace.stateText());
    ASSERT_EQ(state["runs"].size(), kMaximumKeptRuns);
    EXPECT_EQ(state["runs"][0]["id"], 4) << "the oldest three are gone";
    EXPECT_EQ(workspace.run(3), nullptr);
    EXPECT_EQ(entriesStartingWith(folder_.path(), "run-").size(), kMaximumKeptRuns);
    struct stat info {};
    EXPECT_NE(::stat(folder_.file("run-3").c_str(), &info), 0);

    httplib::Client client("127.0.0.1", server_->port());
    const httplib::Headers bearer{{"Authorization", "Bearer " + kToken}};
    const auto deleted = client.Delete("/api/runs/4", bearer);
    ASSERT_TRUE(deleted);
    EXPECT_EQ(deleted->status, 200);
    EXPECT_EQ(workspace.run(4), nullptr);
    EXPECT_NE(::stat(folder_.file("run-4").c_str(), &info), 0) << "its files went with it";
    const auto again = client.Delete("/api/runs/4", bearer);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->status, 404);
    ::setenv("TORVEK_FAKE_MODE", "slow", 1);
    const auto going = startPollingRuns(workspace, 1).front();
    const auto refused = client.Delete("/api/runs/" + std::to_string(going->id()), bearer);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 409) << "a run still going is cancelled first";
}

TEST_F(ServeServer, ARefusedUploadIsDeletedAtOnce) {
    httplib::Client client("127.0.0.1", server_->port());
    const httplib::MultipartFormDataItems items{
        {"files", "not a survey file of any kind\n", "notes.txt", "text/plain"}};
    const auto refused = client.Post("/api/upload", {{"Authorization", "Bearer " + kToken}}, items);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400);
    EXPECT_TRUE(entriesStartingWith(folder_.path(), "upload-").empty());
}

TEST_F(ServeServer, ARetriedRunKeepsItsScratchCopyOutOfTheServersFolder) {
    // The program writes its scratch copy into its working directory after a failed first
    // attempt: that must be the run's folder, not the one the server was started from.
    ::setenv("TORVEK_FAKE_MODE", "retried", 1);
    TempDirectory startedIn;
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(startedIn.path().c_str()), 0);
    const auto runs = startPollingRuns(server_->workspace(), 1);
    runs.front()->join();
    ASSERT_EQ(::chdir(previous), 0);
    EXPECT_NE(runs.front()->results()["notes"].get<std::string>().find("chatter"),
              std::string::npos)
        << "the stand-in ran";
    EXPECT_TRUE(entriesStartingWith(startedIn.path(), "torvek").empty());
}

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
    // Two asked at once (as the Plan tab does when a click comes before the answer) both answer.
    PlanAnswer added, again;
    std::thread second([&] { again = workspace.preanalysis(plan); });
    added = workspace.preanalysis(plan);
    second.join();
    ASSERT_EQ(added.status, 200) << added.error;
    ASSERT_EQ(again.status, 200) << again.error;
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
