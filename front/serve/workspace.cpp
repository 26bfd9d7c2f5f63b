#include "front/serve/workspace.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "front/files/file_output.h"
#include "front/results/network_results.h"

namespace torvek::front::serve {
namespace {

// How often shutdown looks whether the runs have ended.
constexpr std::chrono::milliseconds kShutdownPollInterval{20};
// Longest file name kept from an upload.
constexpr std::size_t kMaximumUploadName = 100;

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A name of the person's file made safe to keep in the workspace folder: no folders, no leading
// dot, only letters, digits, '.', '-' and '_'. The extension stays, since ".json" marks a project.
std::string safeFileName(const std::string& name) {
    std::string out;
    for (const char c : baseName(name)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        out += plain ? c : '_';
    }
    while (!out.empty() && out.front() == '.') {
        out.erase(out.begin());
    }
    if (out.size() > kMaximumUploadName) {
        out.erase(0, out.size() - kMaximumUploadName);
    }
    return out.empty() ? "upload" : out;
}

// Replaces every occurrence of `from` in `text` by `to`.
std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) {
        return text;
    }
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

bool boolField(const Json& object, const char* key, bool fallback) {
    const auto it = object.find(key);
    return it != object.end() && it->is_boolean() ? it->get<bool>() : fallback;
}

std::string stringField(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The three fixed flags of a site document: "fixed": true, or per coordinate.
std::array<bool, 3> fixedFlags(const Json& site) {
    std::array<bool, 3> flags{};
    const auto it = site.find("fixed");
    if (it == site.end()) {
        return flags;
    }
    if (it->is_boolean()) {
        flags.fill(it->get<bool>());
    } else if (it->is_object()) {
        flags = {boolField(*it, "latitude", false), boolField(*it, "longitude", false),
                 boolField(*it, "elevation", false)};
    }
    return flags;
}

bool hasConstraint(const Json& site) {
    const auto it = site.find("sigmas");
    if (it == site.end() || !it->is_object()) {
        return false;
    }
    for (const auto& [key, value] : it->items()) {
        if (value.is_number() && value.get<double>() != 0.0) {
            return true;
        }
    }
    return false;
}

const Json& listOf(const Json& document, const char* key) {
    static const Json kEmpty = Json::array();
    const auto it = document.find(key);
    return it != document.end() && it->is_array() ? *it : kEmpty;
}

Json numberOrNull(double value) {
    return std::isfinite(value) ? Json(value) : Json(nullptr);
}

std::string controlPhrase(const std::array<bool, 3>& fixed) {
    if (fixed[0] && fixed[1] && fixed[2]) {
        return "fixed";
    }
    if (!fixed[0] && !fixed[1] && !fixed[2]) {
        return "free";
    }
    std::string text = "fixed in";
    const char* names[3] = {" latitude", " longitude", " elevation"};
    bool first = true;
    for (int k = 0; k < 3; ++k) {
        if (fixed[k]) {
            text += first ? names[k] : std::string(",") + names[k];
            first = false;
        }
    }
    return text;
}

// Removes a folder of the workspace with everything in it; what cannot be removed stays for the
// removal of the whole work folder when the server ends.
void removeFolder(const std::string& folder) {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

}  // namespace

std::string downloadStem(const std::string& sourceName) {
    std::string stem = safeFileName(baseName(sourceName));
    const std::size_t dot = stem.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        stem.erase(dot);
    }
    return stem.empty() || stem == "upload" ? "project" : stem;
}

Workspace::Workspace(WorkspaceOptions options) : options_(std::move(options)) {
    view_ = nullptr;
}

Workspace::~Workspace() {
    shutdown(std::chrono::seconds(5));
}

bool Workspace::open(const std::vector<std::string>& paths, const SurveyOptions& survey,
                     std::string& error) {
    Json document;
    std::string source;
    ImportReport report;
    if (!paths.empty() && isDataSetInput(paths)) {
        if (survey.covarianceUnit) {
            error = paths[0] +
                    ": a data set holds its covariances in m2; the covariance unit is "
                    "for survey files";
            return false;
        }
        AdjustedDataSet dataSet;
        if (!dataSet.readFile(paths[0])) {
            error = paths[0] + ": cannot be read as a data set";
            return false;
        }
        document = exportProject(dataSet);
        source = paths[0];
    } else if (!readInputDocument(paths, survey, document, source, report)) {
        error = report.error;
        return false;
    }

    std::lock_guard<std::mutex> lock(mutex_);
    if (shutDown_) {
        error = "the workspace is closing";
        return false;
    }
    ++projectSerial_;
    document_ = std::move(document);
    sourceName_ = source;
    const bool project = paths.size() == 1 && recogniseFile(paths[0]) == InputFormat::kProject;
    savePath_ = project ? paths[0] : replaceExtension(paths[0], ".json");
    ownProjectFile_ = project ? paths[0] : std::string();
    importNotes_.clear();
    for (const std::string& note : report.notes) {
        importNotes_.push_back("note: " + note);
    }
    for (const std::string& warning : report.warnings) {
        importNotes_.push_back("warning: " + warning);
    }
    changes_.clear();
    unsaved_ = !project;
    rebuildView();
    return true;
}

bool Workspace::openUploaded(const std::vector<UploadedFile>& files, const SurveyOptions& survey,
                             std::string& error) {
    if (files.empty() || files.size() > 2) {
        error = "upload one file, or a DynaML station file with its measurement file";
        return false;
    }
    std::string folder;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        folder = options_.folder + "/upload-" + std::to_string(++uploadCount_);
    }
    if (::mkdir(folder.c_str(), 0700) != 0) {
        error = folder + ": cannot be created (" + std::strerror(errno) + ")";
        return false;
    }
    std::vector<std::string> paths;
    std::string names;
    for (std::size_t i = 0; i < files.size(); ++i) {
        // A pair may share a name: the second is kept under a prefix.
        std::string name = safeFileName(files[i].name);
        if (i > 0 && name == baseName(paths[0])) {
            name = "2-" + name;
        }
        paths.push_back(folder + "/" + name);
        if (!writeFileAtomically(paths.back(), files[i].bytes, error)) {
            error = replaceAll(error, folder + "/", "");
            removeFolder(folder);
            return false;
        }
        names += (i > 0 ? " and " : "") + baseName(files[i].name);
    }
    if (!open(paths, survey, error)) {
        // A refused upload is of no further use: it does not wait for the server's end.
        error = replaceAll(error, folder + "/", "");
        removeFolder(folder);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    sourceName_ = names;
    savePath_.clear();  // an upload has no file here; the person names one
    ownProjectFile_.clear();
    unsaved_ = true;
    for (std::string& note : importNotes_) {
        note = replaceAll(note, folder + "/", "");
    }
    rebuildView();
    return true;
}

void Workspace::rebuildView() {
    ++revision_;
    AdjustedDataSet dataSet;
    ImportReport report;
    const bool imported =
        importProjectDocument(document_, sourceName_, ImportOptions{}, dataSet, report);
    NetworkResults positions;
    if (imported) {
        positions = collectResults(dataSet);
    }

    Json sites = Json::array();
    const Json& siteList = listOf(document_, "sites");
    for (std::size_t i = 0; i < siteList.size(); ++i) {
        const Json& s = siteList[i];
        if (!s.is_object()) {
            continue;
        }
        const std::array<bool, 3> fixed = fixedFlags(s);
        Json site{{"index", i},
                  {"name", stringField(s, "name")},
                  {"inUse", boolField(s, "inUse", true)},
                  {"fixed", Json::array({fixed[0], fixed[1], fixed[2]})},
                  {"constrained", hasConstraint(s)}};
        if (imported && i < positions.sites.size()) {
            const SiteResult& p = positions.sites[i];
            site["latitude"] = numberOrNull(p.latitude);
            site["longitude"] = numberOrNull(p.longitude);
            site["elevation"] = numberOrNull(p.elevation);
            site["east"] = numberOrNull(p.east);
            site["north"] = numberOrNull(p.north);
        }
        sites.push_back(std::move(site));
    }
    Json vectors = Json::array();
    const Json& vectorList = listOf(document_, "vectors");
    for (std::size_t i = 0; i < vectorList.size(); ++i) {
        const Json& v = vectorList[i];
        if (!v.is_object()) {
            continue;
        }
        Json vector{{"index", i},
                    {"from", stringField(v, "from")},
                    {"to", stringField(v, "to")},
                    {"inUse", boolField(v, "inUse", true)}};
        if (imported && i < positions.vectors.size()) {
            const VectorResult& p = positions.vectors[i];
            vector["record"] = p.record;
            vector["length"] = numberOrNull(p.length);
            vector["fromIndex"] = p.fromIndex;
            vector["toIndex"] = p.toIndex;
        }
        vectors.push_back(std::move(vector));
    }
    Json notes = importNotes_;
    for (const std::string& note : report.notes) {
        notes.push_back("note: " + note);
    }
    for (const std::string& warning : report.warnings) {
        notes.push_back("warning: " + warning);
    }
    view_ = Json{{"serial", projectSerial_},
                 {"source", sourceName_},
                 {"title", stringField(document_, "title")},
                 {"savePath", savePath_},
                 {"unsaved", unsaved_},
                 {"importError", imported ? Json(nullptr) : Json(report.error)},
                 {"notes", std::move(notes)},
                 {"changes", changes_},
                 {"sites", std::move(sites)},
                 {"vectors", std::move(vectors)},
                 {"planned", document_.contains("planned") ? document_["planned"] : Json::array()}};
}

std::string Workspace::stateText() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Json runs = Json::array();
    for (const auto& [id, run] : runs_) {
        runs.push_back(run->summary());
    }
    const Json state{{"project", view_}, {"runs", std::move(runs)}};
    return state.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string Workspace::describeVector(std::size_t index) const {
    const Json& v = listOf(document_, "vectors")[index];
    return "vector " + stringField(v, "from") + " to " + stringField(v, "to") + " (no. " +
           std::to_string(index + 1) + ")";
}

std::string Workspace::describeSite(std::size_t index) const {
    return "site " + stringField(listOf(document_, "sites")[index], "name");
}

bool Workspace::edit(const Json& request, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (projectSerial_ == 0) {
        error = "no project is open";
        return false;
    }
    const std::string op = request.is_object() ? stringField(request, "op") : "";
    if (op == "planned") {
        return setPlanned(request, error);
    }
    const auto indexField = request.is_object() ? request.find("index") : request.end();
    if (indexField == request.end() || !indexField->is_number_integer() ||
        indexField->get<std::int64_t>() < 0) {
        error = "the edit needs the index of a site or vector";
        return false;
    }
    const auto index = static_cast<std::size_t>(indexField->get<std::int64_t>());
    const char* listName = op == "vectorUse" ? "vectors" : "sites";
    auto list = document_.find(listName);
    if (list == document_.end() || !list->is_array() || index >= list->size() ||
        !(*list)[index].is_object()) {
        error = std::string("there is no ") + (op == "vectorUse" ? "vector" : "site") + " number " +
                std::to_string(index + 1);
        return false;
    }
    Json& entry = (*list)[index];
    if (op == "vectorUse" || op == "siteUse") {
        const auto inUse = request.find("inUse");
        if (inUse == request.end() || !inUse->is_boolean()) {
            error = "the edit needs \"inUse\": true or false";
            return false;
        }
        const bool use = inUse->get<bool>();
        if (boolField(entry, "inUse", true) == use) {
            return true;
        }
        // The key stays where the project had it; a new one is written only to leave out.
        if (entry.contains("inUse") || !use) {
            entry["inUse"] = use;
        }
        changes_.push_back((op == "vectorUse" ? describeVector(index) : describeSite(index)) +
                           (use ? " back in use" : " out of use"));
    } else if (op == "siteControl") {
        const auto fixed = request.find("fixed");
        if (fixed == request.end() || !fixed->is_object()) {
            error = "the edit needs \"fixed\": {\"latitude\", \"longitude\", \"elevation\"}";
            return false;
        }
        const std::array<bool, 3> flags{boolField(*fixed, "latitude", false),
                                        boolField(*fixed, "longitude", false),
                                        boolField(*fixed, "elevation", false)};
        if (fixedFlags(entry) == flags) {
            return true;
        }
        if (flags[0] == flags[1] && flags[1] == flags[2]) {
            if (flags[0] || entry.contains("fixed")) {
                entry["fixed"] = flags[0];
            }
        } else {
            entry["fixed"] =
                Json{{"latitude", flags[0]}, {"longitude", flags[1]}, {"elevation", flags[2]}};
        }
        changes_.push_back(describeSite(index) + " " + controlPhrase(flags));
    } else {
        error = "unknown edit \"" + op + "\"";
        return false;
    }
    unsaved_ = true;
    rebuildView();
    return true;
}

bool Workspace::save(const std::string& path, std::string& error) {
    if (!endsWith(path, ".json")) {
        error = "a project is saved as a file ending in .json";
        return false;
    }
    std::string text, own;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (projectSerial_ == 0) {
            error = "no project is open";
            return false;
        }
        text = projectText(document_);
        own = ownProjectFile_;
    }
    // An existing file is replaced only when it is this project's own: the project file that was
    // opened, or the one saved to before. Any other is the person's, and stays.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode) || recogniseFile(path) != InputFormat::kProject) {
            error = path + " is not a project file: it is not replaced";
            return false;
        }
        if (own.empty() || !sameFile(path, own)) {
            error = path +
                    " exists and is another project: it is not replaced (save under a new "
                    "name)";
            return false;
        }
    }
    if (!writeFileAtomically(path, text, error)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    savePath_ = path;
    ownProjectFile_ = path;
    unsaved_ = false;
    view_["savePath"] = savePath_;
    view_["unsaved"] = false;
    return true;
}

bool Workspace::projectDownload(std::string& text, std::string& fileName) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (projectSerial_ == 0) {
        return false;
    }
    text = projectText(document_);
    fileName = downloadStem(sourceName_) + ".json";
    return true;
}

bool readRunAsked(const Json& body, RunAsked& asked, std::string& error) {
    if (body.is_null()) {
        return true;
    }
    if (!body.is_object()) {
        error = "the run's choices are an object";
        return false;
    }
    for (const auto& [key, value] : body.items()) {
        if (key == "model") {
            asked.model =
                value.is_string() ? adjustmentModelNamed(value.get<std::string>()) : std::nullopt;
            if (!asked.model) {
                error = "model: \"rigorous\" or \"classic\"";
                return false;
            }
        } else if (key == "snoop") {
            if (!value.is_number_integer() || value.get<long long>() < 0 ||
                value.get<long long>() > kMaximumSnoopRounds) {
                error = "snoop: a whole number of rounds from 0 to " +
                        std::to_string(kMaximumSnoopRounds);
                return false;
            }
            asked.snoopRounds = value.get<int>();
        } else if (key == "scaleBy") {
            if (value != "apriori" && value != "aposteriori") {
                error = "scaleBy: \"apriori\" or \"aposteriori\"";
                return false;
            }
            asked.scaleByAposteriori = value == "aposteriori";
        } else if (key == "relativeTolerance") {
            RelativeTolerance tolerance;
            if (value == "") {
                continue;  // the page's empty field: no check
            }
            if (!value.is_string() ||
                !parseRelativeTolerance(value.get<std::string>(), tolerance, error)) {
                error =
                    "relativeTolerance: " + (error.empty() ? "a text such as 20mm+50ppm" : error);
                return false;
            }
            asked.relativeTolerance = tolerance;
        } else {
            error = key + ": not a choice of a run (model, snoop, scaleBy, relativeTolerance)";
            return false;
        }
    }
    return true;
}

bool Workspace::startRun(const RunAsked& asked, int& id, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutDown_) {
        error = "the workspace is closing";
        return false;
    }
    if (projectSerial_ == 0) {
        error = "open a project first";
        return false;
    }
    std::size_t active = 0;
    for (const auto& [runId, run] : runs_) {
        active += run->finished() ? 0 : 1;
    }
    if (active >= kMaximumActiveRuns) {
        error = std::to_string(active) + " runs are going on; start another when one has ended";
        return false;
    }
    AdjustedDataSet dataSet;
    ImportReport report;
    if (!importProjectDocument(document_, sourceName_, ImportOptions{}, dataSet, report)) {
        error = report.error;
        return false;
    }
    RunStart request;
    request.id = nextRunId_;
    request.projectSerial = projectSerial_;
    const std::string folder = runFolder(request.id);
    if (::mkdir(folder.c_str(), 0700) != 0) {
        error = folder + ": cannot be created (" + std::strerror(errno) + ")";
        return false;
    }
    request.fileStem = downloadStem(sourceName_) + "-run" + std::to_string(request.id);
    request.changes = changes_;
    request.adjustment = adjustmentRequest(std::move(dataSet), report.siteNames);
    request.adjustment.choices.model = modelForRun(asked.model, projectAdjustmentModel(document_));
    if (request.adjustment.choices.model == AdjustmentModel::kRigorous) {
        request.adjustment.choices.snoopRounds = asked.snoopRounds;
        request.adjustment.choices.scaleByAposteriori = asked.scaleByAposteriori;
        request.adjustment.choices.relativeTolerance = asked.relativeTolerance;
    }
    request.adjustment.output = folder + "/" + request.fileStem + ".dat";
    changes_.clear();
    view_["changes"] = Json::array();
    auto run = std::make_shared<AdjustmentRun>(std::move(request));
    id = nextRunId_++;
    runs_[id] = run;
    run->start();
    dropOldRuns();
    return true;
}

std::string Workspace::runFolder(int id) const {
    return options_.folder + "/run-" + std::to_string(id);
}

void Workspace::dropOldRuns() {
    for (auto it = runs_.begin(); it != runs_.end() && runs_.size() > kMaximumKeptRuns;) {
        if (it->second->finished()) {
            removeFolder(runFolder(it->first));
            it = runs_.erase(it);
        } else {
            ++it;
        }
    }
}

RunDeletion Workspace::deleteRun(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = runs_.find(id);
    if (it == runs_.end()) {
        return RunDeletion::kUnknown;
    }
    if (!it->second->finished()) {
        return RunDeletion::kStillRunning;
    }
    // A page that still reads the run's events or downloads keeps the run itself alive until it
    // is done; its files go now.
    runs_.erase(it);
    removeFolder(runFolder(id));
    return RunDeletion::kDeleted;
}

torvek::front::RunRequest Workspace::adjustmentRequest(AdjustedDataSet input,
                                                       SiteNameTable names) const {
    torvek::front::RunRequest request;
    request.input = std::move(input);
    request.names = std::move(names);
    request.header = readDocumentHeader(document_);
    request.sourceName = sourceName_;
    request.csv = true;
    request.choices.program = options_.program;
    return request;
}

std::shared_ptr<AdjustmentRun> Workspace::run(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = runs_.find(id);
    return it == runs_.end() ? nullptr : it->second;
}

void Workspace::shutdown(std::chrono::milliseconds grace) {
    std::vector<std::shared_ptr<AdjustmentRun>> all;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        shutDown_ = true;
        for (const auto& [id, run] : runs_) {
            all.push_back(run);
        }
    }
    for (const auto& run : all) {
        run->cancel();
    }
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (const auto& run : all) {
        while (!run->finished() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(kShutdownPollInterval);
        }
        if (!run->finished()) {
            run->kill();
        }
    }
    for (const auto& run : all) {
        run->join();
    }
}

}  // namespace torvek::front::serve
