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

#include "platform/link_frame.h"
#include "support/temp_directory.h"

namespace torvek::testing {
namespace {

std::uint32_t getUint32(const unsigned char* at) {
    return std::uint32_t(at[0]) | (std::uint32_t(at[1]) << 8) | (std::uint32_t(at[2]) << 16) |
           (std::uint32_t(at[3]) << 24);
}

bool readAll(int fd, void* buffer, std::size_t size) {
    return platform::readFully(fd, buffer, size);
}

void writeAll(int fd, const void* buffer, std::size_t size) {
    platform::writeFully(fd, buffer, size);
}

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
        unsigned char odd[2] = {0xff, 0x7f};  // a short reply, then nothing
        writeAll(fd, odd, sizeof odd);
        return;
    }
    switch (frame.message) {
        case 1033: {
            int stage = int(frame.wParam);
            int occurrence = ++seen[stage];
            bool abort = script.abortAtStages.count(stage) ||
                         script.abortAtOccurrence.count({stage, occurrence});
            answerInt(fd, abort ? 1 : 0);
            break;
        }
        case 74:
            answerInt(fd, script.refusePieces ? 0 : 1);
            break;
        case 65536: {
            std::int32_t length = script.classNameLength != FrontEndScript::kRealLength
                                      ? script.classNameLength
                                      : std::int32_t(script.className.size());
            answerInt(fd, length);
            writeAll(fd, script.className.data(), script.className.size());
            break;
        }
        case 65537:
            answerInt(fd, script.messageBoxButton);
            break;
        default:
            answerInt(fd, 0);
            break;
    }
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

void answerInt(int fd, std::int32_t value) {
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(std::uint32_t(value) >> (8 * i));
    writeAll(fd, bytes, 4);
}

// Reads one frame; false when the peer closed the socket.
bool readFrame(int fd, Frame& frame) {
    unsigned char head[16];
    if (!readAll(fd, head, sizeof head))
        return false;
    frame.message = getUint32(head);
    frame.wParam = getUint32(head + 4);
    frame.lParam = getUint32(head + 8);
    std::uint32_t length = getUint32(head + 12);
    if (length > (64u << 20))
        return false;
    frame.payload.resize(length);
    if (length > 0 && !readAll(fd, frame.payload.data(), length))
        return false;
    if (frame.message == 74 && length >= 8) {
        frame.dataWord = getUint32(frame.payload.data());
        frame.byteCount = getUint32(frame.payload.data() + 4);
        std::size_t textBytes = length - 8;
        std::string raw(reinterpret_cast<const char*>(frame.payload.data() + 8), textBytes);
        frame.text = raw.substr(0, raw.find('\0'));
    }
    if (frame.message == 65537) {
        std::string raw(reinterpret_cast<const char*>(frame.payload.data()), length);
        std::size_t zero = raw.find('\0');
        frame.boxText = raw.substr(0, zero);
        if (zero != std::string::npos) {
            std::string rest = raw.substr(zero + 1);
            frame.boxCaption = rest.substr(0, rest.find('\0'));
        }
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
        if (f.message == 1033)
            out.push_back(int(f.wParam));
    return out;
}

std::string RunResult::reportText() const {
    std::string out;
    for (const Frame& f : frames)
        if (f.message == 74 && f.dataWord == 2)
            out += f.text;
    return out;
}

std::string RunResult::styledReport() const {
    std::string out;
    for (const Frame& f : frames) {
        if (f.message != 74)
            continue;
        if (f.dataWord == 2) {
            out += f.text;
            continue;
        }
        int size, colour, attribute, tabs;
        if (decodeStyleFragment(f.text, size, colour, attribute, tabs)) {
            out += "<" + std::to_string(size) + "," + std::to_string(colour) + "," +
                   std::to_string(attribute) + "," + std::to_string(tabs) + ">";
        } else {
            out += "<banner>";
        }
    }
    return out;
}

int RunResult::countMessage(std::uint32_t message) const {
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

    pid_t child = ::fork();
    if (child == 0) {
        // The child's ends are inherited by number; close-on-exec is cleared only on them.
        ::fcntl(progress[1], F_SETFD, 0);
        ::fcntl(report[1], F_SETFD, 0);
        ::dup2(stdinPipe[0], 0);
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        // Nothing else of this process reaches the child: in particular the write end of its
        // standard input, which would keep it from ever reading the end of that input.
        for (int fd = 3; fd < 1024; ++fd)
            if (fd != progress[1] && fd != report[1])
                ::close(fd);
        if (script.unprivileged && ::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kUnprivilegedUser) != 0 ||
                ::setuid(kUnprivilegedUser) != 0)
                _exit(125);
        }
        if (::chdir(workingDirectory.c_str()) != 0)
            _exit(126);
        if (script.freeDescriptors >= 0) {
            // New descriptors take the lowest free numbers; the endpoints may sit among them.
            int limit = 3;
            for (int free = 0; free < script.freeDescriptors; ++limit)
                if (limit != progress[1] && limit != report[1])
                    ++free;
            const rlimit files{rlim_t(limit), rlim_t(limit)};
            if (::setrlimit(RLIMIT_NOFILE, &files) != 0)
                _exit(124);
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        _exit(127);
    }
    ::close(progress[1]);
    ::close(report[1]);
    ::close(stdinPipe[0]);
    // A pipe, not a socket: plain write(), since send() refuses it. A child that has already
    // exited just loses the rest.
    writeToPipe(stdinPipe[1], script.standardInput);
    ::close(stdinPipe[1]);

    int fds[2] = {progress[0], report[0]};
    int counts[2] = {0, 0};
    std::map<int, int> seenStages;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
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
