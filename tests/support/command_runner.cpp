#include "support/command_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

#include "front/run/process_spawn.h"
#include "support/temp_directory.h"

namespace torvek::testing {
namespace {

std::string slurp(int fd) {
    std::string all;
    char buffer[4096];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) {
        all.append(buffer, static_cast<std::size_t>(got));
    }
    return all;
}

}  // namespace

CommandResult runCommand(const std::string& program, const std::vector<std::string>& arguments,
                         const CommandOptions& options) {
    CommandResult result;
    const int outFd = openAnonymousFile();
    const int errFd = openAnonymousFile();
    // What the program (or the adjustment it starts) leaves in its working folder goes with the
    // folder unless the test names one of its own to look into.
    std::optional<TempDirectory> ownFolder;
    std::string workingDirectory = options.workingDirectory;
    if (workingDirectory.empty()) {
        ownFolder.emplace();
        workingDirectory = ownFolder->path();
    }
    int input[2];
    if (::pipe(input) != 0) {
        ::close(outFd);
        ::close(errFd);
        return result;
    }
    front::SpawnRequest request;
    request.program = program;
    request.arguments = arguments;
    request.environment = options.environment;
    request.descriptors = {{0, input[0]}, {1, outFd}, {2, errFd}};
    // Nothing of the test process beyond the standard three, so that the command starts as it
    // would from a shell and what it passes on to its own children can be counted.
    request.closeOthers = true;
    request.workingDirectory = workingDirectory;
    // Its own process group, like a job a shell starts, so that Ctrl-C can reach it all.
    request.ownProcessGroup = true;
    request.interrupt = front::InterruptDisposition::kDefault;
    if (options.fileSizeLimit >= 0) {
        request.limits.push_back({RLIMIT_FSIZE, options.fileSizeLimit});
    }
    const front::SpawnedProcess process = front::spawnProcess(request);
    if (!process.started()) {
        ::close(input[0]);
        ::close(input[1]);
        ::close(outFd);
        ::close(errFd);
        result.exitCode = 127;
        result.standardError = process.error;
        return result;
    }
    const pid_t child = process.pid;
    ::close(input[0]);
    std::size_t done = 0;
    while (done < options.standardInput.size()) {
        const ssize_t put = ::write(input[1], options.standardInput.data() + done,
                                    options.standardInput.size() - done);
        if (put <= 0) {
            break;
        }
        done += static_cast<std::size_t>(put);
    }
    ::close(input[1]);

    const auto start = std::chrono::steady_clock::now();
    int interruptsSent = 0;
    long firstInterrupt = 0;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) {
            break;
        }
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        const bool ready = options.interruptWhenExists.empty() ||
                           ::access(options.interruptWhenExists.c_str(), F_OK) == 0;
        if (options.interruptAfterMs >= 0 && interruptsSent == 0 && ready &&
            elapsed >= options.interruptAfterMs) {
            ::kill(-child, SIGINT);
            interruptsSent = 1;
            firstInterrupt = elapsed;
        }
        if (options.interruptRepeatMs >= 0 && interruptsSent == 1 &&
            elapsed >= firstInterrupt + options.interruptRepeatMs) {
            ::kill(-child, SIGINT);
            interruptsSent = 2;
        }
        if (elapsed > options.timeoutSeconds * 1000L) {
            result.timedOut = true;
            ::kill(-child, SIGKILL);
            ::waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.standardOutput = slurp(outFd);
    result.standardError = slurp(errFd);
    ::close(outFd);
    ::close(errFd);
    return result;
}

std::string programOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (end > start && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

}  // namespace torvek::testing
