#include "support/in_process_front_end.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "link/endpoint_io.h"
#include "link/frame_codec.h"
#include "link/messages.h"

namespace torvek::testing {
InProcessFrontEnd::InProcessFrontEnd(std::set<int> abortAtStages, int messageBoxButton)
    : abortAtStages_(std::move(abortAtStages)), messageBoxButton_(messageBoxButton) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, progressPair_) != 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, reportPair_) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    thread_ = std::thread([this] { serve(); });
    // The channel asks for the class name as it is built, so the peer must already be serving.
    channel_ = std::make_unique<RichEditChannel>(reportPair_[0]);
    report_ = std::make_unique<ReportWriter>(*channel_);
    progress_ = std::make_unique<ProgressWindow>(progressPair_[0], *report_);
}

InProcessFrontEnd::~InProcessFrontEnd() {
    progress_.reset();
    report_.reset();
    channel_.reset();
    // Closing the program's ends is the peer's end of input on both sockets.
    ::close(progressPair_[0]);
    ::close(reportPair_[0]);
    if (thread_.joinable())
        thread_.join();
    ::close(progressPair_[1]);
    ::close(reportPair_[1]);
}

void InProcessFrontEnd::setAbortStages(std::set<int> stages) {
    std::lock_guard<std::mutex> lock(mutex_);
    abortAtStages_ = std::move(stages);
}

void InProcessFrontEnd::setMessageBoxButton(int button) {
    std::lock_guard<std::mutex> lock(mutex_);
    messageBoxButton_ = button;
}

std::vector<Frame> InProcessFrontEnd::frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

void InProcessFrontEnd::clearFrames() {
    std::lock_guard<std::mutex> lock(mutex_);
    frames_.clear();
}

RunResult InProcessFrontEnd::result() const {
    RunResult result;
    result.exitCode = 0;
    result.frames = frames();
    return result;
}

std::vector<Frame> InProcessFrontEnd::messageBoxes() const {
    std::vector<Frame> boxes;
    for (const Frame& frame : frames())
        if (frame.message == link::Message::kWarningBox)
            boxes.push_back(frame);
    return boxes;
}

void InProcessFrontEnd::serve() {
    pollfd watched[2] = {{progressPair_[1], POLLIN, 0}, {reportPair_[1], POLLIN, 0}};
    const Endpoint endpoints[2] = {Endpoint::kProgress, Endpoint::kReport};
    while (watched[0].fd >= 0 || watched[1].fd >= 0) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        for (int i = 0; i < 2; ++i) {
            if (watched[i].fd < 0 || watched[i].revents == 0)
                continue;
            // poll ignores negative descriptors, so a closed endpoint drops out of the watch.
            if (!serveOne(watched[i].fd, endpoints[i]))
                watched[i].fd = -1;
        }
    }
}

bool InProcessFrontEnd::serveOne(int fd, Endpoint endpoint) {
    Frame frame;
    frame.endpoint = endpoint;
    if (!readFrame(fd, frame))
        return false;
    std::int32_t answer = link::kAnswerNone;
    {
        // Recorded before the answer goes out: once the program has its answer, the frame is
        // visible to the test.
        std::lock_guard<std::mutex> lock(mutex_);
        if (frame.message == link::Message::kAbortPoll && abortAtStages_.count(int(frame.wParam)))
            answer = link::kAnswerAbort;
        if (frame.message == link::Message::kReportPiece)
            answer = link::kAnswerDelivered;
        if (frame.message == link::Message::kWarningBox)
            answer = messageBoxButton_;
        frames_.push_back(frame);
    }
    if (frame.message == link::Message::kClassQuery) {
        link::writeFully(
            fd, link::encodeClassAnswer(static_cast<std::int32_t>(link::kReportClassName.size()),
                                        link::kReportClassName));
    } else {
        link::writeAnswer(fd, answer);
    }
    return true;
}

}  // namespace torvek::testing
