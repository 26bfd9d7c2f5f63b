#include "platform/link_frame.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace torvek::platform {
namespace {

void putUint32(unsigned char* at, std::uint32_t value) {
    at[0] = static_cast<unsigned char>(value);
    at[1] = static_cast<unsigned char>(value >> 8);
    at[2] = static_cast<unsigned char>(value >> 16);
    at[3] = static_cast<unsigned char>(value >> 24);
}

}  // namespace

bool readFully(int fd, void* buffer, std::size_t size) {
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

bool writeFully(int fd, const void* buffer, std::size_t size) {
    const auto* in = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        // send() rather than write(): it refuses descriptors that are not sockets (so a window
        // number that happens to name a file or the terminal is never written to), and
        // MSG_NOSIGNAL keeps a vanished peer from killing the process.
        ssize_t sent = ::send(fd, in, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        in += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool exchangeFrame(std::int32_t window, std::uint32_t message, std::uint32_t wParam,
                   const void* payload, std::uint32_t payloadLength, std::int32_t& answer) {
    answer = 0;
    if (window <= 0)
        return false;
    std::vector<unsigned char> frame(kFrameHeadSize + payloadLength);
    putUint32(frame.data(), message);
    putUint32(frame.data() + 4, wParam);
    putUint32(frame.data() + 8, 0);  // lParam is always 0 on the link
    putUint32(frame.data() + 12, payloadLength);
    if (payloadLength > 0)
        std::memcpy(frame.data() + kFrameHeadSize, payload, payloadLength);
    if (!writeFully(window, frame.data(), frame.size()))
        return false;
    unsigned char reply[4];
    if (!readFully(window, reply, sizeof reply))
        return false;
    std::uint32_t raw = static_cast<std::uint32_t>(reply[0]) | (std::uint32_t(reply[1]) << 8) |
                        (std::uint32_t(reply[2]) << 16) | (std::uint32_t(reply[3]) << 24);
    answer = static_cast<std::int32_t>(raw);
    return true;
}

std::int32_t sendMessage(std::int32_t window, std::uint32_t message, std::uint32_t wParam,
                         const void* payload, std::uint32_t payloadLength) {
    std::int32_t answer = 0;
    exchangeFrame(window, message, wParam, payload, payloadLength, answer);
    return answer;
}

}  // namespace torvek::platform
