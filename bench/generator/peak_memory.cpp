// Runs one command and prints its peak resident memory in kilobytes and its wall time in
// nanoseconds, "KILOBYTES NANOSECONDS", on standard output: torvek-peak-memory COMMAND
// [ARGUMENTS...]. The command's own standard output goes to /dev/null.
// Exit status: the command's, 127 when it could not be started, 128 + signal when a signal ended
// it.
//
// Why a process of its own: a child's peak memory as the system reports it includes the pages it
// shared with its parent between fork and exec. Forked from a benchmark holding whole networks in
// memory, the program would be charged for them; forked from this small process it is charged
// for a few hundred kilobytes at most.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

// Exit status of a command that could not be started, as the shells report it.
constexpr int kNotStarted = 127;
// A command ended by a signal exits with this plus the signal number, as the shells report it.
constexpr int kSignalBase = 128;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s COMMAND [ARGUMENTS...]\n", argv[0]);
        return 2;
    }
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("fork");
        return kNotStarted;
    }
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0)
            ::dup2(null, STDOUT_FILENO);
        ::execv(argv[1], argv + 1);
        _exit(kNotStarted);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child) {
        std::perror("wait4");
        return kNotStarted;
    }
    timespec end{};
    ::clock_gettime(CLOCK_MONOTONIC, &end);
    const long long nanoseconds =
        (end.tv_sec - start.tv_sec) * 1000000000LL + (end.tv_nsec - start.tv_nsec);
    std::printf("%ld %lld\n", usage.ru_maxrss, nanoseconds);
    if (WIFSIGNALED(status))
        return kSignalBase + WTERMSIG(status);
    return WIFEXITED(status) ? WEXITSTATUS(status) : kNotStarted;
}
