#include "front/run/link_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#include "front/run/process_spawn.h"
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
// Once the child has closed every endpoint and its output it is ending: it is looked for this
// often, so that a short run (a pre-analysis answered while a person plans) is not held for a
// whole serve interval after its end.
constexpr int kReapIntervalMs = 2;
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

// Report pieces answered ahead. The program waits for the answer to each frame, and a run of the
// national network sends 184 report pieces: answered one by one, each is a round trip between the
// two processes, which on a busy machine cost more than the whole adjustment. Every piece is
// delivered (the answer is always kAnswerDelivered), and once report pieces flow nothing else comes
// on the report endpoint, so their answers go out before them, kAnswersAhead at a time, topped up
// when fewer than kAnswersAheadLow are left: the program reads each from its socket at once.
// Answers left unread when it ends are dropped with its socket.
constexpr int kAnswersAhead = 64;
constexpr int kAnswersAheadLow = 16;

// One endpoint as served without ever blocking: what arrived but is no whole frame yet, and the
// answers the child has not taken yet.
struct Channel {
    int fd = -1;
    std::string received;
    std::string answers;
    Clock::time_point waitingSince;  // since when `received` or `answers` is not empty
    bool reportEndpoint = false;     // the report endpoint, whose pieces may be answered ahead
    bool piecesFlow = false;         // a report piece came
    bool aheadStopped = false;       // a piece was not delivered, or another frame came after one
    int ahead = 0;                   // answers sent ahead of pieces not yet received

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
        const std::string answer = serveFrame(frame, handlers, outcome);
        const bool piece = frame.head.message == link::Message::kReportPiece;
        if (piece && channel.ahead > 0) {
            --channel.ahead;  // answered already
        } else {
            channel.answers += answer;
        }
        // The class query comes before the pieces; anything else after them stops the answers
        // ahead, as does a piece not delivered.
        const bool delivered = answer == link::encodeAnswer(link::kAnswerDelivered);
        channel.aheadStopped = channel.aheadStopped || (piece ? !delivered : channel.piecesFlow);
        channel.piecesFlow = channel.piecesFlow || piece;
        if (piece && channel.reportEndpoint && !channel.aheadStopped &&
            channel.ahead < kAnswersAheadLow) {
            for (; channel.ahead < kAnswersAhead; ++channel.ahead) {
                channel.answers += answer;
            }
        }
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

namespace {

// The descriptors of one linked run: our ends and the child's ends of the two endpoints, and the
// pipe that carries the child's standard output and error.
struct LinkDescriptors {
    int progress[2] = {-1, -1};
    int report[2] = {-1, -1};
    int output[2] = {-1, -1};

    void closeChildEnds() {
        closeFd(progress[1]);
        closeFd(report[1]);
        closeFd(output[1]);
    }
    void closeAll() {
        closeChildEnds();
        closeFd(progress[0]);
        closeFd(report[0]);
        closeFd(output[0]);
    }
};

// Makes the endpoints and the output pipe, all close-on-exec; false, with the reason in
// `outcome`, when that fails.
bool openLink(LinkDescriptors& link, ChildOutcome& outcome) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, link.progress) == 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, link.report) == 0 &&
        ::pipe2(link.output, O_CLOEXEC) == 0) {
        return true;
    }
    outcome.startError = std::string("the link could not be set up (") + std::strerror(errno) + ")";
    link.closeAll();
    return false;
}

// Starts the program with the endpoints' numbers after its arguments, /dev/null as its standard
// input and the output pipe as its standard output and error.
SpawnedProcess startChild(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& cwd, const LinkDescriptors& link) {
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    SpawnRequest request;
    request.program = program;
    request.arguments = arguments;
    request.arguments.push_back(std::to_string(link.progress[1]));
    request.arguments.push_back(std::to_string(link.report[1]));
    request.descriptors = {{1, link.output[1]},
                           {2, link.output[1]},
                           {link.progress[1], link.progress[1]},
                           {link.report[1], link.report[1]}};
    if (null >= 0) {
        request.descriptors.insert(request.descriptors.begin(), {0, null});
    }
    request.workingDirectory = cwd;
    // A group of its own, so that ending the run ends whatever the child started too; Ctrl-C on
    // the terminal is for the front end alone.
    request.ownProcessGroup = true;
    request.interrupt = InterruptDisposition::kIgnore;
    SpawnedProcess process = spawnProcess(request);
    if (null >= 0) {
        ::close(null);
    }
    return process;
}

// Everything the serving loop looks after.
struct Serving {
    pid_t child = -1;
    Channel channels[2];
    int outputFd = -1;
    // Readable once the child has ended (pidfd_open(2)), so that its end is seen at once rather
    // than at the next look; -1 where the system has none, and the child is then looked for every
    // kReapIntervalMs once it has closed everything.
    int exitFd = -1;
    bool exitSeen = false;  // exitFd became readable: the child has ended
    bool reaped = false;
    int waitStatus = 0;
    struct rusage usage {};  // the child's, once reaped
    Clock::time_point reapedAt;
    Termination termination;
};

// Ends the child when asked and reaps it once it has ended; false when it cannot be waited for.
bool watchChild(Serving& s, const LinkHandlers& handlers, ChildOutcome& outcome) {
    if (s.reaped) {
        return true;
    }
    if (handlers.killRequested && handlers.killRequested()) {
        outcome.killed = true;
    }
    if (outcome.killed) {
        advanceTermination(s.child, s.termination);
    }
    // With a pidfd the child is looked for only once it has ended (a run of the national network
    // passes here two hundred times, once for each frame).
    if (s.exitFd >= 0 && !s.exitSeen && !outcome.killed) {
        return true;
    }
    const pid_t done = ::wait4(s.child, &s.waitStatus, WNOHANG, &s.usage);
    if (done == s.child || (done < 0 && errno != EINTR)) {
        s.reaped = done == s.child;
        s.reapedAt = Clock::now();
        return s.reaped;
    }
    return true;
}

// True when serving is over: the child has ended and what it sent before has been read to the
// end, or a descendant holds the endpoints open past kDrainAfterExitMs.
bool servingOver(const Serving& s) {
    const bool anyOpen = s.channels[0].open() || s.channels[1].open() || s.outputFd >= 0;
    return s.reaped &&
           (!anyOpen || Clock::now() - s.reapedAt >= std::chrono::milliseconds(kDrainAfterExitMs));
}

// Why a channel that waits too long is given up, or an empty text while it may wait on.
std::string stallProblem(const Channel& channel) {
    if (!channel.waiting() ||
        Clock::now() - channel.waitingSince < std::chrono::milliseconds(kStallTimeoutMs)) {
        return {};
    }
    const std::string seconds = std::to_string(kStallTimeoutMs / 1000);
    return channel.received.empty()
               ? "answers not taken for " + seconds + " s; the endpoint was closed"
               : "a frame left unfinished for " + seconds + " s; the endpoint was closed";
}

// Serves one endpoint after a poll that reported `revents` for it.
void serveChannel(Channel& channel, short revents, const LinkHandlers& handlers,
                  ChildOutcome& outcome) {
    bool keep = true;
    if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        keep = receive(channel, handlers, outcome);
    }
    // Answers go out at once, without waiting for the next poll to say there is room: the program
    // waits for each one (a run of the national network sends two hundred frames), and the
    // socket nearly always has room; what does not fit waits for POLLOUT (sendAnswers does not
    // block).
    if (keep && !channel.answers.empty()) {
        keep = sendAnswers(channel);
    }
    if (keep && channel.answers.size() > kMaximumPendingAnswers) {
        outcome.protocolErrors.push_back(
            "frames sent without reading their answers; the endpoint was closed");
        keep = false;
    }
    const std::string stalled = keep ? stallProblem(channel) : std::string();
    if (!stalled.empty()) {
        outcome.protocolErrors.push_back(stalled);
        keep = false;
    }
    if (!keep) {
        closeChannel(channel);
    }
}

// Keeps what the child printed, up to kMaximumChildOutput.
void readChildOutput(int& fd, ChildOutcome& outcome) {
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        if (outcome.childOutput.size() < kMaximumChildOutput) {
            outcome.childOutput.append(buffer, static_cast<std::size_t>(n));
        }
    } else if (n == 0 || errno != EINTR) {
        closeFd(fd);
    }
}

// Waits up to kServeIntervalMs for the endpoints and the output, and serves what arrived.
void serveOnce(Serving& s, const LinkHandlers& handlers, ChildOutcome& outcome) {
    pollfd watch[4];
    for (int i = 0; i < 2; ++i) {
        const short events = s.channels[i].answers.empty() ? POLLIN : POLLIN | POLLOUT;
        watch[i] = {s.channels[i].fd, events, 0};
    }
    watch[2] = {s.outputFd, POLLIN, 0};
    watch[3] = {s.reaped ? -1 : s.exitFd, POLLIN, 0};
    const bool allClosed = !s.channels[0].open() && !s.channels[1].open() && s.outputFd < 0;
    const int wait = allClosed && s.exitFd < 0 ? kReapIntervalMs : kServeIntervalMs;
    if (::poll(watch, 4, wait) < 0) {
        return;  // a signal such as Ctrl-C: the caller asks again
    }
    s.exitSeen = s.exitSeen || (watch[3].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    for (int i = 0; i < 2; ++i) {
        if (s.channels[i].open()) {
            serveChannel(s.channels[i], watch[i].revents, handlers, outcome);
        }
    }
    if (s.outputFd >= 0 && (watch[2].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        readChildOutput(s.outputFd, outcome);
    }
}

// Serves the started child until it has ended, then reaps it and records how it ended.
void serveChild(Serving& s, const LinkHandlers& handlers, ChildOutcome& outcome) {
    while (watchChild(s, handlers, outcome) && !servingOver(s)) {
        serveOnce(s, handlers, outcome);
    }
    for (Channel& channel : s.channels) {
        closeChannel(channel);
    }
    closeFd(s.outputFd);
    if (!s.reaped) {
        while (::wait4(s.child, &s.waitStatus, 0, &s.usage) < 0 && errno == EINTR) {
        }
    }
    recordStatus(s.waitStatus, outcome);
    outcome.peakKilobytes = s.usage.ru_maxrss;  // kilobytes on Linux
}

}  // namespace

ChildOutcome runLinkedChild(const std::string& program, const std::vector<std::string>& arguments,
                            const LinkHandlers& handlers, const std::string& cwd) {
    ChildOutcome outcome;
    LinkDescriptors link;
    if (!openLink(link, outcome)) {
        return outcome;
    }
    const SpawnedProcess process = startChild(program, arguments, cwd, link);
    link.closeChildEnds();
    if (!process.started()) {
        outcome.startError = process.error;
        link.closeAll();
        return outcome;
    }
    outcome.started = true;
    Serving serving;
    serving.child = process.pid;
    serving.channels[0].fd = link.progress[0];
    serving.channels[1].fd = link.report[0];
    serving.channels[1].reportEndpoint = true;
    serving.outputFd = link.output[0];
    serving.exitFd = static_cast<int>(::syscall(SYS_pidfd_open, process.pid, 0));
    try {
        serveChild(serving, handlers, outcome);
        closeFd(serving.exitFd);
    } catch (const std::bad_alloc&) {
        closeFd(serving.exitFd);
        // The front end gives up for want of memory: its child must not run on without anyone to
        // answer it. Nothing here allocates.
        if (!serving.reaped) {
            ::kill(-serving.child, SIGKILL);
            ::kill(serving.child, SIGKILL);
            ::waitpid(serving.child, nullptr, 0);
        }
        throw;
    }
    return outcome;
}

}  // namespace torvek::front
