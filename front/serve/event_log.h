#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace torvek::front::serve {

// One event of a run as the page receives it: a name ("progress", "report", ...) and its data as
// one line of JSON.
struct RunEvent {
    std::size_t sequence = 0;  // from 0, in publishing order
    std::string name;
    std::string data;
};

// The events of one run, kept whole, so that a page that connects late, or a second tab, replays
// the run from its start and then follows it. Thread-safe: the run publishes, any number of
// streams read.
class EventLog {
  public:
    void publish(std::string name, std::string data);
    // No events follow; waiting readers return.
    void close();

    // The events from `next` on, waiting up to `timeout` for one when there is none yet. `closed`
    // tells whether the log was closed when they were taken (the reader then ends after them).
    std::vector<RunEvent> read(std::size_t next, std::chrono::milliseconds timeout,
                               bool& closed) const;

    // The events from `next` on, without waiting, up to about `maximumBytes` of data (always
    // at least one when there is one); `closed` as for read.
    std::vector<RunEvent> take(std::size_t next, std::size_t maximumBytes, bool& closed) const;

    std::size_t size() const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<RunEvent> events_;
    bool closed_ = false;
};

// An event in the wire form of server-sent events: "id", "event" and "data" lines and a blank line.
std::string formatServerSentEvent(const RunEvent& event);

}  // namespace torvek::front::serve
