#pragma once

// The HTTP side of the browser workspace: the page's files and a small JSON API over one
// Workspace, served on the loopback address to the holder of the access token only. Connections
// pass through three stages, each bounded: the front reads request heads for all of them on one
// thread (request_front.h) and refuses those without the token at once; a small pool of workers
// answers whole requests; the event streams of runs are written by a thread of their own
// (event_streamer.h), so that neither slow clients nor pages following runs can take the
// workers from the others.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "front/serve/event_streamer.h"
#include "front/serve/request_front.h"
#include "front/serve/workspace.h"

namespace httplib {
class ThreadPool;
}

namespace torvek::front::serve {

class RequestHandler;

// Threads that answer whole requests. A request reaches them only once its head has arrived and
// its token was checked, and reads its body and writes its answer under deadlines; event
// streams never take one.
inline constexpr std::size_t kWorkerThreads = 8;
// Requests handed to the workers and not yet answered; one more is answered 503 at once.
inline constexpr std::size_t kMaximumQueuedRequests = 64;

// How long runs get to end by themselves after the server is told to stop, before their
// programs are killed.
inline constexpr std::chrono::milliseconds kShutdownGrace{5000};
// How long the event streams get to carry the runs' last events to the pages once the runs have
// ended, before the server closes its connections.
inline constexpr std::chrono::milliseconds kStreamDrainTime{2000};

class WorkspaceServer {
  public:
    // `token` must be non-empty (see makeAccessToken).
    WorkspaceServer(std::string token, WorkspaceOptions options);
    ~WorkspaceServer();
    WorkspaceServer(const WorkspaceServer&) = delete;
    WorkspaceServer& operator=(const WorkspaceServer&) = delete;

    // Binds to 127.0.0.1 on `port` (1 to 65535), or on a free port when `port` is 0. False with
    // `error` set when the port cannot be had.
    bool bind(int port, std::string& error);
    // Serves on a thread of its own until stop().
    void start();
    // Ends every run (see Workspace::shutdown), then the server; returns when all has ended.
    void stop();

    int port() const { return port_; }
    // The address to open, token included.
    std::string address() const;
    Workspace& workspace() { return workspace_; }

  private:
    // On the front's thread: refuses a request without the token, or hands it to a worker.
    void dispatch(WaitingRequest request);
    // On a worker: answers one request, then gives its connection back to the front.
    void serveRequest(WaitingRequest request);
    // On a worker: hands a request for a run's events to the event streamer.
    void streamEvents(WaitingRequest request);

    // The routes of the server, by what they serve; addRoutes adds them all.
    void addRoutes();
    void addAccessGuard();    // every request passes the guard first (access_guard.h)
    void addPageRoutes();     // the page and its files
    void addOpeningRoutes();  // opening files by path or by upload
    void addProjectRoutes();  // the open project: its state, edits, saving and download
    void addRunRoutes();      // starting runs, their results, cancel, warning
    void addRunFileRoutes();  // a run's downloads, and deleting it with its files
    void addPlanRoutes();     // the pre-analysis of planned vectors

    const std::string token_;
    Workspace workspace_;
    std::unique_ptr<RequestHandler> handler_;
    RequestFront front_;
    EventStreamer streamer_;
    std::unique_ptr<httplib::ThreadPool> workers_;
    std::atomic<std::size_t> busy_{0};  // requests handed to the workers, not yet answered
    std::atomic<bool> stopping_{false};
    int port_ = 0;
};

}  // namespace torvek::front::serve
