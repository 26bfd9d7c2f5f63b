#include "support/test_front_end.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "front/run/process_spawn.h"
#include "link/endpoint_io.h"
#include "link/frame_codec.h"
#include "support/report_markers.h"
#include "support/temp_directory.h"

namespace torvek::link {

void PrintTo(Message message, std::ostream* out) {
    *out << static_cast<std::uint32_t>(message);
}

}  // namespace torvek::link

namespace torvek::testing {
namespace {

// The largest frame the test front ends take, in bytes: far beyond any real piece, and small
// enough that a broken frame cannot exhaust the test machine.
constexpr std::uint32_t kMaximumTestPayload = 64u << 20;

void writeToPipe(int fd, const std::string& bytes) {
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            break;
        done += static_cast<std::size_t>(put);
    }
    ::sigaction(SIGPIPE, &previous, nullptr);
}

void answerFrame(int fd, const Frame& frame, const FrontEndScript& script,
                 std::map<int, int>& seen) {
    if (script.garbageAnswers) {
        const char odd[2] = {'\xff', '\x7f'};  // a short reply, then nothing
        link::writeFully(fd, std::string_view(odd, sizeof odd));
        return;
    }
    switch (frame.message) {
        case link::Message::kAbortPoll: {
            const int stage = int(frame.wParam);
            const int occurrence = ++seen[stage];
            if (auto remove = script.removeAtStage.find(stage);
                remove != script.removeAtStage.end())
                ::unlink(remove->second.c_str());
            const bool abort = script.abortAtStages.count(stage) ||
                               script.abortAtOccurrence.count({stage, occurrence});
            link::writeAnswer(fd, abort ? link::kAnswerAbort : link::kAnswerNone);
            return;
        }
        case link::Message::kReportPiece:
            link::writeAnswer(fd, script.refusePieces ? link::kAnswerNone : link::kAnswerDelivered);
            return;
        case link::Message::kClassQuery: {
            const std::int32_t length = script.classNameLength != FrontEndScript::kRealLength
                                            ? script.classNameLength
                                            : std::int32_t(script.className.size());
            link::writeFully(fd, link::encodeClassAnswer(length, script.className));
            return;
        }
        case link::Message::kWarningBox:
            link::writeAnswer(fd, script.messageBoxButton);
            return;
        case link::Message::kExitNotice:
            break;
    }
    link::writeAnswer(fd, link::kAnswerNone);
}

std::string slurp(int fd) {
    std::string all;
    char buffer[4096];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
        all.append(buffer, got);
    return all;
}

}  // namespace

// Reads one frame; false when the peer closed the socket.
bool readFrame(int fd, Frame& frame) {
    link::Frame raw;
    if (link::readFrame(fd, kMaximumTestPayload, raw) != link::ReadResult::kFrame)
        return false;
    frame.message = raw.head.message;
    frame.wParam = raw.head.wParam;
    frame.lParam = raw.head.lParam;
    frame.payload = std::move(raw.payload);
    link::ReportPiece piece;
    if (frame.message == link::Message::kReportPiece &&
        link::decodeReportPiece(frame.payload, piece)) {
        frame.dataWord = piece.dataWord;
        frame.byteCount = piece.byteCount;
        frame.text = std::string(piece.text);
    }
    if (frame.message == link::Message::kWarningBox) {
        link::WarningBox box = link::decodeWarningBox(frame.payload);
        frame.boxText = std::move(box.text);
        frame.boxCaption = std::move(box.caption);
    }
    return true;
}

std::vector<Frame> RunResult::framesOf(Endpoint endpoint) const {
    std::vector<Frame> out;
    for (const Frame& f : frames)
        if (f.endpoint == endpoint)
            out.push_back(f);
    return out;
}

std::vector<int> RunResult::stages() const {
    std::vector<int> out;
    for (const Frame& f : frames)
        if (f.message == link::Message::kAbortPoll)
            out.push_back(int(f.wParam));
    return out;
}

std::string RunResult::reportText() const {
    std::string out;
    for (const Frame& f : frames)
        if (f.message == link::Message::kReportPiece && f.dataWord == link::kDataWordAtSelection)
            out += f.text;
    return out;
}

std::string RunResult::styledReport() const {
    std::string out;
    for (const Frame& f : frames) {
        if (f.message != link::Message::kReportPiece)
            continue;
        if (f.dataWord == link::kDataWordAtSelection) {
            out += f.text;
            continue;
        }
        ReportStyle look;
        if (decodeStyleFragment(f.text, look.size, look.colour, look.attribute, look.tabs)) {
            out += marker(look);
        } else {
            out += "<banner>";
        }
    }
    return out;
}

int RunResult::countMessage(link::Message message) const {
    int n = 0;
    for (const Frame& f : frames)
        n += f.message == message;
    return n;
}

bool decodeStyleFragment(const std::string& text, int& size, int& colour, int& attribute,
                         int& tabs) {
    std::size_t at = text.find("\\pard\\plain\\f2\\fs");
    if (at == std::string::npos)
        return false;
    const char* p = text.c_str() + at + std::strlen("\\pard\\plain\\f2\\fs");
    int halfPoints = std::atoi(p);
    const char* cf = std::strstr(p, "\\cf");
    if (cf == nullptr)
        return false;
    colour = std::atoi(cf + 3);
    const char* q = cf + 3;
    while (*q >= '0' && *q <= '9')
        ++q;
    attribute = 0;
    if (std::strncmp(q, "\\b", 2) == 0)
        attribute = 1;
    if (std::strncmp(q, "\\i", 2) == 0)
        attribute = 2;
    if (std::strncmp(q, "\\ul", 3) == 0)
        attribute = 3;
    tabs = 0;
    for (const char* t = q; (t = std::strstr(t, "\\tab ")) != nullptr; t += 5)
        ++tabs;
    size = halfPoints / 2;
    return true;
}

namespace {

// The child's arguments: "{P}" and "{R}" replaced by its endpoints' numbers, which otherwise
// follow the arguments when the script gives them.
std::vector<std::string> childArguments(const std::vector<std::string>& arguments,
                                        const FrontEndScript& script, const int progress[2],
                                        const int report[2]) {
    std::vector<std::string> args;
    bool placeholder = false;
    for (std::string a : arguments) {
        for (auto [key, fd] :
             {std::pair<std::string, int>{"{P}", progress[1]}, {"{R}", report[1]}}) {
            std::size_t at = a.find(key);
            if (at != std::string::npos) {
                a.replace(at, key.size(), std::to_string(fd));
                placeholder = true;
            }
        }
        args.push_back(a);
    }
    if (script.giveEndpoints && !placeholder) {
        args.push_back(std::to_string(progress[1]));
        args.push_back(std::to_string(report[1]));
    }

    return args;
}

// Starts the program of a scripted run with its standard streams and endpoints.
front::SpawnedProcess startScripted(const std::string& program, const std::vector<std::string>& args,
                                    const FrontEndScript& script,
                                    const std::string& workingDirectory, const int progress[2],
                                    const int report[2], int stdinFd, int outFd, int errFd) {
    front::SpawnRequest request;
    request.program = program;
    request.arguments = args;
    // The child's ends are inherited by number. Nothing else of this process reaches the child:
    // in particular the write end of its standard input, which would keep it from ever reading
    // the end of that input.
    request.descriptors = {{0, stdinFd},
                           {1, outFd},
                           {2, errFd},
                           {progress[1], progress[1]},
                           {report[1], report[1]}};
    request.closeOthers = true;
    request.ownProcessGroup = false;
    request.workingDirectory = workingDirectory;
    request.runAsUser = script.unprivileged ? static_cast<int>(kUnprivilegedUser) : -1;
    if (script.freeDescriptors >= 0) {
        // New descriptors take the lowest free numbers; the endpoints may sit among them.
        int limit = 3;
        for (int free = 0; free < script.freeDescriptors; ++limit)
            if (limit != progress[1] && limit != report[1])
                ++free;
        request.limits.push_back({RLIMIT_NOFILE, limit});
    }
    for (auto [resource, bytes] : {std::pair{RLIMIT_AS, script.addressSpaceLimit},
                                   std::pair{RLIMIT_FSIZE, script.fileSizeLimit}}) {
        if (bytes >= 0)
            request.limits.push_back({static_cast<int>(resource), bytes});
    }
    return front::spawnProcess(request);
}

// Serves the frames of the child until both endpoints are closed or the deadline passes.
void serveScripted(const int endpoints[2], pid_t child, const FrontEndScript& script,
                   std::chrono::steady_clock::time_point deadline, RunResult& result) {
    int fds[2] = {endpoints[0], endpoints[1]};
    int counts[2] = {0, 0};
    std::map<int, int> seenStages;
    while (fds[0] >= 0 || fds[1] >= 0) {
        pollfd watch[2];
        for (int i = 0; i < 2; ++i)
            watch[i] = {fds[i], POLLIN, 0};
        int ready = ::poll(watch, 2, 200);
        if (std::chrono::steady_clock::now() > deadline) {
            result.timedOut = true;
            ::kill(child, SIGKILL);
            break;
        }
        if (ready <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i] < 0 || !(watch[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            Frame frame;
            frame.endpoint = i == 0 ? Endpoint::kProgress : Endpoint::kReport;
            if (!readFrame(fds[i], frame)) {
                ::close(fds[i]);
                fds[i] = -1;
                continue;
            }
            result.frames.push_back(frame);
            answerFrame(fds[i], frame, script, seenStages);
            ++counts[i];
            int closeAfter =
                i == 0 ? script.closeProgressAfterFrames : script.closeReportAfterFrames;
            if (script.garbageAnswers || (closeAfter >= 0 && counts[i] >= closeAfter)) {
                ::close(fds[i]);
                fds[i] = -1;
            }
        }
    }
    for (int fd : fds)
        if (fd >= 0)
            ::close(fd);
}

}  // namespace

RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const FrontEndScript& script, int timeoutSeconds) {
    RunResult result;
    int progress[2], report[2];
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, progress);
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, report);
    const int outFd = openAnonymousFile();
    const int errFd = openAnonymousFile();
    // Whatever the child leaves in its working folder (the scratch copy after a failed attempt,
    // say) goes with the folder unless the test names one of its own to look into.
    std::optional<TempDirectory> ownFolder;
    std::string workingDirectory = script.workingDirectory;
    if (workingDirectory.empty()) {
        ownFolder.emplace();
        workingDirectory = ownFolder->path();
        if (script.unprivileged)
            ::chmod(workingDirectory.c_str(), 0777);  // the child's own folder is its to write
    }
    // Close-on-exec, so the child does not hold the write end itself and does see end of input
    // (dup2 onto descriptor 0 clears the flag there).
    int stdinPipe[2];
    ::pipe2(stdinPipe, O_CLOEXEC);

    const std::vector<std::string> args = childArguments(arguments, script, progress, report);
    const front::SpawnedProcess process = startScripted(
        program, args, script, workingDirectory, progress, report, stdinPipe[0], outFd, errFd);
    const pid_t child = process.pid;
    if (!process.started()) {
        for (int fd : {progress[0], progress[1], report[0], report[1], stdinPipe[0], stdinPipe[1],
                       outFd, errFd})
            ::close(fd);
        result.exitCode = 127;  // as a shell reports a program it cannot start
        return result;
    }
    ::close(progress[1]);
    ::close(report[1]);
    ::close(stdinPipe[0]);
    // A pipe, not a socket: plain write(), since send() refuses it. A child that has already
    // exited just loses the rest.
    writeToPipe(stdinPipe[1], script.standardInput);
    ::close(stdinPipe[1]);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    const int endpoints[2] = {progress[0], report[0]};
    serveScripted(endpoints, child, script, deadline, result);
    // A child that closed nothing but hangs on is a failure to show, not a test that never ends.
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            result.timedOut = true;
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            break;
        }
        ::usleep(2000);
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.standardOutput = slurp(outFd);
    result.standardError = slurp(errFd);
    ::close(outFd);
    ::close(errFd);
    return result;
}

RunResult runTorvek(const std::vector<std::string>& arguments, const FrontEndScript& script) {
    return runProgram(TORVEK_BINARY, arguments, script);
}

std::string readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void writeFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

bool fileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace torvek::testing
