#pragma once
// The adjustment engine on its own, on an in-memory data set: the output starts as a copy of the
// input, as the job's does, and the report and polls go to endpoints of the caller's choice (a
// recording InProcessFrontEnd, or SilentEndpoints). Header-only so that the benchmarks use it too.
#include "dataset/adjusted_data_set.h"
#include "dataset/project_data_set.h"
#include "engine/adjustment_engine.h"
#include "engine/adjustment_settings.h"
#include "report/progress_window.h"
#include "report/report_writer.h"
#include "report/rich_edit_channel.h"

namespace torvek::testing {

/// Endpoints that lead nowhere (window handle 0): the report is dropped and every poll continues.
class SilentEndpoints {
  public:
    ReportWriter& report() { return report_; }
    ProgressWindow& progress() { return progress_; }

  private:
    RichEditChannel channel_{0};
    ReportWriter report_{channel_};
    ProgressWindow progress_{0, report_};
};

template <class Endpoints>
struct EngineOn {
    /// `minimallyConstrained` as the connectivity test would decide it (over-constrained is its
    /// negation); `solver`: the engine's solver (nullptr: the built-in dense one).
    explicit EngineOn(const ProjectDataSet& data, bool minimallyConstrained = false,
                      NormalSolverFactory solver = nullptr)
        : input(data),
          engine(input, output, frontEnd.report(), frontEnd.progress(), settings,
                 solver ? solver() : nullptr) {
        static_cast<ProjectDataSet&>(output) = data;
        settings.minimallyConstrained = minimallyConstrained;
        settings.overConstrained = !minimallyConstrained;
        // A recording front end forgets the class query of its channel, so that what it holds
        // afterwards is the engine's alone.
        if constexpr (requires { frontEnd.clearFrames(); })
            frontEnd.clearFrames();
    }
    EngineOn(const EngineOn&) = delete;
    EngineOn& operator=(const EngineOn&) = delete;

    /// Begins an attempt and loads the sites and the vectors; false at the first step that fails.
    bool loadAll() { return engine.beginAttempt() && engine.loadSites() && engine.loadVectors(); }

    Endpoints frontEnd;
    ProjectDataSet input;
    AdjustedDataSet output;
    AdjustmentSettings settings;
    AdjustmentEngine engine;
};

/// The engine with its report and polls going nowhere, for tests and benchmarks of the numbers.
using QuietEngine = EngineOn<SilentEndpoints>;

}  // namespace torvek::testing
