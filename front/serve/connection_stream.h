#pragma once

// One connection as the HTTP library reads a request from it and writes the answer: the bytes
// the front already received come first, then the socket, each read bounded by the request's
// deadline and the whole request by a size, and each write by a time without progress. A worker
// thread is thus never held longer than these bounds by a client that stalls.

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <string>

namespace torvek::front::serve {

// How long a write may wait for a client that takes nothing of the answer before the
// connection is given up.
inline constexpr std::chrono::milliseconds kWriteStallTimeout{10000};

class ConnectionStream : public httplib::Stream {
  public:
    // `received`: what the front read already (head first); `deadline`: by when the request
    // must have been read; `maximumBytes`: the most the request may hold, head and body.
    ConnectionStream(int fd, std::string received, std::chrono::steady_clock::time_point deadline,
                     std::size_t maximumBytes);

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, std::size_t size) override;
    ssize_t write(const char* ptr, std::size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    int socket() const override { return fd_; }

    // What was read beyond the request (the start of the next one on this connection).
    std::string leftover() const { return received_.substr(used_); }
    // The status of the answer written (from its status line), 0 before it.
    int answerStatus() const { return status_; }

  private:
    // Waits for `events` on the socket until `until`; true when they came.
    bool waitFor(short events, std::chrono::steady_clock::time_point until) const;

    int fd_;
    std::string received_;
    std::size_t used_ = 0;
    std::chrono::steady_clock::time_point deadline_;
    std::size_t remainingBytes_;
    int status_ = 0;
};

}  // namespace torvek::front::serve
