#include "front/serve/workspace_server.h"

#include <httplib.h>

#include "front/documents/report_rendering.h"
#include "front/serve/access_guard.h"
#include "front/serve/web_assets.h"

namespace torvek::front::serve {
namespace {

// The loopback address: the server is never reachable from another machine.
constexpr const char* kLoopback = "127.0.0.1";
// The largest request body: two survey files of the largest size a project may have.
constexpr std::size_t kMaximumRequestBody = 2 * kMaximumProjectSize + (1u << 20);
// An event stream waits this long for the run's next event before it looks again whether the
// server stops, and sends a comment every kKeepAliveWaits waits so that idle proxies and the
// browser keep the stream open.
constexpr std::chrono::milliseconds kStreamWait{500};
constexpr int kKeepAliveWaits = 30;
// How long an idle connection is kept for the browser's next request. Stopping the server waits
// for every idle connection to time out, so this bounds the stop; a new connection on loopback
// costs a fraction of a millisecond.
constexpr time_t kKeepAliveSeconds = 1;

// Headers on every response: nothing is cached, nothing is loaded from elsewhere, the page is
// never framed by another, and the address (with its token) is never sent on as a referrer.
const httplib::Headers kSecurityHeaders{
    {"Cache-Control", "no-store"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"X-Frame-Options", "DENY"},
    {"Content-Security-Policy",
     "default-src 'self'; img-src 'self' data:; object-src 'none'; base-uri 'none'; "
     "form-action 'self'; frame-ancestors 'none'"},
};

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
      server_(std::make_unique<httplib::Server>()) {
    server_->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    server_->set_payload_max_length(kMaximumRequestBody);
    server_->set_default_headers(kSecurityHeaders);
    // Headers and body go out in separate writes: without this each response may wait for the
    // delayed acknowledgement of the one before.
    server_->set_tcp_nodelay(true);
    server_->set_keep_alive_timeout(kKeepAliveSeconds);
    addRoutes();
}

WorkspaceServer::~WorkspaceServer() {
    stop();
}

bool WorkspaceServer::bind(int port, std::string& error) {
    if (port == 0) {
        port_ = server_->bind_to_any_port(kLoopback);
        if (port_ <= 0) {
            error = "no free port on the loopback address";
            return false;
        }
    } else if (!server_->bind_to_port(kLoopback, port)) {
        error = "port " + std::to_string(port) + " of the loopback address is taken";
        return false;
    } else {
        port_ = port;
    }
    return true;
}

void WorkspaceServer::start() {
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // A stop() that came before the server's loop began would not reach it: the loop would then
    // wait on a closed socket for ever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!server_->is_running() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void WorkspaceServer::stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    // The runs end first, so that their last events still reach the pages that follow them.
    workspace_.shutdown(kShutdownGrace);
    const auto deadline = std::chrono::steady_clock::now() + kStreamDrainTime;
    while (openStreams_ > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    server_->stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::string WorkspaceServer::address() const {
    return "http://" + std::string(kLoopback) + ":" + std::to_string(port_) + "/?token=" + token_;
}

void WorkspaceServer::addRoutes() {
    addAccessGuard();
    addPageRoutes();
    addOpeningRoutes();
    addProjectRoutes();
    addRunRoutes();
    addPlanRoutes();
    addRunEventStream();
}

void WorkspaceServer::addAccessGuard() {
    httplib::Server& s = *server_;
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        RequestFacts facts;
        facts.host = req.get_header_value("Host");
        facts.origin = req.get_header_value("Origin");
        facts.fetchSite = req.get_header_value("Sec-Fetch-Site");
        facts.authorization = req.get_header_value("Authorization");
        facts.cookies = req.get_header_value("Cookie");
        facts.queryToken = req.get_param_value("token");
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
    httplib::Server& s = *server_;
    // The page. Opened with the token in its address, it keeps the token in a cookie that only
    // this server's pages send, so that its scripts, streams and downloads need no token of their
    // own; the script then removes the token from the address bar.
    s.Get("/", [this](const httplib::Request& req, httplib::Response& res) {
        for (const WebAsset& asset : webAssets()) {
            if (asset.name == "index.html") {
                setBody(res, std::string(asset.bytes), contentTypeOf(asset.name));
            }
        }
        if (req.has_param("token")) {
            res.set_header("Set-Cookie", tokenCookieName(port_) + "=" + token_ +
                                             "; Path=/; HttpOnly; SameSite=Strict");
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
    httplib::Server& s = *server_;
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
    httplib::Server& s = *server_;
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
    server_->Post("/api/preanalysis", [this](const httplib::Request& req, httplib::Response& res) {
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
    httplib::Server& s = *server_;
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

void WorkspaceServer::addRunEventStream() {
    httplib::Server& s = *server_;
    // The run's events as a stream: everything from the start (or after the last event the
    // browser saw, when it reconnects), then each new one as it comes, until the run has ended.
    s.Get(R"(/api/runs/(\d+)/events)", [this](const httplib::Request& req, httplib::Response& res) {
        const auto run = workspace_.run(runId(req));
        if (!run) {
            replyError(res, 404, "no such run");
            return;
        }
        auto next = std::make_shared<std::size_t>(0);
        const std::string lastSeen = req.get_header_value("Last-Event-ID");
        if (!lastSeen.empty() && lastSeen.size() < 10 &&
            lastSeen.find_first_not_of("0123456789") == std::string::npos) {
            *next = std::stoul(lastSeen) + 1;
        }
        auto waits = std::make_shared<int>(0);
        res.set_chunked_content_provider(
            "text/event-stream",
            [run, next, waits](std::size_t, httplib::DataSink& sink) {
                bool closed = false;
                std::string out;
                for (const RunEvent& event : run->events().read(*next, kStreamWait, closed)) {
                    out += formatServerSentEvent(event);
                    *next = event.sequence + 1;
                }
                if (out.empty() && ++*waits >= kKeepAliveWaits) {
                    out = ": waiting\n\n";
                    *waits = 0;
                }
                if (!out.empty() && !sink.write(out.data(), out.size())) {
                    return false;
                }
                if (closed) {
                    sink.done();
                }
                return true;
            },
            [this](bool) { --openStreams_; });
        ++openStreams_;
    });
}

}  // namespace torvek::front::serve
