// The program's run from the command line to the exit code, shared by every engine's entry point.
#include "app/program.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/adjustment_job.h"
#include "app/command_line.h"
#include "app/model_options.h"
#include "app/statistics_file.h"
#include "engine/float_environment.h"
#include "link/messages.h"
#include "platform/exit_routine.h"
#include "platform/full_path.h"
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

// The rigorous model's statistics file of a run that stored its results; an error line when it
// cannot be written.
void writeStatistics(torvek::AdjustmentJob& job, const torvek::ModelOptions& options) {
    if (options.statisticsPath == nullptr || !job.adjusted())
        return;
    if (torvek::writeFileAtomically(options.statisticsPath, torvek::statisticsDocument(job)))
        return;
    job.report().setStyle(torvek::style::kError);
    job.report().print("Error: Cannot write the statistics file %s\n", options.statisticsPath);
    job.report().setStyle(torvek::style::kBody);
}

int runJob(const torvek::CommandLine& line, torvek::NormalSolverFactory solverFactory,
           const torvek::ModelOptions& options = {}) {
    std::unique_ptr<torvek::AdjustmentJob> job;
    try {
        job = std::make_unique<torvek::AdjustmentJob>(line.inputPath, line.outputPath,
                                                      line.progressEndpoint, line.reportEndpoint,
                                                      solverFactory);
        job->setModelOptions(options);
        if (job->pollAbort(torvek::stage::kStart))
            return 0;
        job->run();
        writeStatistics(*job, options);
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

int torvek::runProgramWithOptions(int argc, char** argv, NormalSolverFactory solverFactory) {
    ModelOptions options;
    int next = 1;
    std::string error;
    if (!parseModelOptions(argc, argv, options, next, error)) {
        std::fputs(error.c_str(), stderr);
        return 1;
    }
    // The positional arguments as runProgram reads them, after the program's name.
    std::vector<char*> rest = {argv[0]};
    for (int k = next; k < argc; ++k)
        rest.push_back(argv[k]);
    rest.push_back(nullptr);
    const int restCount = static_cast<int>(rest.size()) - 1;
    CommandLine line = parseCommandLine(restCount, rest.data());
    if (line.valid && options.statisticsPath != nullptr) {
        char statistics[platform::kMaxPath], input[platform::kMaxPath], output[platform::kMaxPath];
        platform::fullPath(options.statisticsPath, statistics, sizeof statistics);
        platform::fullPath(line.inputPath, input, sizeof input);
        platform::fullPath(line.outputPath, output, sizeof output);
        if (statistics[0] == '\0' || std::strcmp(statistics, input) == 0 ||
            std::strcmp(statistics, output) == 0) {
            std::fputs("Error: The statistics file must be another file than the data sets\n",
                       stderr);
            return 1;
        }
    }
    if (!options.rigorous && options.statisticsPath == nullptr)
        return runProgram(restCount, rest.data(), solverFactory);
    flushSubnormalsToZero();
    platform::registerExitRoutine(onExit);
    platform::ignoreBrokenPipes();
    platform::ignoreFileSizeLimit();
    if (!line.valid)
        return 1;
    progressEndpoint = line.progressEndpoint;
    return runJob(line, solverFactory, options);
}
