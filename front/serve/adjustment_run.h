#pragma once

// One adjustment started from the browser workspace, on a thread of its own: an adapter over the
// run service, which runs it exactly as the command line's adjust does (engine, documents, full
// site names). What the program says (stage polls, report pieces, the warning box) becomes events
// for the pages that follow the run, and what the pages answer (Cancel, the warning's OK or
// Cancel) goes back through the link. The downloads are the documents the service placed.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dataset/adjusted_data_set.h"
#include "front/documents/report_document.h"
#include "front/project/project_json.h"
#include "front/results/network_results.h"
#include "front/run/run_service.h"
#include "front/serve/event_log.h"

namespace torvek::front::serve {

// A run as the workspace starts it: the adjustment for the run service and what the workspace
// keeps about it.
struct RunStart {
    int id = 0;                        // 1, 2, ... within the workspace
    int projectSerial = 0;             // which opened project the run belongs to
    std::string fileStem;              // downloads are named fileStem + extension
    std::vector<std::string> changes;  // what the person changed since the run before
    // The adjustment; its output lies in the run's own folder as fileStem + ".dat", its
    // documents beside it.
    torvek::front::RunRequest adjustment;
};

// How a run ended, for the page and the history.
enum class RunOutcome {
    kRunning,
    kAdjusted,     // results stored (the chi-square test may still fail)
    kNotAdjusted,  // the program ran to its end without results
    kAborted,      // Cancel answered a stage poll with an abort
    kCancelledAtWarning,
    kProgramFailed,  // could not be started, crashed, or ended without its exit notice
};

const char* outcomeName(RunOutcome outcome);

// How long a cancelled run's program gets to answer a stage poll with its abort before it is
// terminated: a working program polls many times a second.
inline constexpr std::chrono::milliseconds kCancelGrace{5000};

class AdjustmentRun {
  public:
    explicit AdjustmentRun(RunStart request);
    ~AdjustmentRun();
    AdjustmentRun(const AdjustmentRun&) = delete;
    AdjustmentRun& operator=(const AdjustmentRun&) = delete;

    // Starts the thread that serves the program.
    void start();
    // The next stage poll is answered with an abort; a warning box waiting for its answer is
    // answered Cancel. A program that has not ended kCancelGrace after the first cancel is ended
    // as a second Ctrl-C ends it on the command line: SIGTERM to its process group, then SIGKILL.
    void cancel();
    // Answers the warning box shown now; false when none waits for an answer.
    bool answerWarning(bool ok);
    // Kills the program at once (for a program that no longer polls).
    void kill();
    // Waits for the thread to end.
    void join();

    int id() const { return request_.id; }
    int projectSerial() const { return request_.projectSerial; }
    bool finished() const { return finished_.load(); }
    const EventLog& events() const { return events_; }

    // The run for the history: id, outcome, statistics, the changes it was started after.
    Json summary() const;
    // Everything the page shows after the run: the summary, the statistics and per-site and
    // per-vector results (in the project's order); null while the run goes on.
    Json results() const;

    // The bytes of a download: "dataset" (the output data set), "rtf" or "html" (the report with
    // the results), "csv" or "json" (exports of the output data set), "svg" (the network plot).
    // A run that did not reach its end offers its report alone, as "rtf". False when the kind is
    // unknown or not offered.
    bool download(const std::string& kind, std::string& bytes, std::string& fileName,
                  std::string& contentType) const;

  private:
    void serve();
    RunCallbacks callbacks();
    bool onPoll(int stage);
    void onReportPiece(std::uint32_t dataWord, std::string_view text);
    bool onWarning(const std::string& text, const std::string& caption);
    void flushReport();
    // True once the program has had kCancelGrace to end after a cancel.
    bool cancelOverdue() const;
    void finish(const std::string& notes, RunOutcome outcome);

    const RunStart request_;
    EventLog events_;
    std::thread thread_;
    std::atomic<bool> cancelRequested_{false};
    std::atomic<bool> killRequested_{false};
    std::atomic<bool> finished_{false};
    // Since the first cancel; read by the link's kill question, on the run's own thread.
    std::atomic<std::chrono::steady_clock::rep> cancelledAt_{0};

    mutable std::mutex mutex_;  // guards everything below
    std::condition_variable warningAnswered_;
    bool warningPending_ = false;
    std::optional<bool> warningAnswer_;
    int lastStage_ = 0;
    std::string engine_;  // the program that runs
    ReportDocument report_;
    std::size_t reportLinesSent_ = 0;  // lines sent whole; the last sent may still grow
    bool reportReplaced_ = false;      // a piece replaced the report since the last flush
    std::chrono::steady_clock::time_point lastFlush_{};
    RunOutcome outcome_ = RunOutcome::kRunning;
    std::string notes_;
    // What the service did, once it is done.
    std::shared_ptr<const RunResult> run_;
};

// The report lines from `first` on as JSON: [{"centred": bool, "runs": [[text, colour, attributes,
// half-points], ...]}, ...], attributes 1 bold, 2 italic, 4 underline. Text that is not UTF-8 is
// replaced by U+FFFD when the JSON is written.
Json reportLinesJson(const ReportDocument& document, std::size_t first);

// The results of a run for the page, in the data set's order of sites and vectors.
Json resultsJson(const NetworkResults& results);

}  // namespace torvek::front::serve
