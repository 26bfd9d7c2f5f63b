#include "front/run/process_spawn.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

extern char** environ;

namespace torvek::front {
namespace {

// Where the child failed, sent to us through the status pipe with its errno.
enum class SetupStep : int { kDescriptor, kUser, kDirectory, kLimit, kExec };

struct SetupFailure {
    SetupStep step;
    int error;
};

// The words of argv or envp as the child needs them, built before the fork.
struct Words {
    std::vector<std::string> texts;
    std::vector<char*> pointers;
    void finish() {
        for (std::string& text : texts) {
            pointers.push_back(text.data());
        }
        pointers.push_back(nullptr);
    }
};

Words argumentWords(const SpawnRequest& request) {
    Words words;
    words.texts.push_back(request.program);
    words.texts.insert(words.texts.end(), request.arguments.begin(), request.arguments.end());
    words.finish();
    return words;
}

// Our environment with the request's variables set on top.
Words environmentWords(const SpawnRequest& request) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::size_t equals = text.find('=');
        if (equals != std::string::npos) {
            variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const auto& [name, value] : request.environment) {
        variables[name] = value;
    }
    Words words;
    for (const auto& [name, value] : variables) {
        words.texts.push_back(name + "=" + value);
    }
    words.finish();
    return words;
}

[[noreturn]] void failSetup(int statusFd, SetupStep step) {
    const SetupFailure failure{step, errno};
    (void)!::write(statusFd, &failure, sizeof failure);
    ::_exit(127);
}

// Closes every descriptor above 2 but those in `keep` (sorted).
void closeAllBut(const std::vector<int>& keep) {
    unsigned first = 3;
    for (const int fd : keep) {
        if (fd >= static_cast<int>(first)) {
            if (fd > static_cast<int>(first)) {
                ::close_range(first, static_cast<unsigned>(fd) - 1, 0);
            }
            first = static_cast<unsigned>(fd) + 1;
        }
    }
    ::close_range(first, ~0U, 0);
}

// The status pipe moved above every number the request places a descriptor at, so that placing
// one cannot replace it.
int clearOfTargets(const SpawnRequest& request, int statusFd) {
    int highest = -1;
    for (const auto& [target, ours] : request.descriptors) {
        highest = std::max(highest, target);
    }
    if (statusFd > highest) {
        return statusFd;
    }
    const int moved = ::fcntl(statusFd, F_DUPFD_CLOEXEC, highest + 1);
    return moved >= 0 ? moved : statusFd;
}

void placeDescriptors(const SpawnRequest& request, int statusFd) {
    for (const auto& [target, ours] : request.descriptors) {
        // dup2 onto itself keeps close-on-exec; the flag is cleared by hand then.
        const int placed = target == ours ? ::fcntl(ours, F_SETFD, 0) : ::dup2(ours, target);
        if (placed < 0) {
            failSetup(statusFd, SetupStep::kDescriptor);
        }
    }
    if (request.closeOthers) {
        std::vector<int> keep{statusFd};
        for (const auto& [target, ours] : request.descriptors) {
            keep.push_back(target);
        }
        std::sort(keep.begin(), keep.end());
        closeAllBut(keep);
    }
}

void dropPrivileges(const SpawnRequest& request, int statusFd) {
    if (request.runAsUser < 0 || ::geteuid() != 0) {
        return;
    }
    const auto id = static_cast<uid_t>(request.runAsUser);
    if (::setgroups(0, nullptr) != 0 || ::setgid(id) != 0 || ::setuid(id) != 0) {
        failSetup(statusFd, SetupStep::kUser);
    }
}

// The child's side, between fork and exec: system calls only.
[[noreturn]] void becomeProgram(const SpawnRequest& request, Words& argv, Words& envp,
                                int statusFd) {
    statusFd = clearOfTargets(request, statusFd);
    if (request.ownProcessGroup) {
        ::setpgid(0, 0);
    }
    if (request.interrupt != InterruptDisposition::kInherit) {
        ::signal(SIGINT, request.interrupt == InterruptDisposition::kIgnore ? SIG_IGN : SIG_DFL);
    }
    placeDescriptors(request, statusFd);
    dropPrivileges(request, statusFd);
    if (!request.workingDirectory.empty() && ::chdir(request.workingDirectory.c_str()) != 0) {
        failSetup(statusFd, SetupStep::kDirectory);
    }
    for (const ResourceLimit& limit : request.limits) {
        const rlimit value{static_cast<rlim_t>(limit.value), static_cast<rlim_t>(limit.value)};
        if (::setrlimit(limit.resource, &value) != 0) {
            failSetup(statusFd, SetupStep::kLimit);
        }
    }
    ::execve(request.program.c_str(), argv.pointers.data(), envp.pointers.data());
    failSetup(statusFd, SetupStep::kExec);
}

std::string describeFailure(const SpawnRequest& request, const SetupFailure& failure) {
    const std::string reason = std::strerror(failure.error);
    switch (failure.step) {
        case SetupStep::kDescriptor:
            return "its descriptors could not be set up (" + reason + ")";
        case SetupStep::kUser:
            return "it could not be started as another user (" + reason + ")";
        case SetupStep::kDirectory:
            return request.workingDirectory + ": " + reason;
        case SetupStep::kLimit:
            return "a resource limit could not be set (" + reason + ")";
        case SetupStep::kExec:
            break;
    }
    return request.program + ": " + reason;
}

}  // namespace

SpawnedProcess spawnProcess(const SpawnRequest& request) {
    SpawnedProcess process;
    int status[2] = {-1, -1};
    if (::pipe2(status, O_CLOEXEC) != 0) {
        process.error = std::string("a pipe could not be made (") + std::strerror(errno) + ")";
        return process;
    }
    // Everything the child needs is built before the fork.
    Words argv = argumentWords(request);
    Words envp = environmentWords(request);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(status[0]);
        becomeProgram(request, argv, envp, status[1]);
    }
    ::close(status[1]);
    if (child < 0) {
        process.error = std::string("fork failed (") + std::strerror(errno) + ")";
        ::close(status[0]);
        return process;
    }
    if (request.ownProcessGroup) {
        ::setpgid(child, child);  // also here, so that no signal to the group comes before it
    }
    // The status pipe closes on a successful exec; a failure arrives as its step and errno.
    SetupFailure failure{};
    ssize_t got;
    do {
        got = ::read(status[0], &failure, sizeof failure);
    } while (got < 0 && errno == EINTR);
    ::close(status[0]);
    if (got == static_cast<ssize_t>(sizeof failure)) {
        process.error = describeFailure(request, failure);
        int ignored = 0;
        while (::waitpid(child, &ignored, 0) < 0 && errno == EINTR) {
        }
        return process;
    }
    process.pid = child;
    return process;
}

}  // namespace torvek::front
