#include "front/link_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace torvek::front {
namespace {

// What the child may print on its standard streams that we keep; the program itself prints only
// rare scratch-file messages.
constexpr std::size_t kMaximumChildOutput = 1u << 20;
// How long one wait for the child's frames lasts before the kill request is asked again.
constexpr int kServeIntervalMs = 200;

std::uint32_t getUint32(const unsigned char* at) {
    return std::uint32_t(at[0]) | (std::uint32_t(at[1]) << 8) | (std::uint32_t(at[2]) << 16) |
           (std::uint32_t(at[3]) << 24);
}

bool readAll(int fd, void* buffer, std::size_t size) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t got = ::read(fd, out, size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        out += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool writeAll(int fd, const void* buffer, std::size_t size) {
    const auto* in = static_cast<const unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t put = ::send(fd, in, size, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        in += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

void putInt32(std::string& out, std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((u >> (8 * i)) & 0xffu);
    }
}

bool answer(int fd, std::int32_t value) {
    std::string bytes;
    putInt32(bytes, value);
    return writeAll(fd, bytes.data(), bytes.size());
}

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

struct Frame {
    std::uint32_t message = 0;
    std::uint32_t wParam = 0;
    std::vector<unsigned char> payload;
};

enum class ReadResult { kFrame, kClosed, kTooLong };

ReadResult readFrame(int fd, Frame& frame) {
    unsigned char head[16];
    if (!readAll(fd, head, sizeof head)) {
        return ReadResult::kClosed;
    }
    frame.message = getUint32(head);
    frame.wParam = getUint32(head + 4);
    const std::uint32_t length = getUint32(head + 12);
    if (length > kMaximumPayload) {
        return ReadResult::kTooLong;
    }
    frame.payload.assign(length, 0);
    if (length > 0 && !readAll(fd, frame.payload.data(), length)) {
        return ReadResult::kClosed;
    }
    return ReadResult::kFrame;
}

// Serves one frame and answers it; false when the answer could not be sent.
bool serveFrame(int fd, const Frame& frame, const LinkHandlers& handlers, ChildOutcome& outcome) {
    ++outcome.framesServed;
    switch (frame.message) {
        case kMessageAbortPoll: {
            const bool abort = handlers.pollAbort && handlers.pollAbort(int(frame.wParam));
            return answer(fd, abort ? 1 : 0);
        }
        case kMessageReportPiece: {
            bool taken = false;
            if (frame.payload.size() < 8) {
                outcome.protocolErrors.push_back("a report piece shorter than its two words");
            } else {
                const std::uint32_t dataWord = getUint32(frame.payload.data());
                const std::uint32_t byteCount = getUint32(frame.payload.data() + 4);
                const std::size_t available = frame.payload.size() - 8;
                if (byteCount > available) {
                    outcome.protocolErrors.push_back(
                        "a report piece that announces more bytes than it holds");
                }
                std::string_view text(reinterpret_cast<const char*>(frame.payload.data() + 8),
                                      std::min<std::size_t>(byteCount, available));
                text = text.substr(0, text.find('\0'));
                taken = handlers.reportPiece ? handlers.reportPiece(dataWord, text) : true;
            }
            return answer(fd, taken ? 1 : 0);
        }
        case kMessageClassQuery: {
            std::string bytes;
            putInt32(bytes, static_cast<std::int32_t>(kReportClassName.size()));
            bytes += kReportClassName;
            return writeAll(fd, bytes.data(), bytes.size());
        }
        case kMessageWarningBox: {
            const std::string raw(reinterpret_cast<const char*>(frame.payload.data()),
                                  frame.payload.size());
            const std::size_t zero = raw.find('\0');
            const std::string text = raw.substr(0, zero);
            std::string caption;
            if (zero != std::string::npos) {
                caption = raw.substr(zero + 1);
                caption = caption.substr(0, caption.find('\0'));
            }
            const bool ok = handlers.warningBox && handlers.warningBox(text, caption);
            return answer(fd, ok ? kAnswerOk : kAnswerCancel);
        }
        case kMessageExitNotice:
            outcome.exitNoticeReceived = true;
            if (handlers.exitNotice) {
                handlers.exitNotice();
            }
            return answer(fd, 0);
        default:
            outcome.protocolErrors.push_back("an unknown message " + std::to_string(frame.message));
            return answer(fd, 0);
    }
}

void recordStatus(int status, ChildOutcome& outcome) {
    if (WIFEXITED(status)) {
        outcome.exited = true;
        outcome.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        outcome.signalled = true;
        outcome.signal = WTERMSIG(status);
    }
}

}  // namespace

std::string ChildOutcome::describe(const std::string& programName) const {
    if (!started) {
        return programName + " could not be started: " + startError;
    }
    if (killed) {
        return programName + " was stopped at your request before it finished";
    }
    if (signalled) {
        const char* name = ::strsignal(signal);
        return programName + " was killed by signal " + std::to_string(signal) + " (" +
               (name != nullptr ? name : "unknown") + ")" +
               (exitNoticeReceived ? "" : " before finishing its run");
    }
    if (exited && exitCode != 0) {
        return programName + " exited with status " + std::to_string(exitCode) +
               (exitNoticeReceived ? "" : " before finishing its run");
    }
    if (exited && !exitNoticeReceived) {
        return programName +
               " exited (status 0) before finishing its run: it never sent the "
               "exit notice";
    }
    return programName + " finished its run";
}

ChildOutcome runLinkedChild(const std::string& program, const std::vector<std::string>& arguments,
                            const LinkHandlers& handlers) {
    ChildOutcome outcome;
    int progress[2] = {-1, -1}, report[2] = {-1, -1}, output[2] = {-1, -1}, status[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, progress) != 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, report) != 0 ||
        ::pipe2(output, O_CLOEXEC) != 0 || ::pipe2(status, O_CLOEXEC) != 0) {
        outcome.startError =
            std::string("the link could not be set up (") + std::strerror(errno) + ")";
        for (int* pair : {progress, report, output, status}) {
            closeFd(pair[0]);
            closeFd(pair[1]);
        }
        return outcome;
    }

    // Everything the child needs is built before fork: after it, the child only makes system
    // calls.
    std::vector<std::string> words;
    words.push_back(program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    words.push_back(std::to_string(progress[1]));
    words.push_back(std::to_string(report[1]));
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGINT, SIG_IGN);
        ::fcntl(progress[1], F_SETFD, 0);
        ::fcntl(report[1], F_SETFD, 0);
        const int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) {
            ::dup2(null, 0);
        }
        ::dup2(output[1], 1);
        ::dup2(output[1], 2);
        ::execv(program.c_str(), argv.data());
        const int error = errno;
        (void)!::write(status[1], &error, sizeof error);
        ::_exit(127);
    }
    closeFd(progress[1]);
    closeFd(report[1]);
    closeFd(output[1]);
    closeFd(status[1]);
    if (child < 0) {
        outcome.startError = std::string("fork failed (") + std::strerror(errno) + ")";
        closeFd(progress[0]);
        closeFd(report[0]);
        closeFd(output[0]);
        closeFd(status[0]);
        return outcome;
    }

    // The status pipe closes on a successful exec; an errno arrives when exec failed.
    int execError = 0;
    ssize_t got;
    do {
        got = ::read(status[0], &execError, sizeof execError);
    } while (got < 0 && errno == EINTR);
    closeFd(status[0]);
    if (got == static_cast<ssize_t>(sizeof execError)) {
        outcome.startError = program + ": " + std::strerror(execError);
        int ignored = 0;
        while (::waitpid(child, &ignored, 0) < 0 && errno == EINTR) {
        }
        closeFd(progress[0]);
        closeFd(report[0]);
        closeFd(output[0]);
        return outcome;
    }
    outcome.started = true;

    int fds[3] = {progress[0], report[0], output[0]};
    bool reaped = false;
    int waitStatus = 0;
    for (;;) {
        if (handlers.killRequested && handlers.killRequested() && !outcome.killed) {
            ::kill(child, SIGKILL);
            outcome.killed = true;
        }
        if (fds[0] < 0 && fds[1] < 0 && fds[2] < 0) {
            // Every channel is closed: wait for the child itself, still heeding a kill request.
            const pid_t done = ::waitpid(child, &waitStatus, WNOHANG);
            if (done == child) {
                reaped = true;
                break;
            }
            if (done < 0 && errno != EINTR) {
                break;
            }
            ::poll(nullptr, 0, kServeIntervalMs / 4);
            continue;
        }
        pollfd watch[3];
        for (int i = 0; i < 3; ++i) {
            watch[i] = {fds[i], POLLIN, 0};
        }
        const int ready = ::poll(watch, 3, kServeIntervalMs);
        if (ready <= 0) {
            continue;  // a timeout, or a signal such as Ctrl-C: ask again
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i] < 0 || (watch[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            Frame frame;
            const ReadResult result = readFrame(fds[i], frame);
            if (result == ReadResult::kTooLong) {
                outcome.protocolErrors.push_back("a frame longer than " +
                                                 std::to_string(kMaximumPayload) +
                                                 " bytes; the endpoint was closed");
                closeFd(fds[i]);
            } else if (result == ReadResult::kClosed) {
                closeFd(fds[i]);
            } else if (!serveFrame(fds[i], frame, handlers, outcome)) {
                closeFd(fds[i]);
            }
        }
        if (fds[2] >= 0 && (watch[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            char buffer[4096];
            const ssize_t n = ::read(fds[2], buffer, sizeof buffer);
            if (n > 0) {
                if (outcome.childOutput.size() < kMaximumChildOutput) {
                    outcome.childOutput.append(buffer, static_cast<std::size_t>(n));
                }
            } else if (n == 0 || errno != EINTR) {
                closeFd(fds[2]);
            }
        }
    }
    for (int& fd : fds) {
        closeFd(fd);
    }
    if (!reaped) {
        while (::waitpid(child, &waitStatus, 0) < 0 && errno == EINTR) {
        }
    }
    recordStatus(waitStatus, outcome);
    return outcome;
}

}  // namespace torvek::front
