#include "front/link_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/endpoint_io.h"
#include "link/frame_codec.h"
#include "link/messages.h"

namespace torvek::front {
namespace {

// What the child may print on its standard streams that we keep; the program itself prints only
// rare scratch-file messages.
constexpr std::size_t kMaximumChildOutput = 1u << 20;
// How long one wait for the child's frames lasts before the kill request is asked again.
constexpr int kServeIntervalMs = 200;

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Hands one report piece over and answers it; false when the answer could not be sent.
bool answerReportPiece(int fd, std::string_view payload, const LinkHandlers& handlers,
                       ChildOutcome& outcome) {
    link::ReportPiece piece;
    if (!link::decodeReportPiece(payload, piece)) {
        outcome.protocolErrors.push_back("a report piece shorter than its two words");
        return link::writeAnswer(fd, link::kAnswerNone);
    }
    if (piece.countExceedsPayload) {
        outcome.protocolErrors.push_back("a report piece that announces more bytes than it holds");
    }
    const bool taken =
        handlers.reportPiece ? handlers.reportPiece(piece.dataWord, piece.text) : true;
    return link::writeAnswer(fd, taken ? link::kAnswerDelivered : link::kAnswerNone);
}

// Serves one frame and answers it; false when the answer could not be sent.
bool serveFrame(int fd, const link::Frame& frame, const LinkHandlers& handlers,
                ChildOutcome& outcome) {
    ++outcome.framesServed;
    switch (frame.head.message) {
        case link::Message::kAbortPoll: {
            const bool abort =
                handlers.pollAbort && handlers.pollAbort(static_cast<int>(frame.head.wParam));
            return link::writeAnswer(fd, abort ? link::kAnswerAbort : link::kAnswerNone);
        }
        case link::Message::kReportPiece:
            return answerReportPiece(fd, frame.payload, handlers, outcome);
        case link::Message::kClassQuery:
            return link::writeFully(
                fd,
                link::encodeClassAnswer(static_cast<std::int32_t>(link::kReportClassName.size()),
                                        link::kReportClassName));
        case link::Message::kWarningBox: {
            const link::WarningBox box = link::decodeWarningBox(frame.payload);
            const bool ok = handlers.warningBox && handlers.warningBox(box.text, box.caption);
            return link::writeAnswer(fd, ok ? link::kButtonOk : link::kButtonCancel);
        }
        case link::Message::kExitNotice:
            outcome.exitNoticeReceived = true;
            if (handlers.exitNotice) {
                handlers.exitNotice();
            }
            return link::writeAnswer(fd, link::kAnswerNone);
    }
    outcome.protocolErrors.push_back(
        "an unknown message " + std::to_string(static_cast<std::uint32_t>(frame.head.message)));
    return link::writeAnswer(fd, link::kAnswerNone);
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
            link::Frame frame;
            const link::ReadResult result = link::readFrame(fds[i], kMaximumPayload, frame);
            if (result == link::ReadResult::kTooLong) {
                outcome.protocolErrors.push_back("a frame longer than " +
                                                 std::to_string(kMaximumPayload) +
                                                 " bytes; the endpoint was closed");
                closeFd(fds[i]);
            } else if (result == link::ReadResult::kClosed) {
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
