#pragma once
// One adjustment run, the same for every front end: the command line's `adjust` and the browser
// workspace are adapters that fill a RunRequest and answer the run's questions (abort polls, the
// warning box) through RunCallbacks. The service chooses the engine, makes the run folder beside
// the output (the child's working directory), writes the input there, starts the child and
// serves its link, shows the sites' full names in the report, reads the results back, writes
// every document in the run folder and puts the outputs into place as one set.
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "dataset/adjusted_data_set.h"
#include "front/documents/grid_coordinates.h"
#include "front/documents/network_plot.h"
#include "front/documents/report_document.h"
#include "front/documents/results_document.h"
#include "front/files/run_files.h"
#include "front/project/adjustment_model.h"
#include "front/project/site_name_mapping.h"
#include "front/results/rigorous_statistics.h"
#include "front/run/link_server.h"
#include "front/run/phase_clock.h"
#include "front/run/run_programs.h"

namespace torvek::front {

// What the person chose about the program itself. A new choice (a model, an option handed to the
// program) is a field here and a word of programArguments, and reaches both front ends.
struct RunChoices {
    std::string program;  // the program's path; empty: located as locateProgram says
    EngineChoice engine = EngineChoice::kAuto;
    // The adjustment model. The rigorous one runs torvek-large whatever the network's size, and
    // the run writes the statistics file (OUT.statistics.json) beside the documents.
    AdjustmentModel model = AdjustmentModel::kClassic;
    // Rigorous model only: rounds of data snooping, 0 for none, at most kMaximumSnoopRounds.
    int snoopRounds = 0;
    // Rigorous model only: the ellipses and relative precisions scaled by the a-posteriori sigma0
    // instead of the a-priori one.
    bool scaleByAposteriori = false;
    // Rigorous model only: the tolerance every pair's relative precision is checked against.
    std::optional<RelativeTolerance> relativeTolerance;
    // Rigorous model only: a pre-analysis, every vector in use taken as planned (its observed
    // values ignored): precisions, redundancy numbers and MDBs at the a-priori sigma0.
    bool preanalysis = false;
};

// Most rounds of data snooping the program takes (its --snoop bound).
inline constexpr int kMaximumSnoopRounds = 1000;

// The program's arguments after its name for a run of `input` into `output` that writes the
// rigorous model's statistics to `statistics` (paths as the child sees them, relative to its
// working directory); the link's endpoint numbers follow them.
std::vector<std::string> programArguments(const RunChoices& choices, const std::string& input,
                                          const std::string& output, const std::string& statistics);

// The program a run starts and why.
struct EngineDecision {
    bool large = false;    // torvek-large, the sparse engine
    int sitesInUse = 0;    // counted when the engine was chosen by them (kAuto), else 0
    bool byModel = false;  // torvek-large because the rigorous model needs it
    EngineChoice asked = EngineChoice::kAuto;
    std::string name;  // "torvek" or "torvek-large"
    std::string path;  // what is executed
};

// The engine for `input` under `choices`: torvek-large for the rigorous model; else torvek up to
// kStandardEngineSiteLimit sites in use, torvek-large beyond, or the one asked for.
EngineDecision decideEngine(const RunChoices& choices, const AdjustedDataSet& input);

// The documents a run writes besides the output data set, each beside it under its name with
// another extension.
struct RunFilePaths {
    std::string dataSet;
    std::string rtf;
    std::string html;
    std::string geoJson;
    std::string kml;
    std::string csv;         // empty when not asked for
    std::string builtInput;  // OUTPUT.input.dat; empty when not asked for
    std::string statistics;  // OUTPUT.statistics.json; empty unless the model is rigorous
    std::string names;       // OUTPUT.names.json, written when the sites have full names
};

// The paths of a run whose output data set is `output`.
RunFilePaths runFilePaths(const std::string& output, bool keepInput, bool csv,
                          bool statistics = false);

// Every path of `paths` as a file the run writes, with what it is to the person, for
// findPathClash.
std::vector<RunFile> runFiles(const RunFilePaths& paths);

struct RunRequest {
    AdjustedDataSet input;  // the network to adjust (its result fields are cleared for the run)
    SiteNameTable names;    // the full names of its sites; empty: their codes
    DocumentHeader header;  // project, client, surveyor, datum and epoch of the documents
    // Names the documents when the project has no title: the file it came from.
    std::string sourceName;
    std::string output;                // the output data set; its folder is made when missing
    bool keepInput = false;            // also put the input data set into place (OUTPUT.input.dat)
    bool csv = false;                  // also write the output data set as CSV (OUTPUT.csv)
    const GridSystem* grid = nullptr;  // grid coordinates in this system when open
    PlotOptions plot;
    RunChoices choices;
    // Marks the run's phases (run, results, documents, placing) when given.
    PhaseClock* clock = nullptr;
};

// How a front end takes part in a run. Every callback is optional and runs on the thread that
// called runAdjustment.
struct RunCallbacks {
    std::function<void(const EngineDecision&)> engineChosen;  // before the child starts
    std::function<void()> started;                            // the input is ready
    // The link's handlers as in LinkHandlers; the service records the answers it needs.
    LinkHandlers link;
};

// Everything a run did, for its front end to show.
struct RunResult {
    std::string error;        // why no child was started (folder, input); empty otherwise
    bool outputBusy = false;  // not started: another run is writing the same output
    EngineDecision engine;
    ChildOutcome child;
    ReportDocument report;  // with the sites' full names
    std::string title;      // of the documents
    std::string notes;      // how the child ended, what it printed, a lost output
    bool outputRead = false;
    AdjustedDataSet output;
    ResultsView view;
    int abortStage = -1;  // the stage of the poll answered with an abort, -1 for none
    bool warningShown = false;
    bool warningAccepted = false;
    // The run got to its end with its output (see reachedItsEnd): only then are documents
    // written and outputs placed.
    bool finished = false;
    bool reportWritten = false;  // RTF and HTML
    bool gisWritten = false;     // GeoJSON and KML
    bool csvWritten = false;
    // Rigorous model: the statistics were read from the program and written for the person.
    bool statisticsWritten = false;
    bool namesWritten = false;          // OUTPUT.names.json
    bool placed = false;                // every written file is in place
    bool outOfMemory = false;           // a document could not be made for want of memory
    std::vector<std::string> problems;  // files that could not be written or placed
    RunFilePaths files;
    // The removal of the run folder, which goes on beside whatever the caller does next; the
    // result waits for it when it is destroyed.
    std::future<void> folderRemoval;

    bool aborted() const { return abortStage >= 0; }
    bool cancelledAtWarning() const { return warningShown && !warningAccepted; }
};

// The title of a run's documents: the project's title (the header's, else the one the data set
// `input` keeps), or the base name of `sourceName` when there is none.
// Never a path, so that every front end gives one project the same title.
std::string documentTitle(const DocumentHeader& header, const AdjustedDataSet& input,
                          const std::string& sourceName);

// Runs one adjustment as the request says; returns when the child has ended and the outputs are
// in place (the run folder may still be going: see RunResult::folderRemoval). Never throws for a
// failed run: the result says what happened.
RunResult runAdjustment(const RunRequest& request, const RunCallbacks& callbacks);

}  // namespace torvek::front
