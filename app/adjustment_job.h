#pragma once
#include <cstdint>
#include <vector>

#include "app/model_options.h"
#include "dataset/adjusted_data_set.h"
#include "dataset/project_data_set.h"
#include "engine/adjustment_engine.h"
#include "engine/adjustment_settings.h"
#include "platform/full_path.h"
#include "report/progress_window.h"
#include "report/report_writer.h"
#include "report/rich_edit_channel.h"

namespace torvek {

/// The one object of a run: it owns the two data sets, the front-end endpoints, the report and
/// the adjustment, from the creation by main to the destruction, which writes the output data set.
class AdjustmentJob {
  public:
    /// Name of the scratch copy of the input made after a failed first attempt, in the current
    /// directory.
    static constexpr const char* kScratchCopyName = "torvek.tmp";

    /// `inputArgument`, `outputArgument`: the two file arguments as given (relative or absolute);
    /// `progressEndpoint`, `reportEndpoint`: the endpoints from the command line, 0 when absent;
    /// `solverFactory`: makes the store and solver of the normal equations, nullptr for the
    /// built-in dense one.
    AdjustmentJob(const char* inputArgument, const char* outputArgument,
                  std::int32_t progressEndpoint, std::int32_t reportEndpoint,
                  NormalSolverFactory solverFactory = nullptr);
    /// Writes the output data set first, whatever the run did (unless the run was refused before
    /// any file was touched).
    virtual ~AdjustmentJob();
    AdjustmentJob(const AdjustmentJob&) = delete;
    AdjustmentJob& operator=(const AdjustmentJob&) = delete;

    /// Polls the front end with a stage code; true when it asks to abort.
    bool pollAbort(int stageCode) { return progress_.pollAbort(stageCode); }

    /// The job sequence: banner, data sets, connectivity test, adjustment, retry, trailer.
    void run();
    /// One adjustment attempt with the settings of the input data set.
    bool runAdjustment();
    /// What follows a failed first attempt: the scratch copy and at most one retry.
    void retryAdjustment();
    /// Chooses the model and its options (torvek-large); the classic model without a call.
    void setModelOptions(const ModelOptions& options);
    /// A vector that data snooping took out, in order.
    struct SnoopedVector {
        int record = 0;
        char from[4] = {}, to[4] = {};
        double studentized = 0;
    };
    const std::vector<SnoopedVector>& snoopedVectors() const { return snooped_; }
    /// True when the last attempt stored its results.
    bool adjusted() const { return adjusted_; }
    const AdjustmentEngine& engine() const { return engine_; }
    const AdjustedDataSet& outputDataSet() const { return outputDataSet_; }
    /// The closing parameter report (ellipsoid and adjusted datum bias parameters).
    void printClosingReport();
    /// The error line of a memory allocation that failed anywhere in the run.
    void printOutOfMemory();

    /// False only when the user declined to adjust one part of a disconnected network.
    bool connectivityAccepted() const { return connectivityAccepted_; }
    /// True when the run was refused because both file arguments name one file.
    bool refusedSameFile() const { return refusedSameFile_; }

    ReportWriter& report() { return report_; }
    const char* inputPath() const { return inputPath_; }
    const char* outputPath() const { return outputPath_; }
    const AdjustmentSettings& settings() const { return settings_; }

  private:
    /// Writes the output data set to the output path; called once, by the destructor.
    void saveOutputDataSet();
    /// Clears the succeeded flag that the copy of the input carried over, and saves the output.
    void clearCopiedSuccess();
    /// Refuses paths that would lose data: unresolvable ones, two that name one file, or an
    /// output path that names something other than a regular file.
    bool refuseUnsafePaths();
    /// False, after an error line, when a statistic or bias result of the attempt is NaN or
    /// infinite.
    bool statisticsAreFinite();
    void printError(const char* format, const char* argument);
    /// Data snooping (snooping.cpp): takes out the vector with the largest studentized residual
    /// above the critical value that does not split the network and adjusts again, for at most
    /// options_.snoopRounds rounds.
    void snoopOutliers();
    /// True when taking the vector with the two labels out of use would split the network in use.
    bool removalSplitsNetwork(const char* label1, const char* label2);
    /// Takes the vector out of use in both data sets and clears its results in the output.
    void takeOutOfUse(const char* label1, const char* label2);

    ProjectDataSet inputDataSet_;
    AdjustedDataSet outputDataSet_;
    RichEditChannel channel_;
    ReportWriter report_;
    ProgressWindow progress_;
    char inputPath_[platform::kMaxPath] = {};
    char outputPath_[platform::kMaxPath] = {};
    AdjustmentSettings settings_;
    AdjustmentEngine engine_;
    bool connectivityAccepted_ = true;
    bool refusedSameFile_ = false;
    bool filesUntouched_ = false;  // the run was refused before any file was touched
    ModelOptions options_;
    bool adjusted_ = false;
    std::vector<SnoopedVector> snooped_;
};

}  // namespace torvek
