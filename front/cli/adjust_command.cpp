#include "front/cli/adjust_command.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dataset/adjusted_data_set.h"
#include "front/checks/network_checks.h"
#include "front/cli/progress_bar.h"
#include "front/documents/grid_coordinates.h"
#include "front/documents/report_document.h"
#include "front/documents/report_rendering.h"
#include "front/documents/results_document.h"
#include "front/documents/results_summary.h"
#include "front/files/file_output.h"
#include "front/files/run_files.h"
#include "front/import/survey_input.h"
#include "front/project/project_json.h"
#include "front/project/site_name_file.h"
#include "front/project/site_name_mapping.h"
#include "front/results/network_results.h"
#include "front/run/run_service.h"
#include "front/run/stage_progress.h"
#include "front/text/messages.h"

namespace torvek::front {
namespace {

// Ctrl-C presses since the child started: the first asks the program to stop at its next poll,
// the second kills it (for a program that no longer polls).
volatile sig_atomic_t interruptCount = 0;

// Presses that count as the second: the child is then killed.
constexpr sig_atomic_t kKillRequested = 2;

void onInterrupt(int) {
    interruptCount = interruptCount + 1;
}

// SIGTERM and SIGHUP (a closed terminal, a service manager stopping the front end) end the child
// as a second Ctrl-C does, instead of leaving it to run on without anyone to answer its polls.
void onTerminate(int) {
    interruptCount = kKillRequested;
}

// Installs the handlers of Ctrl-C, SIGTERM and SIGHUP for the lifetime of the run and restores
// the previous ones after. Without SA_RESTART, so that a read waiting at the warning-box prompt
// returns at once.
class InterruptGuard {
  public:
    InterruptGuard() {
        interruptCount = 0;
        install(SIGINT, onInterrupt, previousInterrupt_);
        install(SIGTERM, onTerminate, previousTerminate_);
        install(SIGHUP, onTerminate, previousHangUp_);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    ~InterruptGuard() {
        ::sigaction(SIGINT, &previousInterrupt_, nullptr);
        ::sigaction(SIGTERM, &previousTerminate_, nullptr);
        ::sigaction(SIGHUP, &previousHangUp_, nullptr);
    }

  private:
    static void install(int signal, void (*handler)(int), struct sigaction& previous) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        ::sigaction(signal, &action, &previous);
    }

    struct sigaction previousInterrupt_ {};
    struct sigaction previousTerminate_ {};
    struct sigaction previousHangUp_ {};
};

void say(const std::string& text) {
    printMessage(text);
}

// One line from standard input, read byte by byte so that nothing after it is consumed. False on
// end of input, a read error or Ctrl-C.
bool readAnswerLine(std::string& line) {
    line.clear();
    for (;;) {
        char c = 0;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0) {
            return false;  // EINTR from Ctrl-C counts as no answer
        }
        if (got == 0) {
            return !line.empty();
        }
        if (c == '\n') {
            return true;
        }
        if (line.size() < 256) {
            line += c;
        }
    }
}

// The answers the program itself takes on its terminal for OK: empty, ok, o, y, yes.
bool isOkAnswer(std::string answer) {
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) {
        answer.pop_back();
    }
    while (!answer.empty() && answer.front() == ' ') {
        answer.erase(answer.begin());
    }
    for (char& c : answer) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return answer.empty() || answer == "ok" || answer == "o" || answer == "y" || answer == "yes";
}

int terminalWidth(int fd) {
    winsize size{};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) {
        return size.ws_col;
    }
    return 80;
}

// Text from outside (the child's output, names) shown on the terminal: control characters other
// than line feed and tab become '?'.
std::string terminalSafe(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const unsigned char u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\n' && c != '\t') || u == 0x7f) {
            c = '?';
        }
    }
    return out;
}

// What a project chooses for its run beside its network: the model, the frame of its coordinates.
struct ProjectChoices {
    std::optional<AdjustmentModel> model;
    ProjectFrame frame;
};

// The input data set of the run, built in memory from the project or survey files `inputs`, and
// the full names of its sites. False, after saying why, when they cannot be read or imported.
bool buildInput(const std::vector<std::string>& inputs, const SurveyOptions& survey,
                const ImportOptions& importOptions, RunRequest& request, ProjectChoices& project) {
    Json document;
    if (!buildInputDataSet(inputs, survey, importOptions, request.input, request.names,
                           &document)) {
        return false;
    }
    if (request.clock != nullptr) {
        request.clock->mark("import");
    }
    printNetworkFindings(request.input, request.names);
    request.header = readDocumentHeader(document);
    project.model = projectAdjustmentModel(document);
    project.frame = projectFrame(document);
    return true;
}

// Checks a data set given as the input and reads the full names of its sites from `namesFrom`
// (none: the names file beside it, else its codes); false, after saying why, when it cannot be
// read.
bool checkDataSetInput(const std::string& path, const SurveyOptions& survey,
                       const std::vector<std::string>& namesFrom, AdjustedDataSet& input,
                       SiteNameTable& names, PhaseClock* clock) {
    std::string error;
    if (!namesFrom.empty() && !readSiteNames(namesFrom, survey, names, error)) {
        say("torvek-front: --names: " + error + "\n");
        return false;
    }
    if (survey.covarianceUnit && namesFrom.empty()) {
        say("torvek-front: " + path +
            ": a data set holds its covariances in m2; --covariance-unit is for survey files\n");
        return false;
    }
    if (!input.readFile(path)) {
        say("torvek-front: " + path + ": cannot be read as a data set\n");
        return false;
    }
    const std::string truncated = truncationWarning(path, input);
    if (!truncated.empty()) {
        say("warning: " + truncated + "\n");
    }
    // Without --names, the names the front end kept beside the data set when it built it.
    if (namesFrom.empty() &&
        readSiteNamesFile(siteNamesPath(path), input, names, error) == SiteNamesFound::kUnusable) {
        say("warning: " + error + "; the sites are shown by their codes\n");
    }
    // A data set from elsewhere may hold names that the program cannot match to their vectors; it
    // runs as given, but the person learns why vectors go missing.
    std::vector<std::string> shortNames;
    for (const std::string& name : shortSiteNames(input.sites())) {
        shortNames.push_back("site \"" + name +
                             "\" has fewer than four characters in the data set: torvek will not "
                             "find its vectors (export the data set and import it again to pad "
                             "such names)");
    }
    printMessages("warning: ", shortNames);
    if (clock != nullptr) {
        clock->mark("import");
    }
    printNetworkFindings(input, names);
    return true;
}

// Reads the input of the run into memory: the given data set, or one built from the project or
// survey files. No output, derived ones included, may replace an input or another output: that is
// refused before anything is read or written. False, after saying why, when there is nothing to
// run.
bool prepareInput(const AdjustOptions& options, const RunFilePaths& files, RunRequest& request,
                  ProjectChoices& project) {
    std::vector<std::string> inputs{options.input};
    inputs.insert(inputs.end(), options.moreInputs.begin(), options.moreInputs.end());
    const std::vector<RunFile> outputs = runFiles(files);
    std::vector<std::string> read = inputs;
    read.insert(read.end(), options.names.begin(), options.names.end());
    const std::string clash = findPathClash(read, outputs);
    if (!clash.empty()) {
        say("torvek-front: " + clash + "; name another output with -o\n");
        return false;
    }
    if (isDataSetInput(inputs)) {
        return checkDataSetInput(options.input, options.survey, options.names, request.input,
                                 request.names, request.clock);
    }
    if (!options.names.empty()) {
        say("torvek-front: --names is for a data set input; a project or survey file names "
            "its sites itself\n");
        return false;
    }
    // A pre-analysis adds the project's planned vectors, with the sigma model where they give no
    // covariance.
    ImportOptions importOptions;
    importOptions.withPlanned = options.preanalysis;
    std::string error;
    if (!options.sigmaModel.empty() &&
        !parseSigmaModel(options.sigmaModel, importOptions.sigmaModel, error)) {
        say("torvek-front: --sigma-model: " + error + "\n");
        return false;
    }
    return buildInput(inputs, options.survey, importOptions, request, project);
}

// What the front end answered while the program ran.
struct RunState {
    bool abortSent = false;
    bool interruptAnnounced = false;
};

// Answers an abort poll: true once the person pressed Ctrl-C or `--abort-at-stage` is reached.
bool answerPoll(int stage, const AdjustOptions& options, ProgressBar& bar, RunState& state) {
    bar.show(stage);
    if (stage == kFinalStage) {
        return false;  // the answer to the last poll is ignored
    }
    if (state.abortSent) {
        return true;
    }
    const bool userAsked = interruptCount > 0;
    if (!userAsked && stage != options.abortAtStage) {
        return false;
    }
    state.abortSent = true;
    bar.clear();
    say(std::string("Aborting the adjustment at stage ") + std::to_string(stage) + " (" +
        stageDescription(stage) + ")" +
        (userAsked ? " at your request" : " as asked by --abort-at-stage") + "\n");
    return true;
}

// Shows the warning box and takes its answer from the options, Ctrl-C or the terminal.
bool answerWarningBox(const std::string& text, const std::string& caption,
                      const AdjustOptions& options, ProgressBar& bar) {
    bar.clear();
    bool accepted = false;
    say("\n*** " + terminalSafe(caption) + " ***\n" + terminalSafe(text) + "\n");
    if (options.warningAnswer != WarningAnswer::kAsk) {
        accepted = options.warningAnswer == WarningAnswer::kOk;
        say(accepted ? "Answered OK (--warning-answer ok)\n"
                     : "Answered Cancel (--warning-answer cancel)\n");
    } else if (interruptCount > 0) {
        say("Answered Cancel (Ctrl-C)\n");
    } else {
        say("Continue with the adjustment? [OK/cancel] ");
        std::string line;
        const bool answered = readAnswerLine(line);
        accepted = answered && isOkAnswer(line);
        say(answered ? (accepted ? "OK\n" : "Cancel\n") : "\nNo answer: Cancel\n");
    }
    bar.redraw();
    return accepted;
}

// True once Ctrl-C was pressed twice; the first press is announced once.
bool killRequested(ProgressBar& bar, RunState& state) {
    if (interruptCount > 0 && !state.interruptAnnounced) {
        state.interruptAnnounced = true;
        bar.clear();
        say("Ctrl-C: the adjustment stops at its next progress poll (press Ctrl-C again to "
            "kill torvek)\n");
        bar.redraw();
    }
    return interruptCount >= kKillRequested;
}

void announceEngine(const EngineDecision& engine) {
    if (!engine.large) {
        return;
    }
    if (engine.byModel) {
        say("torvek-front: the rigorous model: running torvek-large, the sparse engine\n");
        return;
    }
    say(engine.asked == EngineChoice::kLarge
            ? "torvek-front: running torvek-large, the sparse engine (--engine large)\n"
            : "torvek-front: " + std::to_string(engine.sitesInUse) +
                  " sites in use, more than torvek's " + std::to_string(kStandardEngineSiteLimit) +
                  ": running torvek-large, the sparse engine\n");
}

RunCallbacks makeCallbacks(const AdjustOptions& options, ProgressBar& bar, RunState& state) {
    RunCallbacks callbacks;
    callbacks.engineChosen = [](const EngineDecision& engine) { announceEngine(engine); };
    callbacks.link.pollAbort = [&](int stage) { return answerPoll(stage, options, bar, state); };
    callbacks.link.warningBox = [&](const std::string& text, const std::string& caption) {
        return answerWarningBox(text, caption, options, bar);
    };
    callbacks.link.killRequested = [&]() { return killRequested(bar, state); };
    return callbacks;
}

void showReport(const ReportDocument& document, ColourChoice colour) {
    const bool colours = colour == ColourChoice::kAlways ||
                         (colour == ColourChoice::kAuto && ::isatty(STDOUT_FILENO) != 0);
    std::fputs(renderTerminal(document, colours, terminalWidth(STDOUT_FILENO)).c_str(), stdout);
    std::fputs("\n", stdout);
}

void printSummary(const RunResult& run) {
    const RunFilePaths& files = run.files;
    std::fputs(terminalSafe(formatResultsSummary(run.view)).c_str(), stdout);
    if (run.placed) {
        std::fprintf(stdout, "\nOutput data set: %s\n", files.dataSet.c_str());
    }
    if (run.placed && run.reportWritten) {
        std::fprintf(stdout, "Report: %s and %s\n", files.rtf.c_str(), files.html.c_str());
    }
    if (run.placed && run.gisWritten) {
        std::fprintf(stdout, "For a GIS: %s and %s\n", files.geoJson.c_str(), files.kml.c_str());
    }
    std::fflush(stdout);
}

// The frame of the run's coordinates: --frame and --epoch, each over the project's setting.
CoordinateFrame frameForRun(const CoordinateFrame& asked, const ProjectFrame& project) {
    CoordinateFrame frame = asked;
    if (frame.crs.empty() && !project.crs.empty()) {
        frame.crs = project.crs;
    }
    if (std::isnan(frame.epoch) && project.epoch) {
        frame.epoch = *project.epoch;
    }
    return frame;
}

// Opens the grid system asked for, choosing a UTM zone from the input's positions, from the
// frame of its coordinates; false, after saying why, when PROJ cannot provide it.
bool openGridSystem(const std::string& crs, const CoordinateFrame& frame,
                    const AdjustedDataSet& input, GridSystem& grid) {
    std::string error;
    if (grid.open(crs, networkPlace(collectResults(input)), frame, error)) {
        return true;
    }
    say("torvek-front: --crs: " + error + "\n");
    return false;
}

// The exit code of the run, with a line on why the adjustment was not made when it was stopped.
int exitCodeFor(const RunResult& run) {
    if (!run.child.completed()) {
        return kExitChildFailed;
    }
    if (run.aborted()) {
        say("The adjustment was aborted at stage " + std::to_string(run.abortStage) + ".\n");
        return kExitNotAdjusted;
    }
    if (run.cancelledAtWarning()) {
        say("The adjustment was cancelled at the connectivity warning.\n");
        return kExitNotAdjusted;
    }
    if (!run.view.results.succeeded) {
        return kExitNotAdjusted;
    }
    if (run.outOfMemory) {
        say("torvek-front: not enough memory for every output of the run: none was put in "
            "place\n");
        return kExitOutOfMemory;
    }
    // Every problem of the run (an output not written or placed, statistics that could not be
    // read) makes it a failed write, never a success.
    const bool writeFailed =
        !run.placed || !run.reportWritten || !run.gisWritten || !run.problems.empty();
    return writeFailed ? kExitWriteFailed : kExitSucceeded;
}

// The model of the run and its options: --model, else the project's, else the default. False,
// after saying why, when an option of the rigorous model is given for the classic one or a
// tolerance cannot be read.
bool chooseModel(const AdjustOptions& options, std::optional<AdjustmentModel> projectModel,
                 RunChoices& choices) {
    choices.model = modelForRun(options.model, projectModel);
    const bool rigorousOptions =
        options.snoopRounds > 0 || options.scaleByAposteriori || !options.relativeTolerance.empty();
    if (choices.model != AdjustmentModel::kRigorous && rigorousOptions) {
        say("torvek-front: --snoop, --scale-by and --relative-tolerance are options of the "
            "rigorous "
            "model, and this run uses the classic one\n");
        return false;
    }
    if (options.preanalysis && choices.model != AdjustmentModel::kRigorous) {
        say("torvek-front: --preanalysis needs the rigorous model: the classic model has no "
            "pre-analysis (use --model rigorous)\n");
        return false;
    }
    if (!options.sigmaModel.empty() && !options.preanalysis) {
        say("torvek-front: --sigma-model gives the sigmas of planned vectors: it needs "
            "--preanalysis\n");
        return false;
    }
    if (options.preanalysis && (options.snoopRounds > 0 || options.scaleByAposteriori)) {
        say("torvek-front: --preanalysis takes neither --snoop nor --scale-by aposteriori: "
            "planned vectors have no residuals\n");
        return false;
    }
    choices.preanalysis = options.preanalysis;
    choices.snoopRounds = options.snoopRounds;
    choices.scaleByAposteriori = options.scaleByAposteriori;
    if (!options.relativeTolerance.empty()) {
        RelativeTolerance tolerance;
        std::string error;
        if (!parseRelativeTolerance(options.relativeTolerance, tolerance, error)) {
            say("torvek-front: --relative-tolerance: " + error + "\n");
            return false;
        }
        choices.relativeTolerance = tolerance;
    }
    return true;
}

// The request of the run that `options` describe: its input read, its grid system opened. False,
// after saying why, when there is nothing to run.
bool makeRequest(const AdjustOptions& options, RunRequest& request, GridSystem& grid) {
    std::vector<std::string> inputs{options.input};
    inputs.insert(inputs.end(), options.moreInputs.begin(), options.moreInputs.end());
    request.output = options.output.empty() ? replaceExtension(options.input, "") + "-adjusted.dat"
                                            : options.output;
    request.keepInput = !isDataSetInput(inputs);
    request.sourceName = options.input;
    request.plot = options.plot;
    request.choices.program = options.program;
    request.choices.engine = options.engine;
    ProjectChoices project;
    // Every file the run may write is kept apart from the inputs, the statistics file included.
    if (!prepareInput(options, runFilePaths(request.output, request.keepInput, false, true),
                      request, project)) {
        return false;
    }
    if (!chooseModel(options, project.model, request.choices)) {
        return false;
    }
    if (!options.crs.empty()) {
        const std::string frameProblemText = options.frame.crs.empty() && !project.frame.crs.empty()
                                                 ? frameProblem(project.frame.crs)
                                                 : std::string();
        if (!frameProblemText.empty()) {
            say("torvek-front: " + options.input + ": settings.frame: " + frameProblemText + "\n");
            return false;
        }
        if (!openGridSystem(options.crs, frameForRun(options.frame, project.frame), request.input,
                            grid)) {
            return false;
        }
        request.grid = &grid;
    }
    return true;
}

// Room the standard output is given when it is a pipe: a large network's report and summary
// (150 KB for the national network) then go out without waiting for the reader to take each
// 64 KB (Linux's default pipe capacity); 1 MB is the most an unprivileged process may ask for
// (/proc/sys/fs/pipe-max-size).
constexpr int kStandardOutputPipeBytes = 1 << 20;

// Gives a standard output that is a pipe kStandardOutputPipeBytes of room; nothing changes when
// it is no pipe or the system refuses.
void widenOutputPipe() {
    struct stat info {};
    if (::fstat(STDOUT_FILENO, &info) == 0 && S_ISFIFO(info.st_mode)) {
        ::fcntl(STDOUT_FILENO, F_SETPIPE_SZ, kStandardOutputPipeBytes);
    }
}

// Tells the person what the run left: its report, summary, notes and problems.
void reportRun(const AdjustOptions& options, const RunResult& run) {
    widenOutputPipe();
    if (options.showReport) {
        showReport(run.report, options.colour);
    }
    for (const std::string& problem : run.problems) {
        say("torvek-front: " + problem + "\n");
    }
    printSummary(run);
    if (!run.notes.empty()) {
        say("torvek-front: " + terminalSafe(run.notes));
    }
    if (!run.finished) {
        say("The run did not reach its end with its output: the outputs of any earlier run (" +
            run.files.dataSet + " and its reports) are left as they were.\n");
    }
}

}  // namespace

int runAdjust(const AdjustOptions& options) {
    RunRequest request;
    PhaseClock clock;
    request.clock = &clock;
    GridSystem grid;
    if (!makeRequest(options, request, grid)) {
        return kExitBadInput;
    }
    clock.mark("checks");
    ProgressBar bar(STDERR_FILENO, ::isatty(STDERR_FILENO) != 0);
    RunState state;
    RunResult run;
    {
        InterruptGuard guard;  // Ctrl-C is taken by the front end while the child runs
        run = runAdjustment(request, makeCallbacks(options, bar, state));
    }
    bar.clear();
    if (!run.error.empty()) {
        say("torvek-front: " + run.error + "\n");
        return run.outputBusy ? kExitOutputBusy : kExitBadInput;
    }
    if (!run.child.started) {
        say("torvek-front: " + run.child.describe(run.engine.name) +
            (run.engine.large
                 ? "\n(build it, give its path with --program, or set TORVEK_LARGE_BINARY)\n"
                 : "\n(build it, give its path with --program, or set TORVEK_BINARY)\n"));
        return kExitChildFailed;
    }
    reportRun(options, run);
    clock.mark("terminal");
    if (options.timings) {
        say(formatPhaseTimes(clock.phases(), run.engine.name, run.child.peakKilobytes));
    }
    return exitCodeFor(run);
}

}  // namespace torvek::front
