#include "front/run/phase_clock.h"

#include <cstdio>
#include <fstream>

namespace torvek::front {

void PhaseClock::mark(std::string name) {
    const Clock::time_point now = Clock::now();
    phases_.push_back({std::move(name), std::chrono::duration<double>(now - last_).count(),
                       peakResidentKilobytes()});
    last_ = now;
}

long peakResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        long kilobytes = 0;
        if (std::sscanf(line.c_str(), "VmHWM: %ld kB", &kilobytes) == 1) {
            return kilobytes;
        }
    }
    return 0;
}

std::string formatPhaseTimes(const std::vector<PhaseTime>& phases, const std::string& program,
                             long childPeakKilobytes) {
    constexpr double kKilobytesPerMegabyte = 1024.0;
    std::string text =
        "torvek-front: phase times (wall-clock seconds; the front end's peak "
        "resident memory at the phase's end)\n";
    double total = 0;
    char line[160];
    for (const PhaseTime& p : phases) {
        std::snprintf(line, sizeof line, "  %-12s %9.3f s %9.1f MB\n", p.name.c_str(), p.seconds,
                      p.peakKilobytes / kKilobytesPerMegabyte);
        text += line;
        total += p.seconds;
    }
    std::snprintf(line, sizeof line, "  %-12s %9.3f s\n", "total", total);
    text += line;
    if (childPeakKilobytes > 0) {
        std::snprintf(line, sizeof line, "  %s peak resident memory %.1f MB\n", program.c_str(),
                      childPeakKilobytes / kKilobytesPerMegabyte);
        text += line;
    }
    return text;
}

}  // namespace torvek::front
