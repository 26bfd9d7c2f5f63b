#include "front/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace torvek::front {
namespace {

// Stage codes of the progress polls (docs/frontend-link.md): the last one before the iterations,
// the first and last of every iteration, and the one after them.
constexpr int kLoadedStage = 42;
constexpr int kFirstIterationStage = 49;
constexpr int kLastIterationStage = 58;
constexpr int kInverseStage = 86;
// Percentage points each iteration takes of those between the loading and the inverse: the
// halves, as an over-constrained adjustment iterates twice.
constexpr double kIterationSpan = (kInverseStage - kLoadedStage) / 2.0;

}  // namespace

const char* stageDescription(int stage) {
    if (stage <= 0) {
        return "starting";
    }
    if (stage <= 26) {
        return "network connectivity test";
    }
    if (stage <= 29) {
        return "preparing the adjustment";
    }
    if (stage <= 36) {
        return "loading sites";
    }
    if (stage <= 42) {
        return "loading vectors";
    }
    if (stage <= 49) {
        return "forming the normal equations";
    }
    if (stage <= 58) {
        return "solving the normal equations";
    }
    if (stage < 100) {
        return "computing precisions";
    }
    return "adjustment done";
}

int StageProgress::percent(int stage) {
    stage = std::clamp(stage, 0, 100);
    int mapped = stage;
    const bool iterating = stage >= kFirstIterationStage && stage <= kLastIterationStage;
    if (iterating) {
        // A new iteration starts when the codes of the iterations begin again (or at all).
        const bool again = previous_ >= kFirstIterationStage && previous_ <= kLastIterationStage &&
                           stage <= previous_;
        iteration_ = inIteration_ && again ? iteration_ + 1 : (inIteration_ ? iteration_ : 1);
        const double start = kLoadedStage + kIterationSpan * (iteration_ - 1);
        const double within = double(stage - kLoadedStage) / (kLastIterationStage - kLoadedStage);
        mapped = std::min(kInverseStage, static_cast<int>(start + within * kIterationSpan));
    }
    inIteration_ = iterating;
    previous_ = stage;
    shown_ = std::max(shown_, mapped);
    return shown_;
}

std::string progressLine(int percent, const std::string& what, int width) {
    percent = std::clamp(percent, 0, 100);
    const int barWidth = std::max(10, std::min(40, width - 40));
    const int filled = percent * barWidth / 100;
    std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(barWidth - filled), '-') + "]";
    char number[16];
    std::snprintf(number, sizeof number, " %3d %%  ", percent);
    line += number;
    line += what;
    if (static_cast<int>(line.size()) > width - 1) {
        line.resize(static_cast<std::size_t>(std::max(0, width - 1)));
    }
    return line;
}

void ProgressBar::write(const std::string& text) const {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd_, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return;
        }
        done += static_cast<std::size_t>(put);
    }
}

void ProgressBar::show(int stage) {
    if (!enabled_) {
        return;
    }
    percent_ = progress_.percent(stage);
    what_ = stageDescription(stage);
    if (progress_.iteration() > 1) {
        what_ += " (iteration " + std::to_string(progress_.iteration()) + ")";
    }
    draw();
}

void ProgressBar::clear() {
    if (enabled_ && drawn_) {
        write("\r\x1b[K");
        drawn_ = false;
    }
}

void ProgressBar::redraw() {
    if (enabled_ && percent_ >= 0) {
        draw();
    }
}

void ProgressBar::draw() {
    write("\r" + progressLine(percent_, what_, 80) + "\x1b[K");
    drawn_ = true;
}

}  // namespace torvek::front
