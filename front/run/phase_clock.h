#pragma once
// The phases of one run as a person waits through them, for `adjust --timings` and the
// end-to-end benchmark: how long each took and how much memory the front end had needed by its
// end.
#include <chrono>
#include <string>
#include <vector>

namespace torvek::front {

struct PhaseTime {
    std::string name;
    double seconds = 0;      // wall-clock time of the phase
    long peakKilobytes = 0;  // the front end's peak resident memory at the phase's end (VmHWM)
};

class PhaseClock {
  public:
    PhaseClock() : last_(Clock::now()) {}
    // Ends the phase running since the last mark (or since the clock was made) and names it.
    void mark(std::string name);
    const std::vector<PhaseTime>& phases() const { return phases_; }

  private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point last_;
    std::vector<PhaseTime> phases_;
};

// This process's peak resident memory in kilobytes (VmHWM of /proc/self/status); 0 when it
// cannot be read.
long peakResidentKilobytes();

// The phases as lines for the terminal: name, seconds and peak memory in MB, one per line, then
// the adjustment program's own peak (`childPeakKilobytes`, 0 when unknown).
std::string formatPhaseTimes(const std::vector<PhaseTime>& phases, const std::string& program,
                             long childPeakKilobytes);

}  // namespace torvek::front
