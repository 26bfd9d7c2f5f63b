#include "front/run/stage_progress.h"

#include <algorithm>

#include "link/stages.h"

namespace torvek::front {
namespace {

// The last stage before the iterations, the first and last of every iteration, and the one
// after them.
constexpr int kLoadedStage = stage::kSitesLoaded;
constexpr int kFirstIterationStage = stage::kEquationsFormed;
constexpr int kLastIterationStage = stage::kSolved;
constexpr int kInverseStage = stage::kInverseFormed;
// Percentage points each iteration takes of those between the loading and the inverse: the
// halves, as an over-constrained adjustment iterates twice.
constexpr double kIterationSpan = (kInverseStage - kLoadedStage) / 2.0;

}  // namespace

const char* stageDescription(int code) {
    if (code <= stage::kStart) {
        return "starting";
    }
    if (code <= stage::kConnectivityDone) {
        return "network connectivity test";
    }
    if (code <= stage::kBeforeAdjustment) {
        return "preparing the adjustment";
    }
    if (code <= stage::kConstantsSet) {
        return "loading sites";
    }
    if (code <= stage::kSitesLoaded) {
        return "loading vectors";
    }
    if (code <= stage::kEquationsFormed) {
        return "forming the normal equations";
    }
    if (code <= stage::kSolved) {
        return "solving the normal equations";
    }
    if (code < stage::kFinished) {
        return "computing precisions";
    }
    return "adjustment done";
}

int StageProgress::percent(int code) {
    code = std::clamp(code, stage::kStart, stage::kFinished);
    int mapped = code;
    const bool iterating = code >= kFirstIterationStage && code <= kLastIterationStage;
    if (iterating) {
        // A new iteration starts when the codes of the iterations begin again (or at all).
        const bool again = previous_ >= kFirstIterationStage && previous_ <= kLastIterationStage &&
                           code <= previous_;
        iteration_ = inIteration_ && again ? iteration_ + 1 : (inIteration_ ? iteration_ : 1);
        const double start = kLoadedStage + kIterationSpan * (iteration_ - 1);
        const double within = double(code - kLoadedStage) / (kLastIterationStage - kLoadedStage);
        mapped = std::min(kInverseStage, static_cast<int>(start + within * kIterationSpan));
    }
    inIteration_ = iterating;
    previous_ = code;
    shown_ = std::max(shown_, mapped);
    return shown_;
}

}  // namespace torvek::front
