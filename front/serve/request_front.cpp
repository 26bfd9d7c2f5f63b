#include "front/serve/request_front.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace torvek::front::serve {
namespace {

// Connections waiting in the kernel for the front to accept them.
constexpr int kListenBacklog = 128;
// The longest the front sleeps without looking at its deadlines and the stop request.
constexpr int kLongestWaitMs = 1000;

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

HeadScan scanHead(std::string_view received, std::size_t& headSize) {
    std::size_t lines = 0;
    std::size_t lineStart = 0;
    const std::size_t limit = std::min(received.size(), kMaximumHeadBytes);
    for (std::size_t at = 0; at < limit; ++at) {
        if (received[at] != '\n') {
            continue;
        }
        const std::string_view line = received.substr(lineStart, at - lineStart);
        if (line.empty() || line == "\r") {
            headSize = at + 1;
            return HeadScan::kComplete;
        }
        // The request line and then the header lines.
        if (++lines > kMaximumHeaderLines + 1) {
            return HeadScan::kTooManyLines;
        }
        lineStart = at + 1;
    }
    return received.size() >= kMaximumHeadBytes ? HeadScan::kTooLarge : HeadScan::kIncomplete;
}

std::string RequestHead::field(std::string_view name) const {
    for (const auto& [key, value] : fields) {
        if (sameName(key, name)) {
            return value;
        }
    }
    return {};
}

std::string RequestHead::path() const {
    return target.substr(0, target.find('?'));
}

bool parseHead(std::string_view head, RequestHead& parsed) {
    std::size_t end = head.find('\n');
    const std::string_view requestLine = trimmed(head.substr(0, end));
    const std::size_t firstSpace = requestLine.find(' ');
    const std::size_t secondSpace = requestLine.find(' ', firstSpace + 1);
    if (firstSpace == std::string_view::npos || secondSpace == std::string_view::npos ||
        requestLine.substr(secondSpace + 1).substr(0, 5) != "HTTP/") {
        return false;
    }
    parsed.method = std::string(requestLine.substr(0, firstSpace));
    parsed.target = std::string(requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1));
    parsed.fields.clear();
    while (end != std::string_view::npos && end + 1 < head.size()) {
        const std::size_t start = end + 1;
        end = head.find('\n', start);
        const std::string_view line = head.substr(start, end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos) {
            parsed.fields.emplace_back(std::string(trimmed(line.substr(0, colon))),
                                       std::string(trimmed(line.substr(colon + 1))));
        }
    }
    return true;
}

void answerAndClose(int fd, int status, const std::string& reason, const std::string& text) {
    const std::string response = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                                 "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                                 std::to_string(text.size()) +
                                 "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff"
                                 "\r\nCross-Origin-Resource-Policy: same-origin"
                                 "\r\nConnection: close\r\n\r\n" +
                                 text;
    // A short answer fits the socket's buffer; a client that does not take it loses it.
    (void)!::send(fd, response.data(), response.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

RequestFront::~RequestFront() {
    stop();
}

bool RequestFront::bind(const std::string& address, int port, std::string& error) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    socklen_t length = sizeof where;
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&where), length) != 0 ||
        ::listen(listenFd_, kListenBacklog) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&where), &length) != 0) {
        error = port == 0 ? "no free port on the loopback address"
                          : "port " + std::to_string(port) + " of the loopback address is taken";
        if (listenFd_ >= 0) {
            ::close(listenFd_);
        }
        listenFd_ = -1;
        return false;
    }
    port_ = ntohs(where.sin_port);
    return true;
}

void RequestFront::start(Handler handler) {
    handler_ = std::move(handler);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    thread_ = std::thread([this] { serve(); });
}

void RequestFront::stop() {
    {
        std::lock_guard<std::mutex> lock(resumedMutex_);
        stopRequested_ = true;
    }
    if (wakeWrite_ >= 0) {
        const char byte = 1;
        (void)!::write(wakeWrite_, &byte, 1);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    for (int* fd : {&listenFd_, &wakeRead_, &wakeWrite_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    std::lock_guard<std::mutex> lock(resumedMutex_);
    for (const auto& [fd, received] : resumed_) {
        ::close(fd);
    }
    resumed_.clear();
}

void RequestFront::resume(int fd, std::string received) {
    {
        std::lock_guard<std::mutex> lock(resumedMutex_);
        if (stopRequested_) {
            ::close(fd);
            return;
        }
        resumed_.emplace_back(fd, std::move(received));
    }
    const char byte = 1;
    (void)!::write(wakeWrite_, &byte, 1);
}

void RequestFront::admit(int fd, std::string received) {
    if (open_.size() >= kMaximumWaitingConnections) {
        // The oldest has had the longest to send its head: it is the likeliest to be stalling.
        auto oldest = std::min_element(
            open_.begin(), open_.end(),
            [](const auto& a, const auto& b) { return a.second.deadline < b.second.deadline; });
        ::close(oldest->first);
        open_.erase(oldest);
    }
    Connection& connection = open_[fd];
    connection.received = std::move(received);
    connection.deadline = Clock::now() + kRequestDeadline;
    if (!connection.received.empty() && handOnIfWhole(fd, connection)) {
        open_.erase(fd);
    }
}

void RequestFront::acceptAll() {
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;  // none left (EAGAIN), or a connection that went away meanwhile
        }
        // Headers and body go out in separate writes: without this each answer may wait for the
        // delayed acknowledgement of the one before.
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        admit(fd, {});
    }
}

bool RequestFront::handOnIfWhole(int fd, Connection& connection) {
    std::size_t headSize = 0;
    switch (scanHead(connection.received, headSize)) {
        case HeadScan::kIncomplete:
            return false;
        case HeadScan::kTooLarge:
        case HeadScan::kTooManyLines:
            answerAndClose(fd, 431, "Request Header Fields Too Large",
                           "Refused: the request's header is too large.\n");
            return true;
        case HeadScan::kComplete:
            break;
    }
    WaitingRequest request;
    if (!parseHead(std::string_view(connection.received).substr(0, headSize), request.head)) {
        answerAndClose(fd, 400, "Bad Request", "Refused: the request line is malformed.\n");
        return true;
    }
    request.fd = fd;
    request.received = std::move(connection.received);
    request.headSize = headSize;
    request.deadline = connection.deadline;
    handler_(std::move(request));
    return true;
}

bool RequestFront::readFrom(int fd, Connection& connection) {
    char buffer[16384];
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return false;
    }
    if (got <= 0) {
        ::close(fd);
        return true;
    }
    // The request's time runs from its first byte: a connection kept open by the browser between
    // requests does not shorten the next one's.
    if (connection.received.empty()) {
        connection.deadline = Clock::now() + kRequestDeadline;
    }
    connection.received.append(buffer, static_cast<std::size_t>(got));
    return handOnIfWhole(fd, connection);
}

void RequestFront::takeResumed() {
    char drain[256];
    while (::read(wakeRead_, drain, sizeof drain) > 0) {
    }
    std::vector<std::pair<int, std::string>> taken;
    {
        std::lock_guard<std::mutex> lock(resumedMutex_);
        stopping_ = stopRequested_;
        taken.swap(resumed_);
    }
    for (auto& [fd, received] : taken) {
        admit(fd, std::move(received));
    }
}

void RequestFront::closeExpired() {
    const Clock::time_point now = Clock::now();
    for (auto it = open_.begin(); it != open_.end();) {
        if (it->second.deadline <= now) {
            ::close(it->first);
            it = open_.erase(it);
        } else {
            ++it;
        }
    }
}

int RequestFront::pollTimeout() const {
    Clock::time_point next = Clock::now() + std::chrono::milliseconds(kLongestWaitMs);
    for (const auto& [fd, connection] : open_) {
        next = std::min(next, connection.deadline);
    }
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(wait + 1, 0, kLongestWaitMs));
}

void RequestFront::serve() {
    std::vector<pollfd> watch;
    std::vector<int> fds;
    while (!stopping_) {
        watch.assign({{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}});
        fds.clear();
        for (const auto& [fd, connection] : open_) {
            watch.push_back({fd, POLLIN, 0});
            fds.push_back(fd);
        }
        if (::poll(watch.data(), watch.size(), pollTimeout()) < 0 && errno != EINTR) {
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            const auto it = open_.find(fds[i]);
            if (watch[i + 2].revents != 0 && it != open_.end() && readFrom(fds[i], it->second)) {
                open_.erase(it);
            }
        }
        if (watch[1].revents != 0) {
            takeResumed();
        }
        if (watch[0].revents != 0) {
            acceptAll();
        }
        closeExpired();
    }
    for (const auto& [fd, connection] : open_) {
        ::close(fd);
    }
    open_.clear();
}

}  // namespace torvek::front::serve
