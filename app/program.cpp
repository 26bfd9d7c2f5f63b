// The program's run from the command line to the exit code, shared by every engine's entry point.
#include "app/program.h"

#include <cstdint>
#include <memory>
#include <new>

#include "app/adjustment_job.h"
#include "app/command_line.h"
#include "engine/float_environment.h"
#include "link/messages.h"
#include "platform/exit_routine.h"
#include "platform/send_message.h"
#include "report/connectivity_section.h"
#include "report/progress_window.h"

namespace {

// The progress endpoint as main took it; the exit routine reads it after main has returned.
std::int32_t progressEndpoint = 0;

// The front end learns that the process is ending: the last message of every run.
void onExit() {
    if (progressEndpoint != 0) {
        torvek::platform::sendMessage(progressEndpoint, torvek::link::Message::kExitNotice, 0);
        progressEndpoint = 0;
    }
}

int runJob(const torvek::CommandLine& line, torvek::NormalSolverFactory solverFactory) {
    std::unique_ptr<torvek::AdjustmentJob> job;
    try {
        job = std::make_unique<torvek::AdjustmentJob>(line.inputPath, line.outputPath,
                                                      line.progressEndpoint, line.reportEndpoint,
                                                      solverFactory);
        if (job->pollAbort(torvek::stage::kStart))
            return 0;
        job->run();
        if (job->refusedSameFile())
            return 1;
        if (!job->connectivityAccepted()) {
            torvek::printConnectivityRefusal(job->report());
            return 0;
        }
        job->printClosingReport();
    } catch (const std::bad_alloc&) {
        // Unwinding has given back what the run held, enough for one report line.
        if (job)
            job->printOutOfMemory();
    } catch (...) {
        // Whatever escaped, the job is destroyed on the way out and writes the output data set.
    }
    return 0;
}

}  // namespace

int torvek::runProgram(int argc, char** argv, NormalSolverFactory solverFactory) {
    torvek::flushSubnormalsToZero();
    torvek::platform::registerExitRoutine(onExit);
    torvek::platform::ignoreBrokenPipes();
    torvek::platform::ignoreFileSizeLimit();
    torvek::CommandLine line = torvek::parseCommandLine(argc, argv);
    if (!line.valid)
        return 1;
    progressEndpoint = line.progressEndpoint;
    return runJob(line, solverFactory);
}
