#include "link/endpoint_io.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace torvek::link {

bool readFully(int fd, void* buffer, std::size_t size) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t got = ::read(fd, out, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool writeFully(int fd, std::string_view bytes) {
    const char* in = bytes.data();
    std::size_t size = bytes.size();
    while (size > 0) {
        // send() rather than write(): it refuses descriptors that are not sockets, and
        // MSG_NOSIGNAL keeps a vanished peer from killing the process.
        const ssize_t sent = ::send(fd, in, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        in += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool exchangeFrame(std::int32_t endpoint, Message message, std::uint32_t wParam,
                   std::string_view payload, std::int32_t& answer) {
    answer = kAnswerNone;
    if (endpoint <= 0)
        return false;
    if (!writeFully(endpoint, encodeFrame(message, wParam, payload)))
        return false;
    unsigned char reply[kAnswerSize];
    if (!readFully(endpoint, reply, sizeof reply))
        return false;
    answer = decodeAnswer(reply);
    return true;
}

void discardBytes(int fd, std::uint32_t count) {
    char sink[4096];
    std::uint32_t left = count < kMaxDiscardedAnswer ? count : kMaxDiscardedAnswer;
    while (left > 0) {
        pollfd watch{fd, POLLIN, 0};
        const int ready = ::poll(&watch, 1, kDiscardWaitMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return;
        const ssize_t got = ::read(fd, sink, left < sizeof sink ? left : sizeof sink);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return;
        left -= static_cast<std::uint32_t>(got);
    }
}

bool queryClassName(std::int32_t endpoint, std::string& name) {
    name.clear();
    std::int32_t length = 0;
    if (!exchangeFrame(endpoint, Message::kClassQuery, 0, {}, length))
        return false;
    if (length > kMaxClassNameLength) {
        // Left unread, these bytes would make our exit reset the connection instead of closing
        // it, and the front end would take the reset for a crash.
        discardBytes(endpoint, static_cast<std::uint32_t>(length));
        return false;
    }
    if (length <= 0)
        return false;
    std::string received(static_cast<std::size_t>(length), '\0');
    if (!readFully(endpoint, received.data(), received.size()))
        return false;
    name = std::move(received);
    return true;
}

ReadResult readFrame(int fd, std::uint32_t maximumPayload, Frame& frame) {
    unsigned char head[kFrameHeadSize];
    if (!readFully(fd, head, sizeof head))
        return ReadResult::kClosed;
    frame.head = decodeFrameHead(head);
    if (frame.head.payloadLength > maximumPayload)
        return ReadResult::kTooLong;
    frame.payload.assign(frame.head.payloadLength, '\0');
    if (!frame.payload.empty() && !readFully(fd, frame.payload.data(), frame.payload.size()))
        return ReadResult::kClosed;
    return ReadResult::kFrame;
}

bool writeAnswer(int fd, std::int32_t value) {
    return writeFully(fd, encodeAnswer(value));
}

}  // namespace torvek::link
