// Runs the adjustment program once as a front end does and prints the time and the peak memory of
// each phase of the run, taken at the progress polls that end them:
//   torvek-phase-times PROGRAM INPUT OUTPUT
// Peak memory is the child's high-water mark of resident memory (VmHWM) when the phase ended.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "front/run/link_server.h"
#include "report/progress_window.h"

namespace {

// The phase that a poll with this stage code ends, or nullptr for polls that end none.
const char* phaseEndingAt(int stage) {
    switch (stage) {
        case torvek::stage::kStart:
            return "start";
        case torvek::stage::kGroupsBuilt:
            return "read data set, connectivity tables";
        case torvek::stage::kConnectivityDone:
            return "connectivity test";
        case torvek::stage::kSitesLoaded:
            return "load sites";
        case torvek::stage::kEquationsFormed:
            return "load vectors, form and assemble equations";
        case torvek::stage::kEquationsChecked:
            return "check the normal equations";
        case torvek::stage::kFactorised:
            return "order and factorise";
        case torvek::stage::kSolved:
            return "solve and selected inverse";
        case torvek::stage::kInverseFormed:
            return "tests, store site results";
        case torvek::stage::kFinished:
            return "vector precisions, closing report";
        default:
            return nullptr;
    }
}

// The child's peak resident memory in kB, read from /proc; 0 when it cannot be found.
long childPeakKilobytes() {
    std::ifstream children("/proc/self/task/" + std::to_string(::getpid()) + "/children");
    long pid = 0;
    if (!(children >> pid))
        return 0;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            std::istringstream value(line.substr(6));
            long kilobytes = 0;
            value >> kilobytes;
            return kilobytes;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PROGRAM INPUT OUTPUT\n", argv[0]);
        return 2;
    }
    // Each phase shows as it ends, also when the output goes to a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point last = start;
    long lastPeak = 0;
    auto print = [&](const char* phase, long peak) {
        const Clock::time_point now = Clock::now();
        std::printf("%-36s %9.3f s %9.1f MB\n", phase,
                    std::chrono::duration<double>(now - last).count(), peak / 1024.0);
        last = now;
    };
    torvek::front::LinkHandlers handlers;
    handlers.pollAbort = [&](int stage) {
        if (const char* phase = phaseEndingAt(stage)) {
            lastPeak = childPeakKilobytes();
            print(phase, lastPeak);
        }
        return false;
    };
    handlers.warningBox = [](const std::string&, const std::string&) { return true; };
    const torvek::front::ChildOutcome outcome =
        torvek::front::runLinkedChild(argv[1], {argv[2], argv[3]}, handlers);
    print("write output data set, exit", lastPeak);
    std::printf("%-36s %9.3f s\n", "whole run",
                std::chrono::duration<double>(Clock::now() - start).count());
    if (!outcome.completed()) {
        std::fprintf(stderr, "%s\n", outcome.describe(argv[1]).c_str());
        return 1;
    }
    return 0;
}
