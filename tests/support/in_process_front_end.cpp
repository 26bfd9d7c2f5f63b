#include "support/in_process_front_end.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace torvek::testing {
namespace {

constexpr std::uint32_t kCopyData = 74;
constexpr std::uint32_t kAbortPoll = 1033;
constexpr std::uint32_t kClassQuery = 65536;
constexpr std::uint32_t kMessageBox = 65537;
constexpr const char* kClassName = "RICHEDIT";
// A frame longer than this is not something the program sends; the peer gives up on it.
constexpr std::uint32_t kLargestPayload = 64u << 20;

std::uint32_t uint32At(const unsigned char* at) {
    return std::uint32_t(at[0]) | (std::uint32_t(at[1]) << 8) | (std::uint32_t(at[2]) << 16) |
           (std::uint32_t(at[3]) << 24);
}

bool readAll(int fd, void* buffer, std::size_t size) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        ssize_t got = ::read(fd, out, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

void writeAll(int fd, const void* buffer, std::size_t size) {
    const auto* in = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        ssize_t put = ::send(fd, in, size, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return;
        in += put;
        size -= static_cast<std::size_t>(put);
    }
}

void answerInt(int fd, std::int32_t value) {
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(std::uint32_t(value) >> (8 * i));
    writeAll(fd, bytes, sizeof bytes);
}

bool readFrame(int fd, Frame& frame) {
    unsigned char head[16];
    if (!readAll(fd, head, sizeof head))
        return false;
    frame.message = uint32At(head);
    frame.wParam = uint32At(head + 4);
    frame.lParam = uint32At(head + 8);
    const std::uint32_t length = uint32At(head + 12);
    if (length > kLargestPayload)
        return false;
    frame.payload.resize(length);
    if (length > 0 && !readAll(fd, frame.payload.data(), length))
        return false;
    const std::string raw(reinterpret_cast<const char*>(frame.payload.data()), length);
    if (frame.message == kCopyData && length >= 8) {
        frame.dataWord = uint32At(frame.payload.data());
        frame.byteCount = uint32At(frame.payload.data() + 4);
        const std::string text = raw.substr(8);
        frame.text = text.substr(0, text.find('\0'));
    }
    if (frame.message == kMessageBox) {
        const std::size_t zero = raw.find('\0');
        frame.boxText = raw.substr(0, zero);
        if (zero != std::string::npos) {
            const std::string rest = raw.substr(zero + 1);
            frame.boxCaption = rest.substr(0, rest.find('\0'));
        }
    }
    return true;
}

}  // namespace

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
        if (frame.message == kMessageBox)
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
    std::int32_t answer = 0;
    {
        // Recorded before the answer goes out: once the program has its answer, the frame is
        // visible to the test.
        std::lock_guard<std::mutex> lock(mutex_);
        if (frame.message == kAbortPoll)
            answer = abortAtStages_.count(int(frame.wParam)) ? 1 : 0;
        if (frame.message == kCopyData)
            answer = 1;
        if (frame.message == kMessageBox)
            answer = messageBoxButton_;
        frames_.push_back(frame);
    }
    if (frame.message == kClassQuery) {
        const std::int32_t length = static_cast<std::int32_t>(std::strlen(kClassName));
        answerInt(fd, length);
        writeAll(fd, kClassName, std::strlen(kClassName));
    } else {
        answerInt(fd, answer);
    }
    return true;
}

}  // namespace torvek::testing
