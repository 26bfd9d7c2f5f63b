#include "front/serve/adjustment_run.h"

#include "front/documents/network_plot.h"
#include "front/documents/report_rendering.h"
#include "front/files/file_output.h"
#include "front/project/project_json.h"
#include "front/run/stage_progress.h"
#include "link/messages.h"

namespace torvek::front::serve {
namespace {

// Report pieces come by the thousand in a large network: the page receives what changed at most
// this often (and at every stage poll, warning and the end), not one event per piece.
constexpr std::chrono::milliseconds kReportFlushInterval{100};

// The JSON text of an event. Program texts are not always UTF-8: such bytes become U+FFFD rather
// than failing the event.
std::string eventText(const Json& data) {
    return data.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json finiteOrNull(double value) {
    return std::isfinite(value) ? Json(value) : Json(nullptr);
}

}  // namespace

const char* outcomeName(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::kRunning:
            return "running";
        case RunOutcome::kAdjusted:
            return "adjusted";
        case RunOutcome::kNotAdjusted:
            return "not adjusted";
        case RunOutcome::kAborted:
            return "aborted";
        case RunOutcome::kCancelledAtWarning:
            return "cancelled at the connectivity warning";
        case RunOutcome::kProgramFailed:
            return "program failed";
    }
    return "unknown";
}

Json reportLinesJson(const ReportDocument& document, std::size_t first) {
    Json lines = Json::array();
    const std::vector<ReportLine>& all = document.lines();
    for (std::size_t n = first; n < all.size(); ++n) {
        Json runs = Json::array();
        for (const TextRun& run : all[n].runs) {
            const TextFormat& f = run.format;
            const int attributes = (f.bold ? 1 : 0) | (f.italic ? 2 : 0) | (f.underline ? 4 : 0);
            runs.push_back(Json::array({run.text, f.colour, attributes, f.halfPoints}));
        }
        lines.push_back(Json{{"centred", all[n].centred}, {"runs", std::move(runs)}});
    }
    return lines;
}

Json resultsJson(const NetworkResults& r) {
    Json statistics{
        {"succeeded", r.succeeded},
        {"hasResults", r.hasAdjustmentRecord && r.succeeded},
        {"minimallyConstrained", r.minimallyConstrained},
        {"observations", r.observations},
        {"unknowns", r.unknowns},
        {"degreesOfFreedom", r.degreesOfFreedom},
        {"iterations", r.iterations},
        {"chiSquare", finiteOrNull(r.chiSquare)},
        {"chiSquareLower", finiteOrNull(r.chiSquareLower)},
        {"chiSquareUpper", finiteOrNull(r.chiSquareUpper)},
        {"chiSquarePassed", r.succeeded && r.chiSquarePassed()},
        {"tauCriticalValue", finiteOrNull(r.tauCriticalValue)},
        {"unitWeightStandardError", finiteOrNull(r.unitWeightStandardError)},
        {"confidenceLevel", finiteOrNull(r.confidenceLevel)},
        {"ellipseFactor", horizontalConfidenceFactor(r.confidenceLevel)},
        {"flagged", r.flaggedCount()},
    };
    Json sites = Json::array();
    for (const SiteResult& s : r.sites) {
        sites.push_back(Json{
            {"adjusted", s.adjusted},
            {"latitude", finiteOrNull(s.adjustedLatitude)},
            {"longitude", finiteOrNull(s.adjustedLongitude)},
            {"elevation", finiteOrNull(s.adjustedElevation)},
            {"sigmas", Json::array({finiteOrNull(s.sigmaNorth), finiteOrNull(s.sigmaEast),
                                    finiteOrNull(s.sigmaUp)})},
            {"east", finiteOrNull(s.east)},
            {"north", finiteOrNull(s.north)},
        });
    }
    Json vectors = Json::array();
    for (const VectorResult& v : r.vectors) {
        Json residual = Json::array(), normalized = Json::array();
        for (int k = 0; k < 3; ++k) {
            residual.push_back(finiteOrNull(v.residual[k]));
            normalized.push_back(finiteOrNull(v.normalized[k]));
        }
        vectors.push_back(Json{
            {"adjusted", v.adjusted},
            {"residual", std::move(residual)},
            {"normalized", std::move(normalized)},
            {"largestNormalized", finiteOrNull(v.largestNormalized)},
            {"flagged", v.flagged},
        });
    }
    return Json{{"statistics", std::move(statistics)},
                {"sites", std::move(sites)},
                {"vectors", std::move(vectors)}};
}

AdjustmentRun::AdjustmentRun(RunStart request) : request_(std::move(request)) {}

AdjustmentRun::~AdjustmentRun() {
    cancel();
    join();
}

void AdjustmentRun::start() {
    thread_ = std::thread([this] { serve(); });
}

void AdjustmentRun::cancel() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!cancelRequested_) {
            cancelledAt_ = std::chrono::steady_clock::now().time_since_epoch().count();
        }
        cancelRequested_ = true;
    }
    warningAnswered_.notify_all();
}

bool AdjustmentRun::answerWarning(bool ok) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!warningPending_ || warningAnswer_) {
            return false;
        }
        warningAnswer_ = ok;
    }
    warningAnswered_.notify_all();
    return true;
}

void AdjustmentRun::kill() {
    killRequested_ = true;
    cancel();
}

bool AdjustmentRun::cancelOverdue() const {
    if (!cancelRequested_) {
        return false;
    }
    const std::chrono::steady_clock::duration since =
        std::chrono::steady_clock::now().time_since_epoch() -
        std::chrono::steady_clock::duration(cancelledAt_.load());
    return since >= kCancelGrace;
}

void AdjustmentRun::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool AdjustmentRun::onPoll(int stage) {
    bool abort = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        flushReport();
        lastStage_ = stage;
        abort = stage != kFinalStage && cancelRequested_;
    }
    events_.publish("progress", eventText(Json{{"stage", stage},
                                               {"description", stageDescription(stage)},
                                               {"aborting", abort}}));
    return abort;
}

void AdjustmentRun::onReportPiece(std::uint32_t dataWord, std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex_);
    report_.addPiece(dataWord, text);
    if ((dataWord & link::kDataWordAtSelection) == 0) {
        reportReplaced_ = true;
    }
    if (std::chrono::steady_clock::now() - lastFlush_ >= kReportFlushInterval) {
        flushReport();
    }
}

// Called with mutex_ held.
void AdjustmentRun::flushReport() {
    const std::size_t count = report_.lines().size();
    if (!reportReplaced_ && count == reportLinesSent_ && count > 0 &&
        report_.lines().back().runs.empty()) {
        return;  // nothing new: the open last line is still empty
    }
    const std::size_t first = reportReplaced_ || reportLinesSent_ == 0 ? 0 : reportLinesSent_ - 1;
    events_.publish("report",
                    eventText(Json{{"from", first}, {"lines", reportLinesJson(report_, first)}}));
    reportLinesSent_ = count;
    reportReplaced_ = false;
    lastFlush_ = std::chrono::steady_clock::now();
}

bool AdjustmentRun::onWarning(const std::string& text, const std::string& caption) {
    std::unique_lock<std::mutex> lock(mutex_);
    flushReport();
    warningPending_ = true;
    warningAnswer_.reset();
    events_.publish("warning", eventText(Json{{"text", text}, {"caption", caption}}));
    // The program waits for the answer as it would for a modal box: nothing else happens on the
    // link meanwhile. Cancel and the server's end answer it too.
    warningAnswered_.wait(lock, [&] { return warningAnswer_.has_value() || cancelRequested_; });
    const bool accepted = warningAnswer_.value_or(false) && !cancelRequested_;
    warningPending_ = false;
    events_.publish("warningAnswered", eventText(Json{{"ok", accepted}}));
    return accepted;
}

RunCallbacks AdjustmentRun::callbacks() {
    RunCallbacks callbacks;
    callbacks.engineChosen = [this](const EngineDecision& engine) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            engine_ = engine.name;
        }
        events_.publish(
            "engine", eventText(Json{{"program", engine.name}, {"sitesInUse", engine.sitesInUse}}));
    };
    callbacks.started = [this] {
        events_.publish("started", eventText(Json{{"id", request_.id}}));
    };
    callbacks.link.pollAbort = [this](int stage) { return onPoll(stage); };
    callbacks.link.reportPiece = [this](std::uint32_t dataWord, std::string_view text) {
        onReportPiece(dataWord, text);
        return true;
    };
    callbacks.link.warningBox = [this](const std::string& text, const std::string& caption) {
        return onWarning(text, caption);
    };
    callbacks.link.killRequested = [this] { return killRequested_.load() || cancelOverdue(); };
    return callbacks;
}

namespace {

// How the run ended for the page, and the note that says why when it did not end by itself.
RunOutcome outcomeOf(const RunResult& run, std::string& notes) {
    if (run.child.killed) {
        return RunOutcome::kAborted;  // cancelled, and ended when it did not stop by itself
    }
    if (!run.child.completed()) {
        return RunOutcome::kProgramFailed;
    }
    if (run.aborted()) {
        notes += "The adjustment was aborted at stage " + std::to_string(run.abortStage) + ".\n";
        return RunOutcome::kAborted;
    }
    if (run.cancelledAtWarning()) {
        return RunOutcome::kCancelledAtWarning;
    }
    return run.view.results.succeeded ? RunOutcome::kAdjusted : RunOutcome::kNotAdjusted;
}

}  // namespace

void AdjustmentRun::serve() {
    auto run = std::make_shared<RunResult>(runAdjustment(request_.adjustment, callbacks()));
    if (!run->error.empty()) {
        finish(run->error + "\n", RunOutcome::kProgramFailed);
        return;
    }
    std::string notes = run->notes;
    const RunOutcome outcome = outcomeOf(*run, notes);
    for (const std::string& problem : run->problems) {
        notes += problem + "\n";
    }
    {
        // The report pane gets the report again, now with the sites' full names.
        std::lock_guard<std::mutex> lock(mutex_);
        report_ = run->report;
        reportReplaced_ = true;
        run_ = std::move(run);
    }
    finish(notes, outcome);
}

void AdjustmentRun::finish(const std::string& notes, RunOutcome outcome) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        flushReport();
        notes_ = notes;
        outcome_ = outcome;
        finished_ = true;
    }
    events_.publish("done", eventText(results()));
    events_.close();
}

Json AdjustmentRun::summary() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Json s{{"id", request_.id},
           {"projectSerial", request_.projectSerial},
           {"title", documentTitle(request_.adjustment.header, request_.adjustment.input,
                                   request_.adjustment.sourceName)},
           {"engine", engine_},
           {"outcome", outcomeName(outcome_)},
           {"finished", finished_.load()},
           {"stage", lastStage_},
           {"changes", request_.changes}};
    // An aborted or failed run leaves the input's statistics in its output: they are no result.
    if (run_ && run_->outputRead && run_->view.results.hasAdjustmentRecord &&
        run_->view.results.succeeded) {
        const NetworkResults& r = run_->view.results;
        s["succeeded"] = r.succeeded;
        s["chiSquare"] = finiteOrNull(r.chiSquare);
        s["chiSquareLower"] = finiteOrNull(r.chiSquareLower);
        s["chiSquareUpper"] = finiteOrNull(r.chiSquareUpper);
        s["chiSquarePassed"] = r.succeeded && r.chiSquarePassed();
        s["unitWeightStandardError"] = finiteOrNull(r.unitWeightStandardError);
        s["degreesOfFreedom"] = r.degreesOfFreedom;
        s["flagged"] = r.flaggedCount();
    }
    return s;
}

namespace {

// The largest placed file a download reads: a data set of the largest project with its results.
constexpr std::size_t kMaximumDownload = kMaximumProjectSize * 4;

// The placed statistics file of a rigorous run as JSON for the page; null when it cannot be read.
Json statisticsJson(const std::string& path) {
    std::string text, error;
    if (!readWholeFile(path, kMaximumDownload, text, error)) {
        return nullptr;
    }
    return Json::parse(text, nullptr, false);
}

}  // namespace

Json AdjustmentRun::results() const {
    Json all{{"summary", summary()}};
    std::lock_guard<std::mutex> lock(mutex_);
    if (!finished_) {
        return Json(nullptr);
    }
    all["notes"] = notes_;
    all["downloads"] = Json::array();
    if (run_ && run_->outputRead) {
        all.update(resultsJson(run_->view.results));
    }
    all["model"] = adjustmentModelName(request_.adjustment.choices.model);
    all["problems"] = run_ ? Json(run_->problems) : Json::array();
    if (run_ && run_->finished && run_->placed) {
        all["downloads"] = Json::array({"dataset", "rtf", "html", "csv", "json", "svg"});
        if (run_->statisticsWritten) {
            all["downloads"].push_back("statistics");
            all["rigorous"] = statisticsJson(run_->files.statistics);
        }
    } else {
        all["downloads"] = Json::array({"rtf"});
    }
    return all;
}

namespace {

// A download of the run: its file name and content type.
struct DownloadKind {
    const char* kind;
    const char* extension;
    const char* contentType;
};

constexpr DownloadKind kDownloads[] = {
    {"dataset", ".dat", "application/octet-stream"},
    {"rtf", ".rtf", "application/rtf"},
    {"html", ".html", "text/html; charset=utf-8"},
    {"csv", ".csv", "text/csv; charset=utf-8"},
    {"json", ".json", "application/json"},
    {"svg", ".svg", "image/svg+xml"},
    {"statistics", ".statistics.json", "application/json"},
};

// The bytes of a download of a run that placed its outputs: the placed file where there is one,
// else made from the results.
bool placedDownload(const std::string& kind, const RunResult& run, const SiteNameTable& names,
                    std::string& bytes) {
    const RunFilePaths& files = run.files;
    const std::string placed = kind == "dataset"      ? files.dataSet
                               : kind == "rtf"        ? files.rtf
                               : kind == "html"       ? files.html
                               : kind == "csv"        ? files.csv
                               : kind == "statistics" ? files.statistics
                                                      : std::string();
    std::string error;
    if (kind == "statistics" && placed.empty()) {
        return false;  // a classic run, or one whose statistics could not be read
    }
    if (!placed.empty()) {
        return readWholeFile(placed, kMaximumDownload, bytes, error);
    }
    if (kind == "json") {
        bytes = exportProjectText(run.output, names);
    } else {
        bytes = renderNetworkSvg(run.view.results, run.view.plot);
    }
    return true;
}

}  // namespace

bool AdjustmentRun::download(const std::string& kind, std::string& bytes, std::string& fileName,
                             std::string& contentType) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const DownloadKind* found = nullptr;
    for (const DownloadKind& known : kDownloads) {
        found = kind == known.kind ? &known : found;
    }
    if (!finished_ || found == nullptr) {
        return false;
    }
    fileName = request_.fileStem + found->extension;
    contentType = found->contentType;
    if (run_ && run_->finished && run_->placed) {
        return placedDownload(kind, *run_, request_.adjustment.names, bytes);
    }
    if (kind == "rtf") {
        bytes = renderRtf(report_);  // the report of a run that did not reach its end
        return true;
    }
    return false;
}

}  // namespace torvek::front::serve
