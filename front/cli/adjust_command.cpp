#include "front/cli/adjust_command.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dataset/adjusted_data_set.h"
#include "front/checks/network_checks.h"
#include "front/cli/progress_bar.h"
#include "front/documents/gis_export.h"
#include "front/documents/grid_coordinates.h"
#include "front/documents/html_page.h"
#include "front/documents/report_document.h"
#include "front/documents/report_rendering.h"
#include "front/documents/report_site_names.h"
#include "front/documents/results_document.h"
#include "front/documents/results_rtf.h"
#include "front/documents/results_summary.h"
#include "front/files/file_output.h"
#include "front/files/run_files.h"
#include "front/import/survey_input.h"
#include "front/project/project_json.h"
#include "front/project/site_name_mapping.h"
#include "front/results/network_results.h"
#include "front/run/link_server.h"

namespace torvek::front {
namespace {

// Ctrl-C presses since the child started: the first asks the program to stop at its next poll,
// the second kills it (for a program that no longer polls).
volatile sig_atomic_t interruptCount = 0;

// The stage code of the poll after a successful adjustment; the program ignores its answer.
constexpr int kFinalStage = 100;

// The scratch copy the program makes in its working directory before a retry
// (AdjustmentJob::kScratchCopyName); the front end runs it in the run folder, where it is removed
// with the folder.
constexpr const char* kProgramScratchCopy = "torvek.tmp";

// Report lines with which the program says that a run adjusted nothing: a failed attempt, an
// abort, a refusal at the connectivity warning, too few sites.
constexpr const char* kNotAdjustedReportLines[] = {
    "Error: Adjustment was not sucessful",
    "Adjustment aborted by user",
    "Adjustment aborted due to Network connectivity test failure.",
    "No adjustment could be performed due to lack of redundancy.",
};

// Report lines with which the program says that its output was not written as it should be: it
// then holds no copy of the network, or not the last one.
constexpr const char* kOutputLostReportLines[] = {
    "Error: Cannot read the input data set",
    "Error: Cannot copy the input data set to",
    "Error: Cannot read the copy of the input data set",
    "Error: Cannot write the output data set",
};

void onInterrupt(int) {
    interruptCount = interruptCount + 1;
}

// Installs the Ctrl-C handler for the lifetime of the run and restores the previous one after.
// Without SA_RESTART, so that a read waiting at the warning-box prompt returns at once.
class InterruptGuard {
  public:
    InterruptGuard() {
        interruptCount = 0;
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        ::sigaction(SIGINT, &action, &previous_);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    ~InterruptGuard() { ::sigaction(SIGINT, &previous_, nullptr); }

  private:
    struct sigaction previous_ {};
};

void say(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Creates the directories above `path` that are missing.
bool makeParentDirectories(const std::string& path, std::string& error) {
    std::size_t at = path.find('/', 1);
    while (at != std::string::npos) {
        const std::string dir = path.substr(0, at);
        if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
            error = dir + ": cannot be created (" + std::strerror(errno) + ")";
            return false;
        }
        at = path.find('/', at + 1);
    }
    return true;
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

// The input data set of the run, built in memory from the project or survey files `inputs`, and
// the full names of its sites. False, after saying why, when they cannot be read or imported.
bool buildInput(const std::vector<std::string>& inputs, const SurveyOptions& survey,
                AdjustedDataSet& input, SiteNameTable& names, DocumentHeader& header) {
    Json document;
    if (!buildInputDataSet(inputs, survey, ImportOptions{}, input, names, &document)) {
        return false;
    }
    printNetworkFindings(input, names);
    header = readDocumentHeader(document);
    return true;
}

// Checks a data set given as the input and reads the full names of its sites from `namesFrom`
// (none: its codes); false, after saying why, when it cannot be read.
bool checkDataSetInput(const std::string& path, const SurveyOptions& survey,
                       const std::vector<std::string>& namesFrom, AdjustedDataSet& input,
                       SiteNameTable& names) {
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
    // A data set from elsewhere may hold names that the program cannot match to their vectors; it
    // runs as given, but the person learns why vectors go missing.
    for (const std::string& name : shortSiteNames(input.sites())) {
        say("warning: site \"" + terminalSafe(name) +
            "\" has fewer than four characters in the data set: torvek will not find its "
            "vectors (export the data set and import it again to pad such names)\n");
    }
    printNetworkFindings(input, names);
    return true;
}

// The files a run puts into place: the output data set, its reports, its files for a GIS and, for
// a project or survey files, the input data set built from them.
struct OutputFiles {
    std::string dataSet;
    std::string rtf;
    std::string html;
    std::string geoJson;
    std::string kml;
    std::string builtInput;  // empty when the input is a data set
};

OutputFiles outputFilesFor(const std::string& output, bool built) {
    return {output,
            replaceExtension(output, ".rtf"),
            replaceExtension(output, ".html"),
            replaceExtension(output, ".geojson"),
            replaceExtension(output, ".kml"),
            built ? replaceExtension(output, "") + ".input.dat" : std::string()};
}

// Reads the input of the run into memory: the given data set, or one built from the project or
// survey files. No output, derived ones included, may replace an input or another output: that is
// refused before anything is read or written. False, after saying why, when there is nothing to
// run.
bool prepareInput(const AdjustOptions& options, const OutputFiles& files, AdjustedDataSet& input,
                  SiteNameTable& names, DocumentHeader& header) {
    std::vector<std::string> inputs{options.input};
    if (!options.secondInput.empty()) {
        inputs.push_back(options.secondInput);
    }
    std::vector<RunFile> outputs = {{files.dataSet, "the output data set"},
                                    {files.rtf, "the RTF report"},
                                    {files.html, "the HTML report"},
                                    {files.geoJson, "the GeoJSON file"},
                                    {files.kml, "the KML file"}};
    if (!files.builtInput.empty()) {
        outputs.push_back({files.builtInput, "the input data set built from the project"});
    }
    std::vector<std::string> read = inputs;
    read.insert(read.end(), options.names.begin(), options.names.end());
    const std::string clash = findPathClash(read, outputs);
    if (!clash.empty()) {
        say("torvek-front: " + clash + "; name another output with -o\n");
        return false;
    }
    if (isDataSetInput(inputs)) {
        return checkDataSetInput(options.input, options.survey, options.names, input, names);
    }
    if (!options.names.empty()) {
        say("torvek-front: --names is for a data set input; a project or survey file names "
            "its sites itself\n");
        return false;
    }
    return buildInput(inputs, options.survey, input, names, header);
}

// What the front end saw and answered while the program ran.
struct RunState {
    ReportDocument document;
    bool abortSent = false;
    int abortStage = -1;  // the stage code of the poll answered with the abort
    bool interruptAnnounced = false;
    bool warningShown = false;
    bool warningAccepted = false;
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
    state.abortStage = stage;
    bar.clear();
    say(std::string("Aborting the adjustment at stage ") + std::to_string(stage) + " (" +
        stageDescription(stage) + ")" +
        (userAsked ? " at your request" : " as asked by --abort-at-stage") + "\n");
    return true;
}

// Shows the warning box and takes its answer from the options, Ctrl-C or the terminal.
bool answerWarningBox(const std::string& text, const std::string& caption,
                      const AdjustOptions& options, ProgressBar& bar, RunState& state) {
    state.warningShown = true;
    bar.clear();
    say("\n*** " + terminalSafe(caption) + " ***\n" + terminalSafe(text) + "\n");
    if (options.warningAnswer != WarningAnswer::kAsk) {
        state.warningAccepted = options.warningAnswer == WarningAnswer::kOk;
        say(state.warningAccepted ? "Answered OK (--warning-answer ok)\n"
                                  : "Answered Cancel (--warning-answer cancel)\n");
    } else if (interruptCount > 0) {
        state.warningAccepted = false;
        say("Answered Cancel (Ctrl-C)\n");
    } else {
        say("Continue with the adjustment? [OK/cancel] ");
        std::string line;
        const bool answered = readAnswerLine(line);
        state.warningAccepted = answered && isOkAnswer(line);
        say(answered ? (state.warningAccepted ? "OK\n" : "Cancel\n") : "\nNo answer: Cancel\n");
    }
    bar.redraw();
    return state.warningAccepted;
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
    return interruptCount > 1;
}

LinkHandlers makeHandlers(const AdjustOptions& options, ProgressBar& bar, RunState& state) {
    LinkHandlers handlers;
    handlers.pollAbort = [&](int stage) { return answerPoll(stage, options, bar, state); };
    handlers.reportPiece = [&state](std::uint32_t dataWord, std::string_view text) {
        state.document.addPiece(dataWord, text);
        return true;
    };
    handlers.warningBox = [&](const std::string& text, const std::string& caption) {
        return answerWarningBox(text, caption, options, bar, state);
    };
    handlers.killRequested = [&]() { return killRequested(bar, state); };
    return handlers;
}

// Runs the program on `input` and `output` with Ctrl-C taken by the front end.
ChildOutcome runChild(const std::string& program, const std::string& input,
                      const std::string& output, const std::string& folder,
                      const LinkHandlers& handlers) {
    InterruptGuard guard;
    return runLinkedChild(program, {input, output}, handlers, folder);
}

void showReport(const ReportDocument& document, ColourChoice colour) {
    const bool colours = colour == ColourChoice::kAlways ||
                         (colour == ColourChoice::kAuto && ::isatty(STDOUT_FILENO) != 0);
    std::fputs(renderTerminal(document, colours, terminalWidth(STDOUT_FILENO)).c_str(), stdout);
    std::fputs("\n", stdout);
}

// The name of an output inside the run folder: its own name, so that the program's report names
// the file the person asked for, unless that is the name of the program's scratch copy, which is
// also made there.
std::string nameInRunFolder(const std::string& path, const std::string& fallback) {
    const std::string name = baseName(path);
    return name == kProgramScratchCopy ? fallback : name;
}

// The files of a run in its folder, and which of them were written.
struct RunOutputs {
    std::string dataSet;
    std::string builtInput;
    bool reportWritten = false;  // the RTF and the HTML file
    bool gisWritten = false;     // the GeoJSON and the KML file
};

bool writeOutput(const std::string& path, const std::string& shownAs, const std::string& text) {
    std::string error;
    if (!writeFileAtomically(path, text, error)) {
        say("torvek-front: cannot write " + shownAs + ": " + error + "\n");
        return false;
    }
    return true;
}

void writeReportFiles(const RunFolder& folder, const OutputFiles& files, const std::string& title,
                      const ReportDocument& document, const ResultsView& view,
                      const std::string& notes, RunOutputs& run) {
    const bool rtf =
        writeOutput(folder.file("report.rtf"), "the report " + files.rtf,
                    renderRtfDocument(buildResultsDocument(title, view), document, notes));
    const bool html = writeOutput(folder.file("report.html"), "the report " + files.html,
                                  renderHtmlPage(title, document, view, notes));
    run.reportWritten = rtf && html;
    const bool geoJson =
        writeOutput(folder.file("report.geojson"), files.geoJson, renderGeoJson(title, view));
    const bool kml = writeOutput(folder.file("report.kml"), files.kml, renderKml(title, view));
    run.gisWritten = geoJson && kml;
}

// Puts the run's files into place; false, after saying why, when a move fails.
bool placeOutputs(const RunFolder& folder, const OutputFiles& files, RunOutputs& run) {
    std::vector<std::pair<std::string, std::string>> moves = {{run.dataSet, files.dataSet}};
    if (!files.builtInput.empty()) {
        moves.emplace_back(run.builtInput, files.builtInput);
    }
    if (run.reportWritten) {
        moves.emplace_back(folder.file("report.rtf"), files.rtf);
        moves.emplace_back(folder.file("report.html"), files.html);
    }
    if (run.gisWritten) {
        moves.emplace_back(folder.file("report.geojson"), files.geoJson);
        moves.emplace_back(folder.file("report.kml"), files.kml);
    }
    bool placed = true;
    for (const auto& [from, to] : moves) {
        std::string error;
        if (!moveIntoPlace(from, to, error)) {
            say("torvek-front: " + error + "\n");
            placed = false;
        }
    }
    return placed;
}

void printSummary(const ResultsView& view, const OutputFiles& files, bool placed,
                  const RunOutputs& run) {
    std::fputs(terminalSafe(formatResultsSummary(view)).c_str(), stdout);
    if (placed) {
        std::fprintf(stdout, "\nOutput data set: %s\n", files.dataSet.c_str());
    }
    if (placed && run.reportWritten) {
        std::fprintf(stdout, "Report: %s and %s\n", files.rtf.c_str(), files.html.c_str());
    }
    if (placed && run.gisWritten) {
        std::fprintf(stdout, "For a GIS: %s and %s\n", files.geoJson.c_str(), files.kml.c_str());
    }
    std::fflush(stdout);
}

// True when the report holds one of `lines`.
template <std::size_t N>
bool reportHolds(const ReportDocument& document, const char* const (&lines)[N]) {
    const std::string text = document.plainText();
    for (const char* line : lines) {
        if (text.find(line) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// True when the run got to its end by itself, adjusted or with a failed adjustment, and its
// output holds the network it was given: not aborted, cancelled, crashed or killed, and no file
// fault (a full disk, say) left it without its output. Only such a run replaces the outputs of
// the earlier one.
bool reachedItsEnd(const ChildOutcome& outcome, const RunState& state, bool outputRead,
                   const AdjustedDataSet& output, const AdjustedDataSet& input) {
    return outcome.completed() && !state.abortSent &&
           !(state.warningShown && !state.warningAccepted) && outputRead &&
           output.siteCount() == input.siteCount() && output.vectorCount() == input.vectorCount() &&
           !reportHolds(state.document, kOutputLostReportLines);
}

// Writes the input of the run into its folder with every result field cleared, so that whatever
// the program's output holds afterwards was written by this run. False, after saying why, when
// that fails.
bool writeRunInput(const AdjustedDataSet& input, const std::string& path) {
    DataSetContents prepared;
    bool written = decodeDataSet(input.writeImage(), prepared);
    if (written) {
        clearRunResults(prepared);
        written = writeDataSetFile(path, prepared);
    }
    if (!written) {
        say("torvek-front: " + path + ": cannot be written\n");
    }
    return written;
}

// Opens the grid system asked for, choosing a UTM zone from the input's positions; false, after
// saying why, when PROJ cannot provide it.
bool openGridSystem(const std::string& crs, const AdjustedDataSet& input, GridSystem& grid) {
    std::string error;
    if (grid.open(crs, networkPlace(collectResults(input)), error)) {
        return true;
    }
    say("torvek-front: --crs: " + error + "\n");
    return false;
}

// The exit code of the run, with a line on why the adjustment was not made when it was stopped.
int exitCodeFor(const ChildOutcome& outcome, const RunState& state, const NetworkResults& summary) {
    if (!outcome.completed()) {
        return kExitChildFailed;
    }
    if (state.abortSent) {
        say("The adjustment was aborted at stage " + std::to_string(state.abortStage) + ".\n");
        return kExitNotAdjusted;
    }
    if (state.warningShown && !state.warningAccepted) {
        say("The adjustment was cancelled at the connectivity warning.\n");
        return kExitNotAdjusted;
    }
    return summary.succeeded ? kExitSucceeded : kExitNotAdjusted;
}

}  // namespace

int runAdjust(const AdjustOptions& options) {
    const std::string output = options.output.empty()
                                   ? replaceExtension(options.input, "") + "-adjusted.dat"
                                   : options.output;
    std::vector<std::string> inputs{options.input};
    if (!options.secondInput.empty()) {
        inputs.push_back(options.secondInput);
    }
    const OutputFiles files = outputFilesFor(output, !isDataSetInput(inputs));
    AdjustedDataSet input;
    SiteNameTable names;
    DocumentHeader header;
    if (!prepareInput(options, files, input, names, header)) {
        return kExitBadInput;
    }
    GridSystem grid;
    if (!options.crs.empty() && !openGridSystem(options.crs, input, grid)) {
        return kExitBadInput;
    }
    // Folders are made only for a run that will start.
    std::string error;
    RunFolder folder;
    if (!makeParentDirectories(output, error) || !folder.create(output, error)) {
        say("torvek-front: " + error + "\n");
        return kExitBadInput;
    }
    RunFolder::removeStale(output);
    RunOutputs run{
        folder.file(nameInRunFolder(output, "output.dat")),
        folder.file(nameInRunFolder(replaceExtension(output, "") + ".input.dat", "input.dat"))};
    if (!writeRunInput(input, run.builtInput)) {
        return kExitBadInput;
    }

    const int sites = options.engine == EngineChoice::kAuto ? sitesInUse(input) : 0;
    const bool large = chooseEngine(options.engine, sites) == EngineChoice::kLarge;
    if (large) {
        say(options.engine == EngineChoice::kLarge
                ? "torvek-front: running torvek-large, the sparse engine (--engine large)\n"
                : "torvek-front: " + std::to_string(sites) + " sites in use, more than torvek's " +
                      std::to_string(kStandardEngineSiteLimit) +
                      ": running torvek-large, the sparse engine\n");
    }
    const std::string programName = large ? "torvek-large" : "torvek";
    ProgressBar bar(STDERR_FILENO, ::isatty(STDERR_FILENO) != 0);
    RunState state;
    const ChildOutcome outcome =
        runChild(large ? locateLargeProgram(options.program) : locateProgram(options.program),
                 run.builtInput, run.dataSet, folder.path(), makeHandlers(options, bar, state));
    bar.clear();
    if (!outcome.started) {
        say("torvek-front: " + outcome.describe(programName) +
            (large ? "\n(build it, give its path with --program, or set TORVEK_LARGE_BINARY)\n"
                   : "\n(build it, give its path with --program, or set TORVEK_BINARY)\n"));
        return kExitChildFailed;
    }

    std::string notes = outcome.notes("torvek");
    showFullSiteNames(state.document, names);
    if (options.showReport) {
        showReport(state.document, options.colour);
    }
    AdjustedDataSet results;
    const bool outputRead = results.readFile(run.dataSet);
    if (!outputRead) {
        notes += "The output data set of the run could not be read.\n";
    }
    // The run is judged by what it wrote: its flag (its input had none) and its report.
    if (results.adjustmentRecordCount() > 0 &&
        reportHolds(state.document, kNotAdjustedReportLines)) {
        results.setAdjustmentSucceeded(0);
    }
    const ResultsView view =
        makeResultsView(collectResults(results, names), header, &grid, options.plot);
    const bool finished = reachedItsEnd(outcome, state, outputRead, results, input);
    bool placed = false;
    if (finished) {
        writeReportFiles(folder, files, "torvek adjustment of " + baseName(options.input),
                         state.document, view, notes, run);
        placed = placeOutputs(folder, files, run);
    }
    printSummary(view, files, placed, run);
    if (!notes.empty()) {
        say("torvek-front: " + terminalSafe(notes));
    }
    if (!finished) {
        say("The run did not reach its end with its output: the outputs of any earlier run (" +
            files.dataSet + " and its reports) are left as they were.\n");
    }
    const int code = exitCodeFor(outcome, state, view.results);
    const bool writeFailed = finished && (!placed || !run.reportWritten || !run.gisWritten);
    return code == kExitSucceeded && writeFailed ? kExitWriteFailed : code;
}

}  // namespace torvek::front
