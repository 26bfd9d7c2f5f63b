#include "front/run/run_service.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

#include "front/documents/csv_export.h"
#include "front/documents/gis_export.h"
#include "front/documents/html_page.h"
#include "front/documents/report_site_names.h"
#include "front/documents/results_rtf.h"
#include "front/documents/rigorous_tables.h"
#include "front/files/file_output.h"
#include "front/project/site_name_file.h"
#include "front/results/network_results.h"
#include "front/run/stage_progress.h"

namespace torvek::front {
namespace {

// The scratch copy the program makes in its working directory before a retry
// (AdjustmentJob::kScratchCopyName); it is removed with the run folder.
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

// The name of an output inside the run folder: its own name, so that the program's report names
// the file the person asked for, unless that is the name of the program's scratch copy, which is
// also made there.
std::string nameInRunFolder(const std::string& path, const std::string& fallback) {
    const std::string name = baseName(path);
    return name == kProgramScratchCopy ? fallback : name;
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

// Writes the input of the run into its folder with every result field cleared, so that whatever
// the program's output holds afterwards was written by this run.
bool writeRunInput(const AdjustedDataSet& input, const std::string& path) {
    DataSetContents prepared = input.contents();
    clearRunResults(prepared);
    return writeDataSetFile(path, prepared);
}

// The files of a run in its folder.
struct FolderFiles {
    std::string path;  // the run folder
    std::string input;
    std::string output;
    std::string rtf, html, geoJson, kml, csv;
    std::string programStatistics;  // as the program writes it, with the sites' codes
    std::string statistics;         // as the person gets it, with full names
    std::string names;              // the full names of the sites, for export
};

FolderFiles folderFiles(const RunFolder& folder, const std::string& output) {
    return {folder.path(),
            folder.file(nameInRunFolder(replaceExtension(output, "") + ".input.dat", "input.dat")),
            folder.file(nameInRunFolder(output, "output.dat")),
            folder.file("report.rtf"),
            folder.file("report.html"),
            folder.file("report.geojson"),
            folder.file("report.kml"),
            folder.file("report.csv"),
            folder.file("program-statistics.json"),
            folder.file("report.statistics.json"),
            folder.file("report.names.json")};
}

// What the service records of the link besides what the front end answers.
struct LinkRecord {
    ReportDocument report;
    int abortStage = -1;
    bool warningShown = false;
    bool warningAccepted = false;
};

LinkHandlers recordingHandlers(const LinkHandlers& given, LinkRecord& record) {
    LinkHandlers handlers = given;
    handlers.pollAbort = [&given, &record](int stage) {
        const bool abort = given.pollAbort && given.pollAbort(stage);
        if (abort && stage != kFinalStage && record.abortStage < 0) {
            record.abortStage = stage;
        }
        return abort;
    };
    handlers.reportPiece = [&given, &record](std::uint32_t dataWord, std::string_view text) {
        record.report.addPiece(dataWord, text);
        return given.reportPiece ? given.reportPiece(dataWord, text) : true;
    };
    handlers.warningBox = [&given, &record](const std::string& text, const std::string& caption) {
        record.warningShown = true;
        record.warningAccepted = given.warningBox && given.warningBox(text, caption);
        return record.warningAccepted;
    };
    return handlers;
}

// True when the run got to its end by itself, adjusted or with a failed adjustment, and its
// output holds the network it was given: not aborted, cancelled, crashed or killed, and no file
// fault (a full disk, say) left it without its output. Only such a run replaces the outputs of
// the earlier one.
bool reachedItsEnd(const RunResult& run, const AdjustedDataSet& input) {
    return run.child.completed() && !run.aborted() && !run.cancelledAtWarning() && run.outputRead &&
           run.output.siteCount() == input.siteCount() &&
           run.output.vectorCount() == input.vectorCount() &&
           !reportHolds(run.report, kOutputLostReportLines);
}

// One output of the run: whether it was written, and why not.
struct Written {
    bool ok = false;
    bool outOfMemory = false;
    std::string problem;
};

// Renders a document piece by piece and writes it into the run folder. A document too large for
// the memory left is a problem of the run like a full disk: the run goes on, the others are
// written (their memory is that of the one that failed, now freed), and nothing is put in place.
Written writePieces(const std::string& path, const std::string& shownAs,
                    const std::function<void(const TextSink&)>& produce) {
    Written written;
    std::string error;
    try {
        written.ok = writeFileInPieces(path, produce, error);
    } catch (const std::bad_alloc&) {
        written.outOfMemory = true;
        error = "not enough memory";
    }
    if (!written.ok) {
        written.problem = "cannot write " + shownAs + ": " + error;
    }
    return written;
}

// writePieces of a document rendered whole.
Written writeDocument(const std::string& path, const std::string& shownAs,
                      const std::function<std::string()>& render) {
    return writePieces(path, shownAs, [&](const TextSink& sink) { sink(render()); });
}

// Tells the run of one output's outcome; true when it was written.
bool tell(const Written& written, RunResult& run) {
    if (!written.ok) {
        run.problems.push_back(written.problem);
        run.outOfMemory = run.outOfMemory || written.outOfMemory;
    }
    return written.ok;
}

// The outputs written beside the reports: the statistics file of the rigorous model and the GIS
// files. They only read the run's results, as the reports do, so they are written on a thread of
// their own while the reports are rendered: on the national network that halves the time of the
// documents.
struct DataFiles {
    Written statistics, geoJson, kml;
};

DataFiles writeDataFiles(const FolderFiles& folder, const RunResult& run) {
    DataFiles out;
    const RunFilePaths& files = run.files;
    if (!files.statistics.empty() && run.view.rigorous) {
        out.statistics = writePieces(
            folder.statistics, "the statistics " + files.statistics,
            [&](const TextSink& sink) { writeStatisticsText(*run.view.rigorous, sink); });
    }
    out.geoJson = writePieces(folder.geoJson, files.geoJson, [&](const TextSink& sink) {
        writeGeoJson(run.title, run.view, GeoJsonLayers::kSitesAndVectors, sink);
    });
    out.kml = writePieces(folder.kml, files.kml,
                          [&](const TextSink& sink) { writeKml(run.title, run.view, sink); });
    return out;
}

void writeDocuments(const RunRequest& request, const FolderFiles& folder, RunResult& run) {
    const RunFilePaths& files = run.files;
    // The documents show held parameters as such; the report on screen stays as the program sent
    // it.
    ReportDocument shown = run.report;
    showHeldParameters(shown);
    // The data files on a thread of their own (here, after the reports, when none can be started).
    std::future<DataFiles> data;
    try {
        data = std::async(std::launch::async, writeDataFiles, std::cref(folder), std::cref(run));
    } catch (const std::system_error&) {
        // No thread to be had: `data` stays empty and the files are written below.
    }
    // Each is written even when one before failed, so that every failure is told, and each is
    // rendered inside writeDocument and let go once written, so that a large network's documents
    // never sit in memory together.
    // The tables are built once for both reports; without the memory for them, neither report is
    // written, as when rendering one runs out.
    std::optional<ResultsDocument> tables;
    try {
        tables = buildResultsDocument(run.title, run.view);
    } catch (const std::bad_alloc&) {
    }
    const auto built = [&]() -> const ResultsDocument& {
        return tables ? *tables : throw std::bad_alloc();
    };
    const Written rtf = writeDocument(folder.rtf, "the report " + files.rtf,
                                      [&] { return renderRtfDocument(built(), shown, run.notes); });
    const Written html = writeDocument(folder.html, "the report " + files.html, [&] {
        return renderHtmlPage(run.title, shown, run.view, built(), run.notes);
    });
    Written names, csv;
    if (!request.names.empty()) {
        names =
            writeDocument(folder.names, files.names, [&] { return siteNamesText(request.names); });
    }
    if (request.csv) {
        csv = writeDocument(folder.csv, files.csv,
                            [&] { return exportCsv(run.output, &request.names); });
    }
    const DataFiles written = data.valid() ? data.get() : writeDataFiles(folder, run);
    if (!files.statistics.empty() && run.view.rigorous) {
        run.statisticsWritten = tell(written.statistics, run);
    }
    const bool rtfWritten = tell(rtf, run);
    const bool htmlWritten = tell(html, run);
    run.reportWritten = rtfWritten && htmlWritten;
    const bool geoJsonWritten = tell(written.geoJson, run);
    const bool kmlWritten = tell(written.kml, run);
    run.gisWritten = geoJsonWritten && kmlWritten;
    run.namesWritten = !request.names.empty() && tell(names, run);
    run.csvWritten = request.csv && tell(csv, run);
}

// Puts the run's files into place as one set, and only when every one of them was written:
// otherwise nothing moves and the earlier outputs stay as they were. False when nothing moved.
bool placeOutputs(const FolderFiles& folder, const RunRequest& request, RunResult& run) {
    const RunFilePaths& files = run.files;
    const bool statisticsNeeded = !files.statistics.empty() && run.view.results.succeeded;
    const bool allWritten =
        run.reportWritten && run.gisWritten && (!request.csv || run.csvWritten) &&
        (request.names.empty() || run.namesWritten) && (!statisticsNeeded || run.statisticsWritten);
    if (!allWritten) {
        run.problems.push_back(
            "no output of this run was put in place, since not all of them "
            "could be written; the earlier outputs are as they were");
        return false;
    }
    std::vector<OutputMove> moves = {{folder.output, files.dataSet},
                                     {folder.rtf, files.rtf},
                                     {folder.html, files.html},
                                     {folder.geoJson, files.geoJson},
                                     {folder.kml, files.kml}};
    if (!files.builtInput.empty()) {
        moves.push_back({folder.input, files.builtInput});
    }
    if (request.csv) {
        moves.push_back({folder.csv, files.csv});
    }
    if (run.statisticsWritten) {
        moves.push_back({folder.statistics, files.statistics});
    }
    if (run.namesWritten) {
        moves.push_back({folder.names, files.names});
    }
    std::string error;
    if (!placeOutputSet(moves, folder.path, error)) {
        run.problems.push_back(error);
        return false;
    }
    return true;
}

// The first file of the run that names a directory: a run would make all its outputs and then
// fail to move that one, so it is refused before it starts. Empty when there is none.
std::string outputNamingADirectory(const RunFilePaths& paths) {
    for (const RunFile& file : runFiles(paths)) {
        struct stat info {};
        if (::stat(file.path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            return file.role + " " + file.path + " is a directory; name another output with -o";
        }
    }
    return {};
}

// Reads the child's output back and makes the results of the run.
void collectRun(const RunRequest& request, const FolderFiles& folder, LinkRecord& record,
                RunResult& run) {
    run.report = std::move(record.report);
    run.abortStage = record.abortStage;
    run.warningShown = record.warningShown;
    run.warningAccepted = record.warningAccepted;
    run.notes = run.child.notes(run.engine.name);
    showFullSiteNames(run.report, request.names);
    run.outputRead = run.child.started && run.output.readFile(folder.output);
    if (run.child.started && !run.outputRead) {
        run.notes += "The output data set of the run could not be read.\n";
    }
    // The run is judged by what it wrote: its flag (its input had none) and its report.
    if (run.output.adjustmentRecordCount() > 0 &&
        reportHolds(run.report, kNotAdjustedReportLines)) {
        run.output.setAdjustmentSucceeded(0);
    }
    run.view = makeResultsView(collectResults(run.output, request.names), request.header,
                               request.grid, request.plot);
}

// The rigorous model's statistics of a run that stored its results: read from the program's file,
// checked against the relative tolerance, handed to the documents and written for the person.
// A file that is missing or cannot be read is a problem of the run, as any output would be.
void collectStatistics(const RunRequest& request, const FolderFiles& folder, RunResult& run) {
    if (request.choices.model != AdjustmentModel::kRigorous || !run.view.results.succeeded) {
        return;
    }
    RigorousStatistics statistics;
    std::string error;
    if (!readRigorousStatistics(
            folder.programStatistics, request.names, statistics, error,
            statisticsSizeLimit(run.output.siteCount(), run.output.vectorCount()))) {
        run.problems.push_back("the statistics of the rigorous model could not be read: " + error);
        return;
    }
    if (request.choices.relativeTolerance) {
        applyRelativeTolerance(*request.choices.relativeTolerance, statistics);
    }
    // Written with the documents (writeDataFiles).
    attachRigorousStatistics(std::move(statistics), run.view);
}

// Removes the run folder (the run's input, and the earlier outputs a placed set replaced) on a
// thread of its own while the caller shows the run: on the national network that is a millisecond
// of unlinking a few megabytes. Here, when no thread can be had.
void removeInBackground(std::unique_ptr<RunFolder> folder, RunResult& run) {
    try {
        run.folderRemoval =
            std::async(std::launch::async, [gone = std::move(folder)]() mutable { gone.reset(); });
    } catch (const std::system_error&) {
        folder.reset();
    }
}

}  // namespace

std::vector<std::string> programArguments(const RunChoices& choices, const std::string& input,
                                          const std::string& output,
                                          const std::string& statistics) {
    if (choices.model != AdjustmentModel::kRigorous) {
        return {input, output};
    }
    std::vector<std::string> arguments = {"--model", "rigorous", "--statistics", statistics};
    if (choices.snoopRounds > 0) {
        arguments.insert(arguments.end(), {"--snoop", std::to_string(choices.snoopRounds)});
    }
    if (choices.scaleByAposteriori) {
        arguments.insert(arguments.end(), {"--scale-by", "aposteriori"});
    }
    if (choices.preanalysis) {
        arguments.push_back("--preanalysis");
    }
    arguments.insert(arguments.end(), {input, output});
    return arguments;
}

EngineDecision decideEngine(const RunChoices& choices, const AdjustedDataSet& input) {
    EngineDecision engine;
    engine.asked = choices.engine;
    engine.byModel = choices.model == AdjustmentModel::kRigorous;
    engine.sitesInUse =
        choices.engine == EngineChoice::kAuto && !engine.byModel ? sitesInUse(input) : 0;
    engine.large =
        engine.byModel || chooseEngine(choices.engine, engine.sitesInUse) == EngineChoice::kLarge;
    engine.name = engine.large ? "torvek-large" : "torvek";
    engine.path =
        engine.large ? locateLargeProgram(choices.program) : locateProgram(choices.program);
    return engine;
}

RunFilePaths runFilePaths(const std::string& output, bool keepInput, bool csv, bool statistics) {
    return {output,
            replaceExtension(output, ".rtf"),
            replaceExtension(output, ".html"),
            replaceExtension(output, ".geojson"),
            replaceExtension(output, ".kml"),
            csv ? replaceExtension(output, ".csv") : std::string(),
            keepInput ? replaceExtension(output, "") + ".input.dat" : std::string(),
            statistics ? replaceExtension(output, "") + ".statistics.json" : std::string(),
            siteNamesPath(output)};
}

std::vector<RunFile> runFiles(const RunFilePaths& paths) {
    std::vector<RunFile> files = {{paths.dataSet, "the output data set"},
                                  {paths.rtf, "the RTF report"},
                                  {paths.html, "the HTML report"},
                                  {paths.geoJson, "the GeoJSON file"},
                                  {paths.kml, "the KML file"}};
    if (!paths.csv.empty()) {
        files.push_back({paths.csv, "the CSV file"});
    }
    if (!paths.builtInput.empty()) {
        files.push_back({paths.builtInput, "the input data set built from the project"});
    }
    if (!paths.statistics.empty()) {
        files.push_back({paths.statistics, "the statistics file"});
    }
    files.push_back({paths.names, "the site names file"});
    return files;
}

std::string documentTitle(const DocumentHeader& header, const AdjustedDataSet& input,
                          const std::string& sourceName) {
    std::string project = header.project.empty() ? input.headerText() : header.project;
    while (!project.empty() && (project.back() == ' ' || project.back() == '\0')) {
        project.pop_back();
    }
    return project.empty() ? baseName(sourceName) : project;
}

RunResult runAdjustment(const RunRequest& request, const RunCallbacks& callbacks) {
    RunResult run;
    run.files = runFilePaths(request.output, request.keepInput, request.csv,
                             request.choices.model == AdjustmentModel::kRigorous);
    run.title = documentTitle(request.header, request.input, request.sourceName);
    run.error = outputNamingADirectory(run.files);
    if (!run.error.empty()) {
        return run;
    }
    // The folder is made only for a run that will start.
    auto made = std::make_unique<RunFolder>();
    RunFolder& folder = *made;
    if (!makeParentDirectories(request.output, run.error) ||
        !folder.create(request.output, run.error)) {
        run.outputBusy = !folder.busyWith().empty();
        return run;
    }
    RunFolder::removeStale(request.output);
    const FolderFiles inFolder = folderFiles(folder, request.output);
    if (!writeRunInput(request.input, inFolder.input)) {
        run.error = inFolder.input + ": cannot be written";
        return run;
    }
    run.engine = decideEngine(request.choices, request.input);
    if (callbacks.engineChosen) {
        callbacks.engineChosen(run.engine);
    }
    if (callbacks.started) {
        callbacks.started();
    }
    LinkRecord record;
    const LinkHandlers handlers = recordingHandlers(callbacks.link, record);
    run.child = runLinkedChild(run.engine.path,
                               programArguments(request.choices, inFolder.input, inFolder.output,
                                                inFolder.programStatistics),
                               handlers, folder.path());
    const auto mark = [&](const char* phase) {
        if (request.clock != nullptr) {
            request.clock->mark(phase);
        }
    };
    mark("run");
    collectRun(request, inFolder, record, run);
    run.finished = reachedItsEnd(run, request.input);
    if (run.finished) {
        collectStatistics(request, inFolder, run);
        mark("results");
        writeDocuments(request, inFolder, run);
        mark("documents");
        run.placed = placeOutputs(inFolder, request, run);
        mark("placing");
    }
    removeInBackground(std::move(made), run);
    return run;
}

}  // namespace torvek::front
