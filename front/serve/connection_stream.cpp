#include "front/serve/connection_stream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace torvek::front::serve {
namespace {

using Clock = std::chrono::steady_clock;

void addressOf(const sockaddr_in& address, std::string& ip, int& port) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    ip = text;
    port = ntohs(address.sin_port);
}

}  // namespace

ConnectionStream::ConnectionStream(int fd, std::string received, Clock::time_point deadline,
                                   std::size_t maximumBytes)
    : fd_(fd),
      received_(std::move(received)),
      deadline_(deadline),
      remainingBytes_(maximumBytes > received_.size() ? maximumBytes - received_.size() : 0) {}

bool ConnectionStream::waitFor(short events, Clock::time_point until) const {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd watch{fd_, events, 0};
        const int ready = ::poll(&watch, 1, static_cast<int>(left));
        if (ready > 0) {
            return true;
        }
        if (ready < 0 && errno != EINTR) {
            return false;
        }
    }
}

bool ConnectionStream::is_readable() const {
    return used_ < received_.size() || waitFor(POLLIN, deadline_);
}

bool ConnectionStream::is_writable() const {
    return waitFor(POLLOUT, Clock::now() + kWriteStallTimeout);
}

ssize_t ConnectionStream::read(char* ptr, std::size_t size) {
    if (used_ < received_.size()) {
        const std::size_t n = std::min(size, received_.size() - used_);
        std::memcpy(ptr, received_.data() + used_, n);
        used_ += n;
        return static_cast<ssize_t>(n);
    }
    // Beyond what the request may hold, or past its deadline, nothing more is read.
    if (remainingBytes_ == 0 || !waitFor(POLLIN, deadline_)) {
        return -1;
    }
    const ssize_t got = ::recv(fd_, ptr, std::min(size, remainingBytes_), MSG_DONTWAIT);
    if (got > 0) {
        remainingBytes_ -= static_cast<std::size_t>(got);
    }
    return got < 0 && (errno == EAGAIN || errno == EINTR) ? read(ptr, size) : got;
}

ssize_t ConnectionStream::write(const char* ptr, std::size_t size) {
    if (status_ == 0 && size >= 12 && std::strncmp(ptr, "HTTP/1.", 7) == 0) {
        status_ = std::atoi(std::string(ptr + 9, 3).c_str());
    }
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(fd_, ptr + sent, size - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return -1;
        } else if (!is_writable()) {
            return -1;
        }
    }
    return static_cast<ssize_t>(size);
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        addressOf(address, ip, port);
    }
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        addressOf(address, ip, port);
    }
}

}  // namespace torvek::front::serve
