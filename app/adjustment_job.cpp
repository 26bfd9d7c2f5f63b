#include "app/adjustment_job.h"

#include <cmath>
#include <cstring>

#include "geodesy/datum_bias.h"
#include "network/connectivity_test.h"
#include "platform/file_copy.h"
#include "platform/full_path.h"

namespace torvek {

AdjustmentJob::AdjustmentJob(const char* inputArgument, const char* outputArgument,
                             std::int32_t progressWindow, std::int32_t reportWindow)
    : channel_(reportWindow),
      report_(channel_),
      progress_(progressWindow, report_),
      engine_(inputDataSet_, outputDataSet_, report_, progress_, settings_) {
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
    report_.setStyle(9, 1, 0, 0);
    report_.print(format, argument);
    report_.setStyle(9, 3, 0, 0);
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
    const bool inputRead = inputDataSet_.load();
    if (!inputRead)
        printError("Error: Cannot read the input data set %s\n", inputPath_);
    if (!platform::copyFile(inputDataSet_.fileName().c_str(), outputDataSet_.fileName().c_str())) {
        printError("Error: Cannot copy the input data set to %s\n", outputPath_);
        return;
    }
    // The copy holds the bytes just read: its content is taken from memory rather than read and
    // decoded a second time.
    if (!inputRead || !outputDataSet_.readContents(inputDataSet_))
        outputDataSet_.load();

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
    report_.printTrailer();
}

bool AdjustmentJob::runAdjustment() {
    std::uint8_t minimallyConstrained = 0;
    inputDataSet_.getAdjustmentSettings(minimallyConstrained, settings_.confidenceLevel,
                                        settings_.vectorSigmaScale);
    settings_.minimallyConstrained = minimallyConstrained != 0;
    outputDataSet_.setAdjustmentSettings(minimallyConstrained, settings_.confidenceLevel,
                                         settings_.vectorSigmaScale);
    if (!engine_.adjust() || !statisticsAreFinite()) {
        outputDataSet_.setAdjustmentSucceeded(0);
        return false;
    }
    pollAbort(stage::kFinished);  // the answer is ignored: the results are stored
    outputDataSet_.setAdjustmentSucceeded(1);
    return true;
}

bool AdjustmentJob::statisticsAreFinite() {
    // The engine checks every value as it stores it; this last look at the statistics and bias
    // results that every successful attempt writes keeps a NaN from ever being marked a success.
    double values[kBiasResultCount + 5];
    outputDataSet_.getBiasResultBlock(values);
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

void AdjustmentJob::retryAdjustment() {
    if (!platform::copyFile(inputPath_, kScratchCopyName)) {
        // Without its scratch copy the sequence makes no retry; the report says why the attempt
        // ends here, where it would otherwise end without a word.
        printError("Error: Cannot write the scratch copy %s in the current directory\n",
                   kScratchCopyName);
        report_.setStyle(9, 1, 0, 0);
        report_.print("Error: Adjustment was not sucessful\n");
        return;
    }
    // The solver records a singularity before its next poll, so an abort answered there must
    // not be followed by a whole second attempt: nothing is retried after an abort.
    if (settings_.singularityRetry && !progress_.abortAnswered()) {
        report_.setStyle(9, 3, 0, 1);
        report_.print("Try to resolve matrix singularity\n");
        settings_.forceBiasConstraints = true;
        if (runAdjustment())
            return;
    }
    report_.setStyle(9, 1, 0, 0);
    report_.print("Error: Adjustment was not sucessful\n");
}

void AdjustmentJob::printClosingReport() {
    double a = 0, rf = 0;
    inputDataSet_.getEllipsoid(a, rf);
    double bias[14];
    getBiasResults(outputDataSet_, bias);
    const bool minimal = settings_.minimallyConstrained;
    const bool allRotationsFixed =
        settings_.biasFixed[0] && settings_.biasFixed[1] && settings_.biasFixed[2];
    const double* apriori = settings_.biasApriori;

    report_.setStyle(9, 3, 1, 0);
    report_.print("Reference Ellipsoid Parameters\n");
    report_.setStyle(9, 3, 0, 1);
    report_.print("Equatorial radius (semi-major axis): %11.3f\n", a);
    report_.setStyle(9, 3, 0, 1);
    report_.print("Reciprocal of flattening: %13.9f\n", rf);
    report_.setStyle(9, 3, 1, 0);
    report_.print("\n");
    report_.print("Adjusted Datum Bias Parameters\n");

    const bool scaleFixed = minimal || settings_.biasFixed[3];
    auto scaleLine = [&] {
        report_.setStyle(9, 3, 0, 1);
        if (scaleFixed)
            report_.print("Scale correction (ppm)   %7.3f    fixed\n", apriori[3]);
        else
            report_.print("Scale correction (ppm)   %7.3f  %7.3f\n", bias[12], bias[13]);
    };

    report_.setStyle(9, 3, 2, 1);
    report_.print("Bias Parameters In Geocentric Cartesian System\n");
    report_.setStyle(9, 3, 0, 1);
    report_.print("Rotation angle (seconds)   Value    Sigma\n");
    // The geocentric rotations print the adjusted values in both forms.
    static const char* const kAxisFixed[3] = {"  X                      %7.3f    fixed\n",
                                              "  Y                      %7.3f    fixed\n",
                                              "  Z                      %7.3f    fixed\n"};
    static const char* const kAxisFree[3] = {"  X                      %7.3f  %7.3f\n",
                                             "  Y                      %7.3f  %7.3f\n",
                                             "  Z                      %7.3f  %7.3f\n"};
    for (int k = 0; k < 3; ++k) {
        report_.setStyle(9, 3, 0, 1);
        if (minimal || allRotationsFixed)
            report_.print(kAxisFixed[k], bias[6 + 2 * k]);
        else
            report_.print(kAxisFree[k], bias[6 + 2 * k], bias[7 + 2 * k]);
    }
    scaleLine();

    report_.setStyle(9, 3, 2, 1);
    report_.print("Bias Parameters In Mapping Plane Horizontal System\n");
    report_.setStyle(9, 3, 0, 1);
    report_.print("Rotation angle (seconds)   Value    Sigma\n");
    // Held parameters print their a-priori value.
    static const char* const kLocalFixed[3] = {"  Northing               %7.3f    fixed\n",
                                               "  Easting                %7.3f    fixed\n",
                                               "  Height                 %7.3f    fixed\n"};
    static const char* const kLocalFree[3] = {"  Northing               %7.3f  %7.3f\n",
                                              "  Easting                %7.3f  %7.3f\n",
                                              "  Height                 %7.3f  %7.3f\n"};
    for (int k = 0; k < 3; ++k) {
        report_.setStyle(9, 3, 0, 1);
        if (minimal || settings_.biasFixed[k])
            report_.print(kLocalFixed[k], apriori[k]);
        else
            report_.print(kLocalFree[k], bias[2 * k], bias[2 * k + 1]);
    }
    scaleLine();
    report_.print("\n");
    report_.setStyle(9, 3, 0, 0);
}

}  // namespace torvek
