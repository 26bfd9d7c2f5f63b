#include "app/adjustment_job.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/connectivity_check.h"
#include "geodesy/datum_bias.h"
#include "platform/file_copy.h"
#include "platform/full_path.h"
#include "report/closing_report.h"

namespace torvek {
namespace {

constexpr const char* kInputUnreadableMessage = "Error: Cannot read the input data set %s\n";

// The closing report's values: the ellipsoid of the input, the bias results of the output and
// what the adjustment held.
ClosingReport closingReportOf(const ProjectDataSet& input, const AdjustedDataSet& output,
                              const AdjustmentSettings& settings) {
    ClosingReport closing;
    const EllipsoidParameters ellipsoid = input.ellipsoid();
    closing.semiMajorAxis = ellipsoid.semiMajorAxis;
    closing.reciprocalFlattening = ellipsoid.inverseFlattening;
    const BiasValues bias = biasReportValues(output.biasResultBlock());
    // Value and sigma pairs: north, east, up, then X, Y, Z, then the scale.
    for (int k = 0; k < 3; ++k) {
        closing.localRotations[k] = {bias[2 * k], bias[2 * k + 1]};
        closing.geocentricRotations[k] = {bias[6 + 2 * k], bias[7 + 2 * k]};
        closing.aprioriLocalRotations[k] = settings.biasApriori[k];
        closing.localRotationFixed[k] = settings.biasFixed[k];
    }
    closing.scale = {bias[12], bias[13]};
    closing.aprioriScale = settings.biasApriori[3];
    closing.scaleFixed = settings.biasFixed[3];
    closing.minimallyConstrained = settings.minimallyConstrained;
    return closing;
}

}  // namespace

AdjustmentJob::AdjustmentJob(const char* inputArgument, const char* outputArgument,
                             std::int32_t progressEndpoint, std::int32_t reportEndpoint,
                             NormalSolverFactory solverFactory)
    : channel_(reportEndpoint),
      report_(channel_),
      progress_(progressEndpoint, report_),
      engine_(inputDataSet_, outputDataSet_, report_, progress_, settings_,
              solverFactory ? solverFactory() : nullptr) {
    platform::fullPath(inputArgument, inputPath_, sizeof inputPath_);
    platform::fullPath(outputArgument, outputPath_, sizeof outputPath_);
    inputDataSet_.setFileName(inputPath_);
    outputDataSet_.setFileName(outputPath_);
}

AdjustmentJob::~AdjustmentJob() {
    saveOutputDataSet();
}

void AdjustmentJob::saveOutputDataSet() {
    if (filesUntouched_)
        return;
    if (!outputDataSet_.save())
        printError("Error: Cannot write the output data set %s\n", outputPath_);
}

void AdjustmentJob::printError(const char* format, const char* argument) {
    report_.setStyle(style::kError);
    report_.print(format, argument);
    report_.setStyle(style::kBody);
}

bool AdjustmentJob::refuseUnsafePaths() {
    if (inputPath_[0] == '\0' || outputPath_[0] == '\0') {
        // A path whose absolute form does not fit: no file can be named safely.
        printError("Error: %s\n", "A data set path is empty or longer than the program accepts");
        filesUntouched_ = true;
        return true;
    }
    // The output file is deleted and replaced: a directory, a device or a FIFO there is no data
    // set, and deleting it (as root, /dev/null say) would harm the system rather than the run.
    if (platform::namesNonRegularFile(outputPath_)) {
        printError("Error: The output data set path names no regular file: %s\n", outputPath_);
        filesUntouched_ = true;
        return true;
    }
    // Deleting the output before reading the input would lose the input if both are one file.
    if (std::strcmp(inputPath_, outputPath_) == 0 ||
        platform::sameExistingFile(inputPath_, outputPath_)) {
        printError("Error: The input and the output data set are the same file: %s\n", inputPath_);
        refusedSameFile_ = true;
        filesUntouched_ = true;
        return true;
    }
    return false;
}

void AdjustmentJob::run() {
    connectivityAccepted_ = true;
    settings_.forceBiasConstraints = false;
    report_.printBanner();
    if (refuseUnsafePaths())
        return;
    outputDataSet_.resetFile();
    const bool inputLoaded = inputDataSet_.load();
    if (!inputLoaded)
        printError(kInputUnreadableMessage, inputPath_);
    if (!platform::copyFile(inputDataSet_.fileName().c_str(), outputDataSet_.fileName().c_str())) {
        printError("Error: Cannot copy the input data set to %s\n", outputPath_);
        return;
    }
    // The copy holds the bytes the input was read from: its content is taken from memory rather
    // than read and decoded a second time. When the input could not be read, its error line is out
    // and the run goes on with what the data sets hold; a copy that cannot be read back after a
    // good input would leave the results nowhere to go, so the run ends.
    const bool copyRead =
        (inputLoaded && outputDataSet_.readContents(inputDataSet_)) || outputDataSet_.load();
    if (!copyRead && inputLoaded) {
        printError("Error: Cannot read the copy of the input data set at %s\n", outputPath_);
        return;
    }
    clearCopiedSuccess();

    ConnectivityResult connectivity =
        checkConnectivity(inputDataSet_, outputDataSet_, report_, progress_, true);
    connectivityAccepted_ = connectivity.accepted;
    if (connectivity.typeDecided) {
        settings_.minimallyConstrained = connectivity.minimallyConstrained;
        settings_.overConstrained = connectivity.overConstrained;
        settings_.confidenceLevel = connectivity.confidenceLevel;
        settings_.vectorSigmaScale = connectivity.vectorSigmaScale;
    }
    if (!connectivity.proceed)
        return;
    if (pollAbort(stage::kBeforeAdjustment))
        return;

    if (!runAdjustment())
        retryAdjustment();
    if (adjusted_ && settings_.rigorous && options_.snoopRounds > 0)
        snoopOutliers();
    report_.printTrailer();
}

bool AdjustmentJob::runAdjustment() {
    const DataSetSettings stored = inputDataSet_.adjustmentSettings();
    settings_.confidenceLevel = stored.confidenceLevel;
    settings_.vectorSigmaScale = stored.vectorSigmaScale;
    settings_.minimallyConstrained = stored.minimallyConstrained != 0;
    outputDataSet_.setAdjustmentSettings(stored);
    adjusted_ = false;
    if (!engine_.adjust() || !statisticsAreFinite()) {
        outputDataSet_.setAdjustmentSucceeded(0);
        return false;
    }
    adjusted_ = true;
    pollAbort(stage::kFinished);  // the answer is ignored: the results are stored
    outputDataSet_.setAdjustmentSucceeded(1);
    return true;
}

bool AdjustmentJob::statisticsAreFinite() {
    // The engine checks every value as it stores it; this last look at the statistics and bias
    // results that every successful attempt writes keeps a NaN from ever being marked a success.
    double values[kBiasResultCount + 5];
    const std::array<double, kBiasResultCount> bias = outputDataSet_.biasResultBlock();
    std::copy(bias.begin(), bias.end(), values);
    double* statistics = values + kBiasResultCount;
    outputDataSet_.getChiSquareTest(statistics[0], statistics[1], statistics[2]);
    statistics[3] = outputDataSet_.tauCriticalValue();
    statistics[4] = outputDataSet_.unitWeightStandardError();
    for (double value : values) {
        if (std::isfinite(value))
            continue;
        printError("Error: %s\n", "The adjustment gave a statistic that is not a finite number");
        return false;
    }
    return true;
}

void AdjustmentJob::clearCopiedSuccess() {
    // Until an attempt stores its results the output is a copy of the input, and a run that stops
    // early (no redundancy, an abort) must not pass on the success of the run that made the input.
    // An input without that flag set is left byte for byte as it was: no record is added.
    if (outputDataSet_.adjustmentRecordCount() <= 0 || outputDataSet_.adjustmentSucceeded() == 0)
        return;
    outputDataSet_.setAdjustmentSucceeded(0);
    // Saved at once, so that a run killed before its end leaves no copy that claims a success.
    if (!outputDataSet_.save()) {
        std::remove(outputPath_);
        printError("Error: Cannot write the output data set %s\n", outputPath_);
    }
}

void AdjustmentJob::setModelOptions(const ModelOptions& options) {
    options_ = options;
    settings_.rigorous = options.rigorous;
    settings_.scaleByPosterior = options.scaleByPosterior;
    settings_.preanalysis = options.preanalysis;
}

void AdjustmentJob::printOutOfMemory() {
    printError("%s", "Error: Not enough memory for request\n");
}

void AdjustmentJob::retryAdjustment() {
    platform::CopyFailure failure = platform::CopyFailure::kNone;
    if (!platform::copyFile(inputPath_, kScratchCopyName, &failure)) {
        // Without its scratch copy the sequence makes no retry; the report says why the attempt
        // ends here, where it would otherwise end without a word, and which file is to blame.
        if (failure == platform::CopyFailure::kSource)
            printError(kInputUnreadableMessage, inputPath_);
        else
            printError("Error: Cannot write the scratch copy %s in the current directory\n",
                       kScratchCopyName);
        report_.setStyle(style::kError);
        report_.print("Error: Adjustment was not sucessful\n");
        return;
    }
    // The solver records a singularity before its next poll, so an abort answered there must
    // not be followed by a whole second attempt: nothing is retried after an abort.
    if (settings_.singularityRetry && !progress_.abortAnswered()) {
        report_.setStyle(style::kIndented);
        report_.print("Try to resolve matrix singularity\n");
        settings_.forceBiasConstraints = true;
        if (runAdjustment())
            return;
    }
    report_.setStyle(style::kError);
    report_.print("Error: Adjustment was not sucessful\n");
}

void AdjustmentJob::printClosingReport() {
    torvek::printClosingReport(report_, closingReportOf(inputDataSet_, outputDataSet_, settings_));
}

}  // namespace torvek
