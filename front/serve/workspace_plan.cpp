// The workspace's planning: the planned vectors of the open project, and the pre-analysis of a
// plan that the page asks for while a person adds and removes vectors.
#include <atomic>
#include <optional>

#include "front/project/project_fields.h"
#include "front/project/project_reading.h"
#include "front/project/site_name_mapping.h"
#include "front/run/preanalysis_run.h"
#include "front/serve/workspace.h"

namespace torvek::front::serve {
namespace {

// Pre-analyses that may go on at once: each is a child process; the page asks again after a pause.
constexpr int kMaximumActivePreanalyses = 2;
std::atomic<int> activePreanalyses{0};

// One part of the sigma model: [metres, ppm].
bool readSigmaTerm(const Json& body, const char* key, SigmaTerm& term, std::string& error) {
    const auto found = body.find(key);
    if (found == body.end()) {
        return true;
    }
    const Json& pair = *found;
    if (!pair.is_array() || pair.size() != 2 || !pair[0].is_number() || !pair[1].is_number()) {
        error = std::string("sigmaModel.") + key + " must be [metres, ppm]";
        return false;
    }
    const double metres = pair[0].get<double>(), ppm = pair[1].get<double>();
    if (!(metres >= 0 && metres <= kLargestSigmaConstant && ppm >= 0 && ppm <= kLargestSigmaPpm) ||
        metres + ppm == 0) {
        error = std::string("sigmaModel.") + key +
                ": metres from 0 to 1 and ppm from 0 to 1000, not both 0";
        return false;
    }
    term = {metres, ppm};
    return true;
}

// The optional "relativeTolerance" of a request body, "20mm+50ppm".
bool readTolerance(const Json& body, std::optional<RelativeTolerance>& tolerance,
                   std::string& error) {
    const auto text = body.find("relativeTolerance");
    if (text == body.end()) {
        return true;
    }
    RelativeTolerance read;
    if (!text->is_string() || !parseRelativeTolerance(text->get<std::string>(), read, error)) {
        error = "relativeTolerance: " +
                (error.empty() ? std::string("expected \"20mm+50ppm\"") : error);
        return false;
    }
    tolerance = read;
    return true;
}

// The counted slot of a pre-analysis, given back when it ends.
struct PreanalysisSlot {
    bool taken = activePreanalyses.fetch_add(1) < kMaximumActivePreanalyses;
    ~PreanalysisSlot() { activePreanalyses.fetch_sub(1); }
};

}  // namespace

bool readPlannedList(const Json& body, Json& planned, std::string& error) {
    const auto found = body.is_object() ? body.find("planned") : body.end();
    if (found == body.end() || !found->is_array()) {
        error = "\"planned\" must be a list of {\"from\", \"to\"}";
        return false;
    }
    if (found->size() > kMaximumPlannedVectors) {
        error = "at most " + std::to_string(kMaximumPlannedVectors) + " planned vectors";
        return false;
    }
    for (std::size_t i = 0; i < found->size(); ++i) {
        const Json& entry = (*found)[i];
        if (!entry.is_object() || !entry.contains("from") || !entry.contains("to") ||
            !entry["from"].is_string() || !entry["to"].is_string()) {
            error = "planned[" + std::to_string(i) + "]: needs \"from\" and \"to\" site names";
            return false;
        }
    }
    planned = *found;
    return true;
}

bool readSigmaModel(const Json& body, SigmaModel& model, std::string& error) {
    const auto found = body.is_object() ? body.find("sigmaModel") : body.end();
    if (found == body.end() || found->is_null()) {
        return true;
    }
    if (!found->is_object()) {
        error = "sigmaModel must be {\"horizontal\": [metres, ppm], \"vertical\": [metres, ppm]}";
        return false;
    }
    SigmaModel read = model;
    if (!readSigmaTerm(*found, "horizontal", read.horizontal, error) ||
        !readSigmaTerm(*found, "vertical", read.vertical, error)) {
        return false;
    }
    model = read;
    return true;
}

bool Workspace::setPlanned(const Json& request, std::string& error) {
    Json planned;
    if (!readPlannedList(request, planned, error)) {
        return false;
    }
    if (!document_.is_object()) {
        error = "the project is not a JSON object";
        return false;
    }
    Json document = document_;
    if (planned.empty()) {
        document.erase("planned");
    } else {
        document["planned"] = planned;
    }
    AdjustedDataSet check;
    ImportReport report;
    if (!importProjectDocument(document, sourceName_, ImportOptions{}, check, report)) {
        error = report.error;
        return false;
    }
    if (document == document_) {
        return true;
    }
    document_ = std::move(document);
    changes_.push_back("plan of " + std::to_string(planned.size()) + " planned vectors");
    unsaved_ = true;
    rebuildView();
    return true;
}

PlanAnswer Workspace::preanalysis(const Json& body) {
    PlanAnswer answer;
    Json planned;
    ImportOptions options;
    options.withPlanned = true;
    if (!readPlannedList(body, planned, answer.error) ||
        !readSigmaModel(body, options.sigmaModel, answer.error)) {
        return answer;
    }
    std::optional<RelativeTolerance> tolerance;
    if (!readTolerance(body, tolerance, answer.error)) {
        return answer;
    }
    AdjustedDataSet dataSet;
    SiteNameTable names;
    std::map<std::string, std::string> codeByName;
    std::string sourceName;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shutDown_ || projectSerial_ == 0) {
            answer.status = 409;
            answer.error = shutDown_ ? "the workspace is closing" : "open a project first";
            return answer;
        }
        refreshPlanBase();
        if (!planBase_.error.empty()) {
            answer.error = planBase_.error;
            return answer;
        }
        dataSet = planBase_.dataSet;
        names = planBase_.names;
        codeByName = planBase_.codeByName;
        sourceName = sourceName_;
    }
    try {
        PrecisionTally tally;
        std::vector<std::string> notes;
        readPlannedVectors(planned, {codeByName, true, options.sigmaModel}, dataSet, tally, notes);
    } catch (const fields::FieldError& e) {
        answer.error = sourceName + ": " + e.where + ": " + e.what;
        return answer;
    }
    const PreanalysisSlot slot;
    if (!slot.taken) {
        answer.status = 409;
        answer.error = "pre-analyses are going on; ask again when one has ended";
        return answer;
    }
    const PreanalysisResult result =
        runPreanalysis(dataSet, names, options_.program, options_.folder);
    if (!result.ok) {
        answer.status = 409;
        answer.error = "the plan has no precisions: " + result.error;
        return answer;
    }
    RigorousStatistics statistics = result.statistics;
    if (tolerance) {
        applyRelativeTolerance(*tolerance, statistics);
    }
    answer.status = 200;
    // The answer is the statistics file with the time it took: added to the text, not parsed and
    // written again, which would cost as much as the pre-analysis of a large network.
    answer.text = statisticsFileText(statistics);
    const std::size_t end = answer.text.rfind('}');
    if (end != std::string::npos) {
        answer.text.insert(end, ",\"elapsedSeconds\":" + std::to_string(result.elapsedSeconds));
    }
    return answer;
}

void Workspace::refreshPlanBase() {
    if (planBase_.revision == revision_) {
        return;
    }
    planBase_ = PlanBase{};
    planBase_.revision = revision_;
    Json document = document_;
    if (document.is_object()) {
        document.erase("planned");
    }
    ImportReport report;
    if (!importProjectDocument(document, sourceName_, ImportOptions{}, planBase_.dataSet, report)) {
        planBase_.error = report.error;
        return;
    }
    planBase_.names = report.siteNames;
    for (const SiteRecord& site : planBase_.dataSet.sites()) {
        const std::string code(site.name.data(), kSiteNameSize);
        planBase_.codeByName[foldAsciiCase(planBase_.names.nameOf(code.c_str()))] = code;
    }
}

}  // namespace torvek::front::serve
