#pragma once

// The HTTP side of the browser workspace: the page's files and a small JSON API over one
// Workspace, served on the loopback address to the holder of the access token only.

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "front/serve/workspace.h"

namespace httplib {
class Server;
}

namespace torvek::front::serve {

// Threads that serve requests. A page holds one connection open per run it follows (the event
// stream) besides its ordinary requests; several tabs and runs fit well within this.
inline constexpr std::size_t kServerThreads = 24;

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
    // The routes of the server, by what they serve; addRoutes adds them all.
    void addRoutes();
    void addAccessGuard();     // every request passes the guard first (access_guard.h)
    void addPageRoutes();      // the page and its files
    void addOpeningRoutes();   // opening files by path or by upload
    void addProjectRoutes();   // the open project: its state, edits, saving and download
    void addRunRoutes();       // starting runs, their results, cancel, warning, files
    void addPlanRoutes();      // the pre-analysis of planned vectors
    void addRunEventStream();  // the events of a run as a stream

    const std::string token_;
    Workspace workspace_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> openStreams_{0};
    int port_ = 0;
};

}  // namespace torvek::front::serve
