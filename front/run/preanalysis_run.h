#pragma once
// The pre-analysis the workspace answers while a person plans: the rigorous model of
// torvek-large run on planned vectors in a private temporary folder, without documents, outputs
// or placing, its statistics read back and the folder removed.
#include <string>

#include "dataset/adjusted_data_set.h"
#include "front/project/site_name_mapping.h"
#include "front/results/rigorous_statistics.h"

namespace torvek::front {

struct PreanalysisResult {
    bool ok = false;
    std::string error;  // why there are no statistics (the program's report line when it said)
    RigorousStatistics statistics;  // sites named in full
    double elapsedSeconds = 0;      // wall time of the whole pre-analysis
};

// Runs `torvek-large --model rigorous --preanalysis` on `input` (its planned vectors among its
// vectors), found as locateLargeProgram(`program`) says, in a folder made inside `workFolder`
// (an existing private folder) and removed before it returns. The connectivity warning is
// answered OK; nothing asks to abort.
PreanalysisResult runPreanalysis(const AdjustedDataSet& input, const SiteNameTable& names,
                                 const std::string& program, const std::string& workFolder);

}  // namespace torvek::front
