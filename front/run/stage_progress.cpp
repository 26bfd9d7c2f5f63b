#include "front/run/stage_progress.h"

#include <algorithm>

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

}  // namespace torvek::front
