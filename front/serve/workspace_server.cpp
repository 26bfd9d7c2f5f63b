#include "front/serve/workspace_server.h"

#include <fcntl.h>
#include <httplib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

#include "front/documents/report_rendering.h"
#include "front/serve/access_guard.h"
#include "front/serve/connection_stream.h"
#include "front/serve/web_assets.h"

namespace torvek::front::serve {

// The HTTP library's reading of requests and routing, given one request at a time by a worker.
class RequestHandler : public httplib::Server {
  public:
    // The library sends a body from a content provider only while it believes it listens, which
    // it tells by a valid listening socket; the front listens instead, so a descriptor of no use
    // stands for it.
    RequestHandler() { svr_sock_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC); }
    ~RequestHandler() override {
        ::close(svr_sock_);
        svr_sock_ = INVALID_SOCKET;
    }
    RequestHandler(const RequestHandler&) = delete;
    RequestHandler& operator=(const RequestHandler&) = delete;

    // Reads one request from `stream` and writes its answer; false when the connection failed.
    // `closed` is set when the client asked to close the connection after it.
    bool serve(httplib::Stream& stream, bool& closed) {
        return process_request(stream, false, closed, nullptr);
    }
};

namespace {

// The loopback address: the server is never reachable from another machine.
constexpr const char* kLoopback = "127.0.0.1";
// The largest request body: two survey files of the largest size a project may have.
constexpr std::size_t kMaximumRequestBody = 2 * kMaximumProjectSize + (1u << 20);
// The keep-alive time the answers announce: the front closes a connection that brings no whole
// request within kRequestDeadline, and the browser should give it up first.
constexpr time_t kKeepAliveSeconds = 4;
// The requests a connection announces it may carry; the front sets no limit of its own.
constexpr std::size_t kKeepAliveRequests = 1000;
// The most bytes one request may hold, head and body.
constexpr std::size_t kMaximumRequestBytes = kMaximumRequestBody + kMaximumHeadBytes;
// The events of a run: /api/runs/ID/events.
const std::regex kEventsPath(R"(/api/runs/(\d{1,9})/events)");

// Headers on every response: nothing is cached, nothing is loaded from elsewhere, nothing is
// read by a page of another origin (no CORS header allows it, and the resource policy keeps even
// a script or style sheet from being used by one), the page is never framed by another, and the
// address is never sent on as a referrer.
const httplib::Headers kSecurityHeaders{
    {"Cache-Control", "no-store"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"X-Frame-Options", "DENY"},
    {"Cross-Origin-Resource-Policy", "same-origin"},
    {"Cross-Origin-Opener-Policy", "same-origin"},
    {"Content-Security-Policy",
     "default-src 'self'; img-src 'self' data: blob:; object-src 'none'; base-uri 'none'; "
     "form-action 'self'; frame-ancestors 'none'"},
};

// True for a GET of one of the page's own files, which the page loads without its token.
bool isPageFile(const RequestHead& head) {
    if (head.method != "GET") {
        return false;
    }
    const std::string path = head.path();
    if (path == "/" || path == "/report.css") {
        return true;
    }
    for (const WebAsset& asset : webAssets()) {
        if (path == "/" + std::string(asset.name)) {
            return true;
        }
    }
    return false;
}

// The status line and headers of an event stream, which ends when the connection closes.
std::string eventStreamHead() {
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n";
    for (const auto& [name, value] : kSecurityHeaders) {
        head += name + ": " + value + "\r\n";
    }
    return head + "Connection: close\r\n\r\n";
}

void closeConnection(int fd) {
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

const char* contentTypeOf(std::string_view name) {
    const auto ends = [&](std::string_view end) {
        return name.size() >= end.size() && name.substr(name.size() - end.size()) == end;
    };
    if (ends(".html")) {
        return "text/html; charset=utf-8";
    }
    if (ends(".js")) {
        return "text/javascript; charset=utf-8";
    }
    if (ends(".css")) {
        return "text/css; charset=utf-8";
    }
    if (ends(".svg")) {
        return "image/svg+xml";
    }
    return "application/octet-stream";
}

// Sets the body as it is. The library would otherwise compress text for a browser, with brotli
// at its slowest setting: seconds for a national network's state, on a loopback connection
// where compression saves nothing. A body of known length is sent uncompressed.
void setBody(httplib::Response& res, std::string bytes, const std::string& contentType) {
    if (bytes.empty()) {
        res.set_content(bytes, contentType);
        return;
    }
    auto body = std::make_shared<const std::string>(std::move(bytes));
    res.set_content_provider(
        body->size(), contentType,
        [body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            return sink.write(body->data() + offset, length);
        });
}

void reply(httplib::Response& res, int status, const Json& body) {
    res.status = status;
    setBody(res, body.dump(-1, ' ', false, Json::error_handler_t::replace), "application/json");
}

void replyError(httplib::Response& res, int status, const std::string& message) {
    reply(res, status, Json{{"error", message}});
}

// The JSON body of a request; false (after replying) when it is not JSON.
bool jsonBody(const httplib::Request& req, httplib::Response& res, Json& body) {
    body = Json::parse(req.body, nullptr, false);
    if (body.is_discarded()) {
        replyError(res, 400, "the request body is not JSON");
        return false;
    }
    return true;
}

// The covariance unit asked for: "", "m2" or "mm2"; false (after replying) for anything else.
bool surveyOptions(const std::string& unit, httplib::Response& res, SurveyOptions& survey) {
    if (unit.empty()) {
        return true;
    }
    survey.covarianceUnit = parseCovarianceUnit(unit);
    if (!survey.covarianceUnit) {
        replyError(res, 400, "the covariance unit is m2 or mm2");
        return false;
    }
    return true;
}

int runId(const httplib::Request& req) {
    const std::string digits = req.matches[1];
    return digits.size() > 9 ? -1 : std::stoi(digits);
}

// A file name for Content-Disposition: the names made here hold only safe characters already;
// anything else is replaced all the same, so that no header can be broken by a quote.
std::string dispositionName(const std::string& name) {
    std::string out;
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        out += plain ? c : '_';
    }
    return out;
}

void attach(httplib::Response& res, const std::string& bytes, const std::string& fileName,
            const std::string& contentType) {
    res.set_header("Content-Disposition",
                   "attachment; filename=\"" + dispositionName(fileName) + "\"");
    setBody(res, bytes, contentType);
}

}  // namespace

WorkspaceServer::WorkspaceServer(std::string token, WorkspaceOptions options)
    : token_(std::move(token)),
      workspace_(std::move(options)),
      handler_(std::make_unique<RequestHandler>()) {
    handler_->set_payload_max_length(kMaximumRequestBody);
    handler_->set_default_headers(kSecurityHeaders);
    handler_->set_keep_alive_timeout(kKeepAliveSeconds);
    handler_->set_keep_alive_max_count(kKeepAliveRequests);
    addRoutes();
}

WorkspaceServer::~WorkspaceServer() {
    stop();
}

bool WorkspaceServer::bind(int port, std::string& error) {
    if (!front_.bind(kLoopback, port, error)) {
        return false;
    }
    port_ = front_.port();
    return true;
}

void WorkspaceServer::start() {
    workers_ = std::make_unique<httplib::ThreadPool>(kWorkerThreads);
    streamer_.start();
    front_.start([this](WaitingRequest request) { dispatch(std::move(request)); });
}

void WorkspaceServer::stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    // The runs end first, so that their last events still reach the pages that follow them.
    workspace_.shutdown(kShutdownGrace);
    const auto deadline = std::chrono::steady_clock::now() + kStreamDrainTime;
    while (streamer_.openCount() > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    front_.stop();
    if (workers_) {
        workers_->shutdown();  // each request being answered ends within its deadlines
    }
    streamer_.stop();
}

std::string WorkspaceServer::address() const {
    return "http://" + std::string(kLoopback) + ":" + std::to_string(port_) + "/?token=" + token_;
}

void WorkspaceServer::dispatch(WaitingRequest request) {
    RequestFacts facts;
    facts.host = request.head.field("Host");
    facts.origin = request.head.field("Origin");
    facts.fetchSite = request.head.field("Sec-Fetch-Site");
    facts.authorization = request.head.field("Authorization");
    facts.pageFile = isPageFile(request.head);
    const Verdict verdict = checkRequest(facts, token_, port_);
    if (verdict != Verdict::kAllowed) {
        // Dropped before anything more of it is read.
        answerAndClose(request.fd, 403, "Forbidden",
                       std::string("Refused: ") + describeVerdict(verdict) + ".\n");
        return;
    }
    if (busy_.fetch_add(1) >= kMaximumQueuedRequests) {
        --busy_;
        answerAndClose(request.fd, 503, "Service Unavailable",
                       "Refused: the server is busy; try again.\n");
        return;
    }
    auto taken = std::make_shared<WaitingRequest>(std::move(request));
    workers_->enqueue([this, taken] {
        serveRequest(std::move(*taken));
        --busy_;
    });
}

void WorkspaceServer::serveRequest(WaitingRequest request) {
    if (request.head.method == "GET" && std::regex_match(request.head.path(), kEventsPath)) {
        streamEvents(std::move(request));
        return;
    }
    const int fd = request.fd;
    ConnectionStream stream(fd, std::move(request.received), request.deadline,
                            kMaximumRequestBytes);
    bool closed = false;
    const bool answered = handler_->serve(stream, closed);
    // A refused or failed request may have left part of its body unread: its connection is not
    // used again.
    const int status = stream.answerStatus();
    if (answered && !closed && status > 0 && status < 400 && !stopping_) {
        front_.resume(fd, stream.leftover());
    } else {
        closeConnection(fd);
    }
}

void WorkspaceServer::streamEvents(WaitingRequest request) {
    std::smatch match;
    const std::string path = request.head.path();
    std::regex_match(path, match, kEventsPath);
    const auto run = workspace_.run(std::stoi(match[1]));
    if (!run) {
        answerAndClose(request.fd, 404, "Not Found", "No such run.\n");
        return;
    }
    // A stream that reconnects continues after the last event its page saw.
    std::size_t next = 0;
    const std::string lastSeen = request.head.field("Last-Event-ID");
    if (!lastSeen.empty() && lastSeen.size() < 10 &&
        lastSeen.find_first_not_of("0123456789") == std::string::npos) {
        next = std::stoul(lastSeen) + 1;
    }
    // The log lives as long as its stream, even when the run leaves the history meanwhile.
    std::shared_ptr<const EventLog> log(run, &run->events());
    if (!streamer_.add(request.fd, eventStreamHead(), std::move(log), next)) {
        answerAndClose(request.fd, 503, "Service Unavailable",
                       "Refused: too many event streams are open; close a tab.\n");
    }
}

void WorkspaceServer::addRoutes() {
    addAccessGuard();
    addPageRoutes();
    addOpeningRoutes();
    addProjectRoutes();
    addRunRoutes();
    addRunFileRoutes();
    addPlanRoutes();
}

void WorkspaceServer::addAccessGuard() {
    // The front refused every request without the token already; this checks again what the
    // library parsed, so that no difference between the two readings of a head lets one through.
    handler_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        RequestFacts facts;
        facts.host = req.get_header_value("Host");
        facts.origin = req.get_header_value("Origin");
        facts.fetchSite = req.get_header_value("Sec-Fetch-Site");
        facts.authorization = req.get_header_value("Authorization");
        RequestHead head;
        head.method = req.method;
        head.target = req.path;
        facts.pageFile = isPageFile(head);
        const Verdict verdict = checkRequest(facts, token_, port_);
        if (verdict == Verdict::kAllowed) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        res.status = 403;
        res.set_header("Connection", "close");
        setBody(res, std::string("Refused: ") + describeVerdict(verdict) + ".\n",
                "text/plain; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
    });
}

void WorkspaceServer::addPageRoutes() {
    httplib::Server& s = *handler_;
    // The page. Opened with the token in its address, its script takes the token from there,
    // keeps it in the tab and sends it as a header with every request; no cookie holds it.
    s.Get("/", [](const httplib::Request&, httplib::Response& res) {
        for (const WebAsset& asset : webAssets()) {
            if (asset.name == "index.html") {
                setBody(res, std::string(asset.bytes), contentTypeOf(asset.name));
            }
        }
    });
    s.Get("/report.css", [](const httplib::Request&, httplib::Response& res) {
        setBody(res, reportStyleSheet(), "text/css; charset=utf-8");
    });
    s.Get(R"(/([A-Za-z0-9_-]+\.(js|css|svg|html)))",
          [](const httplib::Request& req, httplib::Response& res) {
              const std::string name = req.matches[1];
              for (const WebAsset& asset : webAssets()) {
                  if (asset.name == name) {
                      setBody(res, std::string(asset.bytes), contentTypeOf(asset.name));
                      return;
                  }
              }
              res.status = 404;
          });
}

void WorkspaceServer::addOpeningRoutes() {
    httplib::Server& s = *handler_;
    s.Post("/api/open", [this](const httplib::Request& req, httplib::Response& res) {
        Json body;
        if (!jsonBody(req, res, body)) {
            return;
        }
        std::vector<std::string> paths;
        const auto list = body.find("paths");
        if (list != body.end() && list->is_array()) {
            for (const auto& p : *list) {
                if (p.is_string() && !p.get<std::string>().empty()) {
                    paths.push_back(p.get<std::string>());
                }
            }
        }
        SurveyOptions survey;
        const std::string unit = body.value("covarianceUnit", std::string());
        if (!surveyOptions(unit, res, survey)) {
            return;
        }
        std::string error;
        if (paths.empty()) {
            replyError(res, 400, "name a project, a data set or survey files");
        } else if (!workspace_.open(paths, survey, error)) {
            replyError(res, 400, error);
        } else {
            setBody(res, workspace_.stateText(), "application/json");
        }
    });

    s.Post("/api/upload", [this](const httplib::Request& req, httplib::Response& res) {
        std::vector<UploadedFile> files;
        for (const auto& [field, part] : req.files) {
            if (field == "files") {
                files.push_back(UploadedFile{part.filename, part.content});
            }
        }
        SurveyOptions survey;
        const std::string unit =
            req.has_file("covarianceUnit") ? req.get_file_value("covarianceUnit").content : "";
        if (!surveyOptions(unit, res, survey)) {
            return;
        }
        std::string error;
        if (!workspace_.openUploaded(files, survey, error)) {
            replyError(res, 400, error);
        } else {
            setBody(res, workspace_.stateText(), "application/json");
        }
    });
}

void WorkspaceServer::addProjectRoutes() {
    httplib::Server& s = *handler_;
    s.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
        setBody(res, workspace_.stateText(), "application/json");
    });

    s.Post("/api/edit", [this](const httplib::Request& req, httplib::Response& res) {
        Json body;
        std::string error;
        if (!jsonBody(req, res, body)) {
            return;
        }
        if (!workspace_.edit(body, error)) {
            replyError(res, 400, error);
        } else {
            setBody(res, workspace_.stateText(), "application/json");
        }
    });

    s.Post("/api/save", [this](const httplib::Request& req, httplib::Response& res) {
        Json body;
        std::string error;
        if (!jsonBody(req, res, body)) {
            return;
        }
        const std::string path = body.value("path", std::string());
        if (!workspace_.save(path, error)) {
            replyError(res, 400, error);
        } else {
            setBody(res, workspace_.stateText(), "application/json");
        }
    });

    s.Get("/api/project", [this](const httplib::Request&, httplib::Response& res) {
        std::string text, name;
        if (!workspace_.projectDownload(text, name)) {
            replyError(res, 404, "no project is open");
            return;
        }
        attach(res, text, name, "application/json");
    });
}

void WorkspaceServer::addPlanRoutes() {
    handler_->Post("/api/preanalysis", [this](const httplib::Request& req, httplib::Response& res) {
        Json body;
        if (!jsonBody(req, res, body)) {
            return;
        }
        const PlanAnswer answer = workspace_.preanalysis(body);
        if (answer.status != 200) {
            replyError(res, answer.status, answer.error);
            return;
        }
        setBody(res, answer.text, "application/json");
    });
}

void WorkspaceServer::addRunRoutes() {
    httplib::Server& s = *handler_;
    s.Post("/api/runs", [this](const httplib::Request& req, httplib::Response& res) {
        Json body;
        if (!req.body.empty() && !jsonBody(req, res, body)) {
            return;
        }
        RunAsked asked;
        int id = 0;
        std::string error;
        if (!readRunAsked(body, asked, error)) {
            replyError(res, 400, error);
            return;
        }
        if (!workspace_.startRun(asked, id, error)) {
            replyError(res, 409, error);
            return;
        }
        reply(res, 200, Json{{"id", id}});
    });

    s.Get(R"(/api/runs/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
        const auto run = workspace_.run(runId(req));
        if (!run) {
            replyError(res, 404, "no such run");
            return;
        }
        const Json results = run->results();
        reply(res, 200, results.is_null() ? run->summary() : results);
    });

    s.Post(R"(/api/runs/(\d+)/cancel)",
           [this](const httplib::Request& req, httplib::Response& res) {
               const auto run = workspace_.run(runId(req));
               if (!run) {
                   replyError(res, 404, "no such run");
                   return;
               }
               run->cancel();
               reply(res, 200, Json{{"cancelled", !run->finished()}});
           });

    s.Post(R"(/api/runs/(\d+)/warning)",
           [this](const httplib::Request& req, httplib::Response& res) {
               const auto run = workspace_.run(runId(req));
               Json body;
               if (!run) {
                   replyError(res, 404, "no such run");
                   return;
               }
               if (!jsonBody(req, res, body)) {
                   return;
               }
               const auto ok = body.find("ok");
               if (ok == body.end() || !ok->is_boolean()) {
                   replyError(res, 400, "the answer is {\"ok\": true} or {\"ok\": false}");
               } else if (!run->answerWarning(ok->get<bool>())) {
                   replyError(res, 409, "no warning waits for an answer in this run");
               } else {
                   reply(res, 200, Json{{"answered", ok->get<bool>()}});
               }
           });
}

void WorkspaceServer::addRunFileRoutes() {
    httplib::Server& s = *handler_;
    s.Delete(R"(/api/runs/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
        switch (workspace_.deleteRun(runId(req))) {
            case RunDeletion::kDeleted:
                setBody(res, workspace_.stateText(), "application/json");
                return;
            case RunDeletion::kUnknown:
                replyError(res, 404, "no such run");
                return;
            case RunDeletion::kStillRunning:
                replyError(res, 409, "the run is still going on: cancel it first");
                return;
        }
    });

    s.Get(R"(/api/runs/(\d+)/files/([a-z]+))",
          [this](const httplib::Request& req, httplib::Response& res) {
              const auto run = workspace_.run(runId(req));
              std::string bytes, name, type;
              if (!run || !run->download(req.matches[2], bytes, name, type)) {
                  replyError(res, 404, "no such file of this run");
                  return;
              }
              attach(res, bytes, name, type);
          });
}

}  // namespace torvek::front::serve
