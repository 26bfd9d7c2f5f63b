#include "front/run/link_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
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
// Answers not yet taken by a child that goes on sending; far more than a synchronous peer ever
// leaves (one answer of at most 67 bytes per endpoint).
constexpr std::size_t kMaximumPendingAnswers = 1u << 16;
// A frame begun but not finished, or answers not taken, for this long: the endpoint is given up.
// Far longer than any pause of a working program, which sends each frame in one piece.
constexpr int kStallTimeoutMs = 30000;
// Between SIGTERM and SIGKILL when the person insists on ending the child.
constexpr int kTerminateGraceMs = 2000;
// How long the endpoints are still read after the child has ended, for what it sent last; a
// descendant that holds them open is not waited for beyond this.
constexpr int kDrainAfterExitMs = 1000;

void closeFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// Hands one report piece over; its answer.
std::string answerReportPiece(std::string_view payload, const LinkHandlers& handlers,
                              ChildOutcome& outcome) {
    link::ReportPiece piece;
    if (!link::decodeReportPiece(payload, piece)) {
        outcome.protocolErrors.push_back("a report piece shorter than its two words");
        return link::encodeAnswer(link::kAnswerNone);
    }
    if (piece.countExceedsPayload) {
        outcome.protocolErrors.push_back("a report piece that announces more bytes than it holds");
    }
    const bool taken =
        handlers.reportPiece ? handlers.reportPiece(piece.dataWord, piece.text) : true;
    return link::encodeAnswer(taken ? link::kAnswerDelivered : link::kAnswerNone);
}

// Serves one frame; the bytes of its answer.
std::string serveFrame(const link::Frame& frame, const LinkHandlers& handlers,
                       ChildOutcome& outcome) {
    ++outcome.framesServed;
    switch (frame.head.message) {
        case link::Message::kAbortPoll: {
            const bool abort =
                handlers.pollAbort && handlers.pollAbort(static_cast<int>(frame.head.wParam));
            return link::encodeAnswer(abort ? link::kAnswerAbort : link::kAnswerNone);
        }
        case link::Message::kReportPiece:
            return answerReportPiece(frame.payload, handlers, outcome);
        case link::Message::kClassQuery:
            return link::encodeClassAnswer(static_cast<std::int32_t>(link::kReportClassName.size()),
                                           link::kReportClassName);
        case link::Message::kWarningBox: {
            const link::WarningBox box = link::decodeWarningBox(frame.payload);
            const bool ok = handlers.warningBox && handlers.warningBox(box.text, box.caption);
            return link::encodeAnswer(ok ? link::kButtonOk : link::kButtonCancel);
        }
        case link::Message::kExitNotice:
            outcome.exitNoticeReceived = true;
            if (handlers.exitNotice) {
                handlers.exitNotice();
            }
            return link::encodeAnswer(link::kAnswerNone);
    }
    outcome.protocolErrors.push_back(
        "an unknown message " + std::to_string(static_cast<std::uint32_t>(frame.head.message)));
    return link::encodeAnswer(link::kAnswerNone);
}

using Clock = std::chrono::steady_clock;

// One endpoint as served without ever blocking: what arrived but is no whole frame yet, and the
// answers the child has not taken yet.
struct Channel {
    int fd = -1;
    std::string received;
    std::string answers;
    Clock::time_point waitingSince;  // since when `received` or `answers` is not empty

    bool open() const { return fd >= 0; }
    bool waiting() const { return !received.empty() || !answers.empty(); }
};

// Serves the whole frames in `channel.received`; false, after saying why, when the channel must
// be closed (a frame too long to be real).
bool serveReceived(Channel& channel, const LinkHandlers& handlers, ChildOutcome& outcome) {
    std::size_t used = 0;
    while (channel.received.size() - used >= link::kFrameHeadSize) {
        const auto* head = reinterpret_cast<const unsigned char*>(channel.received.data() + used);
        link::Frame frame;
        frame.head = link::decodeFrameHead(head);
        if (frame.head.payloadLength > kMaximumPayload) {
            outcome.protocolErrors.push_back("a frame longer than " +
                                             std::to_string(kMaximumPayload) +
                                             " bytes; the endpoint was closed");
            return false;
        }
        const std::size_t whole = link::kFrameHeadSize + frame.head.payloadLength;
        if (channel.received.size() - used < whole) {
            break;
        }
        frame.payload =
            channel.received.substr(used + link::kFrameHeadSize, frame.head.payloadLength);
        used += whole;
        channel.answers += serveFrame(frame, handlers, outcome);
    }
    channel.received.erase(0, used);
    return true;
}

// Reads what the child sent; false when the channel is to be closed (end of input, an error, or
// a frame too long to be real).
bool receive(Channel& channel, const LinkHandlers& handlers, ChildOutcome& outcome) {
    char buffer[65536];
    const ssize_t got = ::recv(channel.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
        return true;
    }
    if (got <= 0) {
        if (!channel.received.empty()) {
            outcome.protocolErrors.push_back("a frame cut short when the endpoint closed");
        }
        return false;
    }
    const bool wasWaiting = channel.waiting();
    channel.received.append(buffer, static_cast<std::size_t>(got));
    if (!serveReceived(channel, handlers, outcome)) {
        return false;
    }
    if (!wasWaiting && channel.waiting()) {
        channel.waitingSince = Clock::now();
    }
    return true;
}

// Sends what it can of the pending answers; false when the peer is gone.
bool sendAnswers(Channel& channel) {
    const ssize_t sent = ::send(channel.fd, channel.answers.data(), channel.answers.size(),
                                MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0) {
        return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK;
    }
    channel.answers.erase(0, static_cast<std::size_t>(sent));
    if (channel.waiting()) {
        channel.waitingSince = Clock::now();
    }
    return true;
}

void closeChannel(Channel& channel) {
    closeFd(channel.fd);
    channel.received.clear();
    channel.answers.clear();
}

// How far the front end has gone in ending a child the person wants stopped.
struct Termination {
    bool terminated = false;  // SIGTERM sent
    bool killed = false;      // SIGKILL sent
    Clock::time_point terminatedAt;
};

// Ends the child's whole process group: SIGTERM first, SIGKILL when it is still there after
// kTerminateGraceMs.
void advanceTermination(pid_t child, Termination& termination) {
    if (!termination.terminated) {
        ::kill(-child, SIGTERM);
        ::kill(child, SIGTERM);
        termination.terminated = true;
        termination.terminatedAt = Clock::now();
    } else if (!termination.killed && Clock::now() - termination.terminatedAt >=
                                          std::chrono::milliseconds(kTerminateGraceMs)) {
        ::kill(-child, SIGKILL);
        ::kill(child, SIGKILL);
        termination.killed = true;
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

std::string ChildOutcome::notes(const std::string& programName) const {
    std::string text;
    if (!completed()) {
        text += describe(programName) + ".\n";
    }
    for (const std::string& problem : protocolErrors) {
        text += "Link: " + problem + ".\n";
    }
    if (!childOutput.empty()) {
        text += programName + " wrote:\n" + childOutput;
        if (text.back() != '\n') {
            text += '\n';
        }
    }
    return text;
}

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
                            const LinkHandlers& handlers, const std::string& cwd) {
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
        // A group of its own, so that ending the run ends whatever the child started too.
        ::setpgid(0, 0);
        ::signal(SIGINT, SIG_IGN);
        ::fcntl(progress[1], F_SETFD, 0);
        ::fcntl(report[1], F_SETFD, 0);
        // Close-on-exec, so that only the copy on standard input reaches the program.
        const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (null > 0) {
            ::dup2(null, 0);
        } else if (null == 0) {
            ::fcntl(0, F_SETFD, 0);
        }
        ::dup2(output[1], 1);
        ::dup2(output[1], 2);
        if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) {
            const int error = errno;
            (void)!::write(status[1], &error, sizeof error);
            ::_exit(127);
        }
        ::execv(program.c_str(), argv.data());
        const int error = errno;
        (void)!::write(status[1], &error, sizeof error);
        ::_exit(127);
    }
    if (child > 0) {
        ::setpgid(child, child);  // also here, so that no kill can come before the child's own
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

    Channel channels[2];
    channels[0].fd = progress[0];
    channels[1].fd = report[0];
    int outputFd = output[0];
    bool reaped = false;
    int waitStatus = 0;
    Clock::time_point reapedAt;
    Termination termination;
    for (;;) {
        if (!reaped && handlers.killRequested && handlers.killRequested()) {
            outcome.killed = true;
        }
        if (outcome.killed && !reaped) {
            advanceTermination(child, termination);
        }
        if (!reaped) {
            const pid_t done = ::waitpid(child, &waitStatus, WNOHANG);
            if (done == child || (done < 0 && errno != EINTR)) {
                reaped = done == child;
                reapedAt = Clock::now();
                if (!reaped) {
                    break;
                }
            }
        }
        const bool anyOpen = channels[0].open() || channels[1].open() || outputFd >= 0;
        // What the child sent before it ended is read to the end; a descendant that still holds
        // the endpoints open is not waited for.
        if (reaped &&
            (!anyOpen || Clock::now() - reapedAt >= std::chrono::milliseconds(kDrainAfterExitMs))) {
            break;
        }
        pollfd watch[3];
        for (int i = 0; i < 2; ++i) {
            short events = POLLIN;
            if (!channels[i].answers.empty()) {
                events |= POLLOUT;
            }
            watch[i] = {channels[i].fd, events, 0};
        }
        watch[2] = {outputFd, POLLIN, 0};
        const int ready = ::poll(watch, 3, kServeIntervalMs);
        if (ready < 0) {
            continue;  // a signal such as Ctrl-C: ask again
        }
        for (int i = 0; i < 2; ++i) {
            Channel& channel = channels[i];
            if (!channel.open()) {
                continue;
            }
            bool keep = true;
            if ((watch[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                keep = receive(channel, handlers, outcome);
            }
            if (keep && !channel.answers.empty() &&
                (watch[i].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
                keep = sendAnswers(channel);
            }
            if (keep && channel.answers.size() > kMaximumPendingAnswers) {
                outcome.protocolErrors.push_back(
                    "frames sent without reading their answers; the endpoint was closed");
                keep = false;
            }
            if (keep && channel.waiting() &&
                Clock::now() - channel.waitingSince >= std::chrono::milliseconds(kStallTimeoutMs)) {
                outcome.protocolErrors.push_back(
                    channel.received.empty()
                        ? "answers not taken for " + std::to_string(kStallTimeoutMs / 1000) +
                              " s; the endpoint was closed"
                        : "a frame left unfinished for " + std::to_string(kStallTimeoutMs / 1000) +
                              " s; the endpoint was closed");
                keep = false;
            }
            if (!keep) {
                closeChannel(channel);
            }
        }
        if (outputFd >= 0 && (watch[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            char buffer[4096];
            const ssize_t n = ::read(outputFd, buffer, sizeof buffer);
            if (n > 0) {
                if (outcome.childOutput.size() < kMaximumChildOutput) {
                    outcome.childOutput.append(buffer, static_cast<std::size_t>(n));
                }
            } else if (n == 0 || errno != EINTR) {
                closeFd(outputFd);
            }
        }
    }
    for (Channel& channel : channels) {
        closeChannel(channel);
    }
    closeFd(outputFd);
    if (!reaped) {
        while (::waitpid(child, &waitStatus, 0) < 0 && errno == EINTR) {
        }
    }
    recordStatus(waitStatus, outcome);
    return outcome;
}

}  // namespace torvek::front
