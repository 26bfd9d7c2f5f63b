#pragma once
#include "dataset/adjusted_data_set.h"
#include "dataset/project_data_set.h"
#include "report/progress_window.h"
#include "report/report_writer.h"

namespace torvek {

/// What the connectivity test decided for the job.
struct ConnectivityResult {
    /// True when the adjustment may proceed.
    bool proceed = false;
    /// False only when the user declined to adjust one part of a disconnected network.
    bool accepted = true;
    /// True once the adjustment type below was decided (the test got that far).
    bool typeDecided = false;
    bool minimallyConstrained = false;
    bool overConstrained = false;
    double confidenceLevel = 95.0;  // percent
    double vectorSigmaScale = 1.0;
};

/// The connectivity test of a run: makes sure the sites and vectors in use form one connected
/// network with a datum: groups the sites joined by vectors, chooses the best-controlled group
/// (asking the user through the progress window's warning box when there are several), takes
/// everything else out of use, completes the fixes, decides the adjustment type, lists the
/// control sites and writes the in-use and fix flags into both data sets. With `reportGroups`
/// the report lists every group of a disconnected network. Polls stages 13 and 26. Throws
/// std::bad_alloc when the work tables do not fit in memory.
ConnectivityResult checkConnectivity(ProjectDataSet& input, AdjustedDataSet& output,
                                     ReportWriter& report, ProgressWindow& progress,
                                     bool reportGroups);

}  // namespace torvek
