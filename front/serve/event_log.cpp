#include "front/serve/event_log.h"

namespace torvek::front::serve {

void EventLog::publish(std::string name, std::string data) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) {
            return;
        }
        events_.push_back(RunEvent{events_.size(), std::move(name), std::move(data)});
    }
    changed_.notify_all();
}

void EventLog::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    changed_.notify_all();
}

std::vector<RunEvent> EventLog::read(std::size_t next, std::chrono::milliseconds timeout,
                                     bool& closed) const {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return closed_ || events_.size() > next; });
    closed = closed_;
    if (next >= events_.size()) {
        return {};
    }
    return std::vector<RunEvent>(events_.begin() + static_cast<std::ptrdiff_t>(next),
                                 events_.end());
}

std::vector<RunEvent> EventLog::take(std::size_t next, std::size_t maximumBytes,
                                     bool& closed) const {
    std::lock_guard<std::mutex> lock(mutex_);
    closed = closed_;
    std::vector<RunEvent> taken;
    std::size_t bytes = 0;
    for (std::size_t n = next; n < events_.size() && (taken.empty() || bytes < maximumBytes); ++n) {
        bytes += events_[n].data.size();
        taken.push_back(events_[n]);
    }
    return taken;
}

std::size_t EventLog::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_.size();
}

std::string formatServerSentEvent(const RunEvent& event) {
    // The data is one line of JSON: it never holds the line feed that would end the field.
    return "id: " + std::to_string(event.sequence) + "\nevent: " + event.name +
           "\ndata: " + event.data + "\n\n";
}

}  // namespace torvek::front::serve
