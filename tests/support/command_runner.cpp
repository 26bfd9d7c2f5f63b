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

// Starts the command with its standard streams on `input` and the two files.
front::SpawnedProcess startCommand(const std::string& program,
                                   const std::vector<std::string>& arguments,
                                   const CommandOptions& options, const std::string& folder,
                                   int input, int outFd, int errFd) {
    front::SpawnRequest request;
    request.program = program;
    request.arguments = arguments;
    request.environment = options.environment;
    request.descriptors = {{0, input}, {1, outFd}, {2, errFd}};
    // Nothing of the test process beyond the standard three, so that the command starts as it
    // would from a shell and what it passes on to its own children can be counted.
    request.closeOthers = true;
    request.workingDirectory = folder;
    // Its own process group, like a job a shell starts, so that Ctrl-C can reach it all.
    request.ownProcessGroup = true;
    request.interrupt = front::InterruptDisposition::kDefault;
    if (options.fileSizeLimit >= 0) {
        request.limits.push_back({RLIMIT_FSIZE, options.fileSizeLimit});
    }
    return front::spawnProcess(request);
}

void writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put <= 0) {
            break;
        }
        done += static_cast<std::size_t>(put);
    }
}

// Waits for the child, sending the interrupts the options ask for; its wait status.
int waitWithInterrupts(pid_t child, const CommandOptions& options, bool& timedOut) {
    const auto start = std::chrono::steady_clock::now();
    int interruptsSent = 0;
    long firstInterrupt = 0;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) != child) {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        const bool ready = options.interruptWhenExists.empty() ||
                           ::access(options.interruptWhenExists.c_str(), F_OK) == 0;
        if (options.interruptAfterMs >= 0 && interruptsSent == 0 && ready &&
            elapsed >= options.interruptAfterMs) {
            ::kill(-child, options.interruptSignal);
            interruptsSent = 1;
            firstInterrupt = elapsed;
        }
        if (options.interruptRepeatMs >= 0 && interruptsSent == 1 &&
            elapsed >= firstInterrupt + options.interruptRepeatMs) {
            ::kill(-child, options.interruptSignal);
            interruptsSent = 2;
        }
        if (elapsed > options.timeoutSeconds * 1000L) {
            timedOut = true;
            ::kill(-child, SIGKILL);
            ::waitpid(child, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status;
}

}  // namespace

CommandResult runCommand(const std::string& program, const std::vector<std::string>& arguments,
                         const CommandOptions& options) {
    CommandResult result;
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
        return result;
    }
    const int outFd = openAnonymousFile();
    const int errFd = openAnonymousFile();
    const front::SpawnedProcess process =
        startCommand(program, arguments, options, workingDirectory, input[0], outFd, errFd);
    ::close(input[0]);
    if (process.started()) {
        writeAll(input[1], options.standardInput);
    }
    ::close(input[1]);
    if (process.started()) {
        const int status = waitWithInterrupts(process.pid, options, result.timedOut);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.standardOutput = slurp(outFd);
        result.standardError = slurp(errFd);
    } else {
        result.exitCode = 127;  // as a shell reports a program it cannot start
        result.standardError = process.error;
    }
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
