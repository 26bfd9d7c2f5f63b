#pragma once
// Runs a command-line program for the tests as a person at a terminal would: arguments, extra
// environment, typed input, and Ctrl-C sent to its whole process group after a while.
#include <csignal>
#include <string>
#include <utility>
#include <vector>

namespace torvek::testing {

struct CommandOptions {
    std::vector<std::pair<std::string, std::string>> environment;  // set on top of ours
    std::string standardInput;                                     // then end of input
    int interruptAfterMs = -1;   // send SIGINT to the process group after this many ms
    int interruptSignal = SIGINT;  // the signal sent as the interrupt (or SIGTERM, SIGHUP, ...)
    int interruptRepeatMs = -1;  // and again this many ms later
    // When not empty, the first interrupt waits (besides interruptAfterMs) until this file
    // exists: a sign that the program is ready for it, however slow the machine.
    std::string interruptWhenExists;
    int timeoutSeconds = 120;
    std::string workingDirectory;  // empty: a fresh folder of the run's own, then removed
    long long fileSizeLimit = -1;  // when 0 or more: the largest file it may write, in bytes
};

struct CommandResult {
    int exitCode = -1;  // exit status, or 128 + signal
    bool timedOut = false;
    std::string standardOutput;
    std::string standardError;
};

CommandResult runCommand(const std::string& program, const std::vector<std::string>& arguments,
                         const CommandOptions& options = {});

// The path of an executable `name` found along $PATH, or an empty text.
std::string programOnPath(const std::string& name);

}  // namespace torvek::testing
