#pragma once

// The accepting front of the workspace server. One thread accepts every connection and reads
// request heads for all of them at once, without blocking, under hard limits: a head holds at
// most kMaximumHeadBytes in at most kMaximumHeaderLines header lines and must arrive whole within
// kRequestDeadline of its first byte. Only a whole head is handed on, so a client that sends
// slowly, endlessly or not at all costs one entry in the front's list for a few seconds, never a
// worker thread.

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace torvek::front::serve {

using Clock = std::chrono::steady_clock;

// The largest request head (request line, header lines and the blank line), in bytes.
inline constexpr std::size_t kMaximumHeadBytes = 64u << 10;
// The most header lines in one head; browsers send about twenty.
inline constexpr std::size_t kMaximumHeaderLines = 100;
// A whole request, head and body, must arrive within this time of its first byte; a connection
// that sends nothing for this long, after it was opened or after its previous answer, is closed.
inline constexpr std::chrono::milliseconds kRequestDeadline{5000};
// Connections the front reads heads from at once; when one more comes, the oldest is closed.
inline constexpr std::size_t kMaximumWaitingConnections = 256;

// How far a head has arrived.
enum class HeadScan { kIncomplete, kComplete, kTooLarge, kTooManyLines };

// Looks at the bytes received so far on a connection. kComplete sets `headSize` to the bytes of
// the head up to and including its blank line (a body may follow them).
HeadScan scanHead(std::string_view received, std::size_t& headSize);

// A request head, split.
struct RequestHead {
    std::string method;
    std::string target;  // as sent: path and query
    std::vector<std::pair<std::string, std::string>> fields;

    // The value of the first field of that name (case-insensitive), or empty.
    std::string field(std::string_view name) const;
    // The target without its query.
    std::string path() const;
};

// Splits a whole head (as scanHead found it); false when its request line is malformed.
bool parseHead(std::string_view head, RequestHead& parsed);

// A connection with a whole request head, as the front hands it on: the caller owns `fd` then.
struct WaitingRequest {
    int fd = -1;
    std::string received;  // the head, and whatever of the body came with it
    std::size_t headSize = 0;
    RequestHead head;
    Clock::time_point deadline;  // by which the whole request must have been read
};

class RequestFront {
  public:
    // Called on the front's thread for every whole head; it must not block.
    using Handler = std::function<void(WaitingRequest)>;

    RequestFront() = default;
    ~RequestFront();
    RequestFront(const RequestFront&) = delete;
    RequestFront& operator=(const RequestFront&) = delete;

    // Listens on `address` (an IPv4 address) and `port` (1 to 65535, or 0 for a free one). False
    // with `error` set when the port cannot be had.
    bool bind(const std::string& address, int port, std::string& error);
    int port() const { return port_; }

    void start(Handler handler);
    // Closes the listening socket and every connection the front holds; returns when its thread
    // has ended. Connections handed on stay with their owners.
    void stop();

    // Takes back a connection whose request was answered, for its next request; `received`
    // holds what was read beyond that request. Any thread.
    void resume(int fd, std::string received);

  private:
    struct Connection {
        std::string received;
        Clock::time_point deadline;  // for the first byte, then for the whole request
    };

    void serve();
    void acceptAll();
    void admit(int fd, std::string received);
    // Reads what arrived on `fd`; true when the connection leaves the list.
    bool readFrom(int fd, Connection& connection);
    // True when the connection left the list (handed on or refused).
    bool handOnIfWhole(int fd, Connection& connection);
    void takeResumed();
    void closeExpired();
    int pollTimeout() const;

    Handler handler_;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    int port_ = 0;
    std::thread thread_;
    bool stopping_ = false;           // read and written on the front's thread after start
    std::map<int, Connection> open_;  // the front's thread only
    std::mutex resumedMutex_;
    std::vector<std::pair<int, std::string>> resumed_;
    bool stopRequested_ = false;  // under resumedMutex_
};

// Sends a short answer on a connection the caller owns, without waiting, and closes it.
void answerAndClose(int fd, int status, const std::string& reason, const std::string& text);

}  // namespace torvek::front::serve
