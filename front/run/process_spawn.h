#pragma once
// Starting a program as a child process: the one place where the front end (and the tests, which
// drive the programs as a person or a front end would) forks and executes.
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace torvek::front {

// What the child does with SIGINT (Ctrl-C at the terminal).
enum class InterruptDisposition { kInherit, kIgnore, kDefault };

// A resource limit set in the child before the program starts (RLIMIT_AS, RLIMIT_FSIZE, ...);
// `value` in the resource's unit (bytes, descriptors), 0 or more.
struct ResourceLimit {
    int resource = 0;
    long long value = 0;
};

struct SpawnRequest {
    std::string program;                 // the path executed; also argv[0]
    std::vector<std::string> arguments;  // after argv[0]
    // Descriptors the child finds at given numbers: {child's number, our descriptor}. Each is
    // made a copy of ours there, without close-on-exec; ours stay open.
    std::vector<std::pair<int, int>> descriptors;
    // Every other descriptor above 2 is closed in the child. Without it only descriptors marked
    // close-on-exec stay behind, as exec leaves them.
    bool closeOthers = false;
    std::string workingDirectory;  // empty: ours
    bool ownProcessGroup = true;   // a group of its own, so that a signal to -pid reaches it all
    InterruptDisposition interrupt = InterruptDisposition::kInherit;
    std::vector<std::pair<std::string, std::string>> environment;  // set on top of ours
    std::vector<ResourceLimit> limits;
    // When >= 0 and we are root: the child drops to this user and group id, with no groups.
    int runAsUser = -1;
};

struct SpawnedProcess {
    pid_t pid = -1;     // > 0 once the program runs
    std::string error;  // why it did not start ("PROGRAM: No such file or directory", ...)
    bool started() const { return pid > 0; }
};

// Starts the program as `request` describes and returns once it runs (its exec succeeded) or
// could not be started; a child that failed before its exec has been reaped then. The caller
// reaps a started child (waitpid). Safe to call from any thread: after the fork the child makes
// only system calls.
SpawnedProcess spawnProcess(const SpawnRequest& request);

}  // namespace torvek::front
