// Entry point of the adjustment program: `torvek INPUT OUTPUT [PROGRESS REPORT]`.
#include <cstdint>
#include <memory>

#include "app/adjustment_job.h"
#include "app/command_line.h"
#include "engine/float_environment.h"
#include "platform/exit_routine.h"
#include "platform/link_frame.h"
#include "report/progress_window.h"

namespace {

// The progress endpoint as main took it; the exit routine reads it after main has returned.
std::int32_t progressWindow = 0;

// The front end learns that the process is ending: the last message of every run.
void onExit() {
    if (progressWindow != 0) {
        torvek::platform::sendMessage(progressWindow, torvek::platform::kMessageExitNotice, 0);
        progressWindow = 0;
    }
}

int runJob(const torvek::CommandLine& line) {
    std::unique_ptr<torvek::AdjustmentJob> job;
    try {
        job = std::make_unique<torvek::AdjustmentJob>(line.inputPath, line.outputPath,
                                                      line.progressWindow, line.reportWindow);
        if (job->pollAbort(torvek::stage::kStart))
            return 0;
        job->run();
        if (job->refusedSameFile())
            return 1;
        if (!job->connectivityAccepted()) {
            job->report().setStyle(9, 3, 1, 0);
            job->report().print("\nAdjustment aborted due to Network connectivity test failure.\n");
            job->report().setStyle(9, 3, 0, 0);
            return 0;
        }
        job->printClosingReport();
    } catch (...) {
        // Whatever escaped, the job is destroyed on the way out and writes the output data set.
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    torvek::flushSubnormalsToZero();
    torvek::platform::registerExitRoutine(onExit);
    torvek::platform::ignoreBrokenPipes();
    torvek::CommandLine line = torvek::parseCommandLine(argc, argv);
    if (!line.valid)
        return 1;
    progressWindow = line.progressWindow;
    return runJob(line);
}
