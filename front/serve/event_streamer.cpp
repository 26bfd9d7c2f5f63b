#include "front/serve/event_streamer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace torvek::front::serve {
namespace {

using Clock = std::chrono::steady_clock;

// Reads and drops what the client sends (nothing, for a page following a stream); false when it
// has closed its side.
bool clientStillThere(int fd) {
    char buffer[512];
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    return got > 0 || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
}

}  // namespace

EventStreamer::~EventStreamer() {
    stop();
}

void EventStreamer::start() {
    thread_ = std::thread([this] { serve(); });
}

void EventStreamer::stop() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    for (Stream& stream : added_) {
        ::close(stream.fd);
    }
    added_.clear();
}

bool EventStreamer::add(int fd, std::string head, std::shared_ptr<const EventLog> log,
                        std::size_t next) {
    if (stopping_ || open_.fetch_add(1) >= kMaximumEventStreams) {
        --open_;
        return false;
    }
    Stream stream;
    stream.fd = fd;
    stream.log = std::move(log);
    stream.next = next;
    stream.unsent = std::move(head);
    stream.lastProgress = stream.lastSent = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    added_.push_back(std::move(stream));
    return true;
}

bool EventStreamer::advance(Stream& stream) {
    const Clock::time_point now = Clock::now();
    if (stream.unsent.size() < kStreamBufferBytes && !stream.logClosed) {
        for (const RunEvent& event :
             stream.log->take(stream.next, kStreamBufferBytes, stream.logClosed)) {
            stream.unsent += formatServerSentEvent(event);
            stream.next = event.sequence + 1;
        }
    }
    if (stream.unsent.empty() && now - stream.lastSent >= kStreamKeepAlive) {
        stream.unsent = ": waiting\n\n";
    }
    if (!stream.unsent.empty()) {
        const ssize_t sent = ::send(stream.fd, stream.unsent.data(), stream.unsent.size(),
                                    MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        if (sent > 0) {
            stream.unsent.erase(0, static_cast<std::size_t>(sent));
            stream.lastProgress = stream.lastSent = now;
        } else if (now - stream.lastProgress >= kStreamStallTimeout) {
            return false;
        }
    }
    // The log ended and everything went out: the stream is complete.
    return !(stream.logClosed && stream.unsent.empty() && stream.log->size() <= stream.next);
}

void EventStreamer::serve() {
    std::vector<pollfd> watch;
    while (!stopping_) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (Stream& stream : added_) {
                streams_.push_back(std::move(stream));
            }
            added_.clear();
        }
        watch.clear();
        for (const Stream& stream : streams_) {
            const short events = stream.unsent.empty() ? POLLIN : POLLIN | POLLOUT;
            watch.push_back({stream.fd, events, 0});
        }
        ::poll(watch.data(), watch.size(), static_cast<int>(kStreamPollInterval.count()));
        std::vector<Stream> kept;
        for (std::size_t i = 0; i < streams_.size(); ++i) {
            Stream& stream = streams_[i];
            const bool hungUp = (watch[i].revents & (POLLHUP | POLLERR)) != 0 ||
                                ((watch[i].revents & POLLIN) != 0 && !clientStillThere(stream.fd));
            if (!hungUp && advance(stream)) {
                kept.push_back(std::move(stream));
            } else {
                ::shutdown(stream.fd, SHUT_WR);
                ::close(stream.fd);
                --open_;
            }
        }
        streams_.swap(kept);
    }
    for (Stream& stream : streams_) {
        ::close(stream.fd);
        --open_;
    }
    streams_.clear();
}

}  // namespace torvek::front::serve
