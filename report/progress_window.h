#pragma once
#include <cstdint>

#include "report/report_writer.h"

namespace torvek {

/// Stage codes of the abort poll. They rise through a run and double as a progress percentage.
namespace stage {
inline constexpr int kStart = 0;              // the job exists, nothing printed yet
inline constexpr int kGroupsBuilt = 13;       // connectivity work tables built
inline constexpr int kConnectivityDone = 26;  // connectivity test finished, flags written
inline constexpr int kBeforeAdjustment = 29;  // before the adjustment attempt
inline constexpr int kMatrixAllocated = 32;
inline constexpr int kConstantsSet = 36;  // scratch files open, reference frame set
inline constexpr int kSitesLoaded = 42;
inline constexpr int kEquationsFormed = 49;   // every iteration
inline constexpr int kEquationsChecked = 52;  // every iteration
inline constexpr int kFactorised = 56;        // every iteration
inline constexpr int kSolved = 58;            // every iteration
inline constexpr int kInverseFormed = 86;
inline constexpr int kFinished = 100;  // answer ignored
}  // namespace stage

/// The front end's progress window, reached through its endpoint: it answers the abort polls, owns
/// the warning box and receives the exit notification. Endpoint 0 means there is none (polls then
/// always continue).
class ProgressWindow {
  public:
    /// `endpoint`: the progress endpoint from the command line, 0 when absent.
    ProgressWindow(std::int32_t endpoint, ReportWriter& report);
    virtual ~ProgressWindow() = default;
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    /// Polls the front end with `stageCode`. True when it asks to abort; the report then carries
    /// "Adjustment aborted by user" and every caller gives up its step and returns failure.
    bool pollAbort(int stageCode);

    /// The modal OK/Cancel warning box owned by this window (on the console when there is none).
    /// True when the user answered OK.
    bool confirm(const char* text, const char* caption);

    std::int32_t endpoint() const { return endpoint_; }
    /// True once any poll has been answered with an abort in this run.
    bool abortAnswered() const { return abortAnswered_; }

  private:
    std::int32_t endpoint_;
    ReportWriter& report_;
    bool abortAnswered_ = false;
};

}  // namespace torvek
