#pragma once

// The event streams of runs, all served by one thread: each stream is a connection that gets a
// run's events as server-sent events as they are published, written without blocking, so that
// any number of pages following runs hold no worker thread. The number of streams and what each
// may have unsent are bounded.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "front/serve/event_log.h"

namespace torvek::front::serve {

// Streams open at once; one more is answered 503 until one ends.
inline constexpr std::size_t kMaximumEventStreams = 64;
// Bytes of events taken from the log for a stream before the client has taken the ones before;
// a client that reads nothing for kStreamStallTimeout is dropped (it reconnects where it was).
inline constexpr std::size_t kStreamBufferBytes = 256u << 10;
inline constexpr std::chrono::milliseconds kStreamStallTimeout{30000};
// How often the streams look for new events, and how long a stream may stay silent before a
// comment tells the browser it is still open.
inline constexpr std::chrono::milliseconds kStreamPollInterval{50};
inline constexpr std::chrono::milliseconds kStreamKeepAlive{15000};

class EventStreamer {
  public:
    EventStreamer() = default;
    ~EventStreamer();
    EventStreamer(const EventStreamer&) = delete;
    EventStreamer& operator=(const EventStreamer&) = delete;

    void start();
    // Closes every stream; returns when the thread has ended.
    void stop();

    // Takes the connection `fd` (the caller's until then): `head` (the answer's status line and
    // headers) is sent, then the events of `log` from `next` on until the log is closed, then the
    // connection is closed. False when kMaximumEventStreams are open (the caller keeps `fd`).
    bool add(int fd, std::string head, std::shared_ptr<const EventLog> log, std::size_t next);

    // Streams open now.
    std::size_t openCount() const { return open_.load(); }

  private:
    struct Stream {
        int fd = -1;
        std::shared_ptr<const EventLog> log;
        std::size_t next = 0;
        std::string unsent;
        bool logClosed = false;
        std::chrono::steady_clock::time_point lastProgress;  // last bytes taken by the client
        std::chrono::steady_clock::time_point lastSent;      // last bytes given to the socket
    };

    void serve();
    // Takes new events and sends what it can; false when the stream is over.
    bool advance(Stream& stream);

    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> open_{0};
    std::mutex mutex_;             // guards added_
    std::vector<Stream> added_;    // handed over, not yet taken by the thread
    std::vector<Stream> streams_;  // the thread's own
};

}  // namespace torvek::front::serve
