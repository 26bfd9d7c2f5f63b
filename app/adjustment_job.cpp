#include "app/adjustment_job.h"

#include <cstring>

#include "platform/full_path.h"

namespace torvek {

AdjustmentJob::AdjustmentJob(const char* inputArgument, const char* outputArgument,
                             std::int32_t progressWindow, std::int32_t reportWindow)
    : channel_(reportWindow), report_(channel_), progress_(progressWindow, report_) {
    platform::fullPath(inputArgument, inputPath_, sizeof inputPath_);
    platform::fullPath(outputArgument, outputPath_, sizeof outputPath_);
}

AdjustmentJob::~AdjustmentJob() { saveOutputDataSet(); }

void AdjustmentJob::saveOutputDataSet() {
    // The output data set is written here once the data set exists.
}

bool AdjustmentJob::pathsNameOneFile() {
    bool same = std::strcmp(inputPath_, outputPath_) == 0 ||
                platform::sameExistingFile(inputPath_, outputPath_);
    if (!same) return false;
    report_.setStyle(9, 1, 0, 0);
    report_.print("Error: The input and the output data set are the same file: %s\n", inputPath_);
    report_.setStyle(9, 3, 0, 0);
    return true;
}

void AdjustmentJob::run() {
    connectivityAccepted_ = true;
    report_.printBanner();
    if (pathsNameOneFile()) {
        refusedSameFile_ = true;
        return;
    }
    report_.printTrailer();
}

void AdjustmentJob::printClosingReport() {}

}  // namespace torvek
