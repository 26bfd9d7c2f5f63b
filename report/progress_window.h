#pragma once
#include <cstdint>

#include "link/stages.h"
#include "report/report_writer.h"

namespace torvek {

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
