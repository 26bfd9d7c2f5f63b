#pragma once

// The state behind the browser workspace: the project that is open (as its project document),
// the changes made to it in the page, and the runs started from it with their history. Shared by
// every tab and request; thread-safe.

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "front/import/survey_input.h"
#include "front/project/project_json.h"
#include "front/serve/adjustment_run.h"

namespace torvek::front::serve {

// Runs that may go on at once; one more is refused until one ends. Each is a child process of
// its own.
inline constexpr std::size_t kMaximumActiveRuns = 4;
// Runs the history keeps with their outputs; starting one more drops the oldest that has ended,
// with its folder, so that memory and disk hold at most this many runs' events and files.
inline constexpr std::size_t kMaximumKeptRuns = 20;

// What became of a request to delete a run.
enum class RunDeletion { kDeleted, kUnknown, kStillRunning };

struct WorkspaceOptions {
    // The adjustment program for every engine; empty: torvek or torvek-large as the run service
    // locates them.
    std::string program;
    std::string folder;  // a private, existing folder for uploads and runs
};

// A file the page uploaded: its name on the person's machine and its bytes.
struct UploadedFile {
    std::string name;
    std::string bytes;
};

// What the person chose for a run in the page: the model and the rigorous model's options.
struct RunAsked {
    std::optional<AdjustmentModel> model;  // none: the project's, else the rigorous model
    int snoopRounds = 0;                   // rounds of data snooping, 0 for none
    bool scaleByAposteriori = false;       // ellipses by the a-posteriori sigma0
    std::optional<RelativeTolerance> relativeTolerance;
};

// Reads a run's choices from the body of POST /api/runs ({"model": "rigorous"|"classic",
// "snoop": 0..1000, "scaleBy": "apriori"|"aposteriori", "relativeTolerance": "20mm+50ppm"}, every
// key optional; an empty body asks for nothing). False with `error` naming the field.
bool readRunAsked(const Json& body, RunAsked& asked, std::string& error);

// The most planned vectors one plan holds: ten times the sites the sparse engine handles in a
// fraction of a second, far above any campaign a person plans by clicking.
inline constexpr std::size_t kMaximumPlannedVectors = 5000;

// Reads "planned" of a request body: a list of at most kMaximumPlannedVectors objects with
// "from" and "to" site names (whether the names exist the project's import checks). False with
// `error` naming the entry.
bool readPlannedList(const Json& body, Json& planned, std::string& error);

// Reads the optional "sigmaModel" {"horizontal": [metres, ppm], "vertical": [metres, ppm]} of a
// request body into `model` (parts left out keep theirs): metres 0 to 1, ppm 0 to 1000, not both
// 0. False with `error` naming the field.
bool readSigmaModel(const Json& body, SigmaModel& model, std::string& error);

// The answer to POST /api/preanalysis: the statistics (with "elapsedSeconds") or an error.
struct PlanAnswer {
    int status = 400;
    std::string error;
    std::string text;  // the JSON answer
};

class Workspace {
  public:
    explicit Workspace(WorkspaceOptions options);
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;

    // Opens a project, a data set or survey files (a DynaML pair as two files) that the person
    // named. False with `error` set when they cannot be read; the open project stays then.
    bool open(const std::vector<std::string>& paths, const SurveyOptions& survey,
              std::string& error);
    // Opens uploaded files, kept in the workspace's own folder under names of its choosing.
    bool openUploaded(const std::vector<UploadedFile>& files, const SurveyOptions& survey,
                      std::string& error);

    // The whole state for the page as JSON text: the project view (sites, vectors, notes,
    // pending changes), the run history and the runs still going.
    std::string stateText() const;

    // An edit from the page: {"op": "vectorUse"|"siteUse", "index": i, "inUse": bool} or
    // {"op": "siteControl", "index": i, "fixed": {"latitude", "longitude", "elevation": bool}}.
    // False with `error` set when it does not apply to the open project.
    bool edit(const Json& request, std::string& error);

    // POST /api/preanalysis: the pre-analysis of the open project with the planned vectors of
    // `body` ({"planned": [{"from", "to"}...], "sigmaModel": optional, "relativeTolerance":
    // optional "20mm+50ppm"}) in place of its own, run by torvek-large in a private folder
    // removed after it.
    PlanAnswer preanalysis(const Json& body);

    // Writes the project document to `path`, which must end in ".json". An existing file is
    // replaced only when it is the project file that was opened or saved to before (never a survey
    // file, a data set or another project). False with `error` set.
    bool save(const std::string& path, std::string& error);
    // The project document as text, and a file name for it.
    bool projectDownload(std::string& text, std::string& fileName) const;

    // Starts a run of the open project with the model and options `asked` for (none: the
    // project's model, else the rigorous one); false with `error` set when there is no project,
    // it does not become a data set, or too many runs go on.
    bool startRun(const RunAsked& asked, int& id, std::string& error);
    std::shared_ptr<AdjustmentRun> run(int id) const;
    // Drops run `id` from the history and removes its folder with every file it wrote; a run
    // still going is kept (cancel it first).
    RunDeletion deleteRun(int id);

    // Ends the workspace: every run is told to abort at its next poll (a warning waiting for its
    // answer is cancelled); runs still going after `grace` are killed; all are reaped.
    void shutdown(std::chrono::milliseconds grace);

  private:
    void rebuildView();  // with mutex_ held
    // The edit {"op": "planned", "planned": [...]}: the project's planned vectors replaced (with
    // mutex_ held).
    bool setPlanned(const Json& request, std::string& error);
    // The run service's request for the open project built as `input` (with mutex_ held).
    torvek::front::RunRequest adjustmentRequest(AdjustedDataSet input, SiteNameTable names) const;
    std::string describeVector(std::size_t index) const;
    std::string describeSite(std::size_t index) const;
    std::string runFolder(int id) const;
    // Drops the oldest ended runs beyond kMaximumKeptRuns (with mutex_ held).
    void dropOldRuns();

    const WorkspaceOptions options_;
    mutable std::mutex mutex_;
    bool shutDown_ = false;
    int projectSerial_ = 0;  // 0 while nothing is open
    Json document_;
    std::string sourceName_;      // names the project in the page and in downloads
    std::string savePath_;        // where Save writes by default: the opened project file
    std::string ownProjectFile_;  // the project file that Save may replace (opened or saved)
    std::vector<std::string> importNotes_;
    std::vector<std::string> changes_;  // since the last run was started
    bool unsaved_ = false;
    Json view_;         // the project part of stateText, rebuilt after each change
    int revision_ = 0;  // counts the changes of document_ (each rebuilds the view)
    // The open project as a data set without its planned vectors, for the pre-analyses of the
    // plans a person tries: imported again only after a change of the project.
    struct PlanBase {
        int revision = -1;
        std::string error;  // why the project does not become a data set
        AdjustedDataSet dataSet;
        SiteNameTable names;
        std::map<std::string, std::string> codeByName;  // folded full name -> code
    };
    PlanBase planBase_;
    void refreshPlanBase();  // with mutex_ held
    int nextRunId_ = 1;
    int uploadCount_ = 0;
    std::map<int, std::shared_ptr<AdjustmentRun>> runs_;
};

// A file name stem for downloads made from a source name: its base name without extension, with
// characters other than letters, digits, '-', '_' and '.' replaced by '_'; "project" when empty.
std::string downloadStem(const std::string& sourceName);

}  // namespace torvek::front::serve
