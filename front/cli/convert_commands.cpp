#include "front/cli/convert_commands.h"

#include <cstdio>

#include "dataset/adjusted_data_set.h"
#include "front/checks/network_checks.h"
#include "front/cli/adjust_command.h"
#include "front/documents/csv_export.h"
#include "front/documents/gis_export.h"
#include "front/documents/grid_coordinates.h"
#include "front/documents/results_document.h"
#include "front/documents/site_coordinates.h"
#include "front/files/file_output.h"
#include "front/files/run_files.h"
#include "front/project/project_fields.h"
#include "front/project/project_json.h"
#include "front/results/network_results.h"
#include "front/text/messages.h"

namespace torvek::front {

namespace {

bool writeDataSet(const std::string& path, const AdjustedDataSet& dataSet) {
    const std::vector<std::uint8_t> image = dataSet.writeImage();
    std::string error;
    if (!writeFileAtomically(
            path, std::string_view(reinterpret_cast<const char*>(image.data()), image.size()),
            error)) {
        printMessage("torvek-front: " + error + "\n");
        return false;
    }
    printMessage(path + ": " + std::to_string(dataSet.siteCount()) + " sites, " +
                 std::to_string(dataSet.vectorCount()) + " vectors\n");
    return true;
}

// The data set has no room for the texts of the result documents' header: a person who keeps
// the data set instead of the project learns that they stay behind.
void noteDocumentFields(const Json& document) {
    std::string given;
    for (const char* key : fields::kDocumentFields) {
        if (document.is_object() && document.contains(key)) {
            given += std::string(given.empty() ? "" : ", ") + "\"" + key + "\"";
        }
    }
    if (!given.empty()) {
        printMessage("note: the data set does not keep " + given +
                     ": they head the result documents when adjust runs the project itself\n");
    }
}

// The project document goes out as it converts; whether it becomes a data set is checked after,
// so that a person can fix in the project what stops it (a name collision, say).
int writeProject(const ImportRequest& request) {
    Json document;
    std::string sourceName, error;
    ImportReport imported;
    if (!readInputDocument(request.inputs, request.survey, document, sourceName, imported)) {
        printMessage("torvek-front: " + imported.error + "\n");
        return kExitBadInput;
    }
    printMessages("note: ", imported.notes);
    printMessages("warning: ", imported.warnings);
    if (!writeFileAtomically(request.output, projectText(document), error)) {
        printMessage("torvek-front: " + error + "\n");
        return kExitBadInput;
    }
    AdjustedDataSet check;
    ImportOptions options;
    options.withResults = request.withResults;
    ImportReport report;
    const bool builds = importProjectDocument(document, sourceName, options, check, report);
    report.error = withVectorPlace(report.error, imported.vectorPlaces);
    printMessages("note: ", report.notes);
    printMessages("warning: ", report.warnings);
    if (!builds) {
        printMessage("warning: the project is written but does not yet become a data set: " +
                     report.error + "\n");
    } else {
        printNetworkFindings(check, report.siteNames);
    }
    printMessage(request.output + ": " + std::to_string(document["sites"].size()) + " sites, " +
                 std::to_string(document["vectors"].size()) + " vectors\n");
    return 0;
}

}  // namespace

int runImportRequest(const ImportRequest& request) {
    const std::string clash = outputNamingAnInput({request.output}, request.inputs);
    if (!clash.empty()) {
        printMessage("torvek-front: " + clash + " is an input; name another output\n");
        return kExitBadInput;
    }
    if (request.projectOutput) {
        return writeProject(request);
    }
    AdjustedDataSet dataSet;
    ImportOptions options;
    options.withResults = request.withResults;
    SiteNameTable names;
    Json document;
    if (!buildInputDataSet(request.inputs, request.survey, options, dataSet, names, &document)) {
        return kExitBadInput;
    }
    printNetworkFindings(dataSet, names);
    noteDocumentFields(document);
    return writeDataSet(request.output, dataSet) ? 0 : kExitBadInput;
}

int runImport(const std::string& projectPath, const std::string& dataSetPath, bool withResults) {
    return runImportRequest({{projectPath}, dataSetPath, false, withResults, {}});
}

int runExport(const ExportRequest& request) {
    std::vector<std::string> outputs;
    for (const std::string* path : {&request.output, &request.geoJson, &request.kml}) {
        if (path->empty()) {
            continue;
        }
        for (const std::string& other : outputs) {
            if (samePath(other, *path)) {
                printMessage("torvek-front: " + *path + " is named for two outputs\n");
                return kExitBadInput;
            }
        }
        outputs.push_back(*path);
    }
    std::vector<std::string> inputs = request.names;
    inputs.push_back(request.dataSet);
    const std::string clash = outputNamingAnInput(outputs, inputs);
    if (!clash.empty()) {
        printMessage("torvek-front: " + clash + " is an input; name another output\n");
        return kExitBadInput;
    }
    AdjustedDataSet dataSet;
    if (!dataSet.readFile(request.dataSet)) {
        printMessage("torvek-front: " + request.dataSet + ": cannot be read as a data set\n");
        return kExitBadInput;
    }
    const std::string truncated = truncationWarning(request.dataSet, dataSet);
    if (!truncated.empty()) {
        printMessage("warning: " + truncated + "\n");
    }
    SiteNameTable names;
    std::string error;
    if (!request.names.empty() && !readSiteNames(request.names, request.survey, names, error)) {
        printMessage("torvek-front: --names: " + error + "\n");
        return kExitBadInput;
    }
    if (!request.geoJson.empty() || !request.kml.empty()) {
        NetworkResults results = collectResults(dataSet, names);
        GridSystem grid;
        if (!request.crs.empty() && !grid.open(request.crs, networkPlace(results), error)) {
            printMessage("torvek-front: --crs: " + error + "\n");
            return kExitBadInput;
        }
        const std::string title = results.title.empty() ? request.dataSet : results.title;
        const ResultsView view = makeResultsView(std::move(results), DocumentHeader{}, &grid);
        if ((!request.geoJson.empty() &&
             !writeFileAtomically(request.geoJson, renderGeoJson(title, view), error)) ||
            (!request.kml.empty() &&
             !writeFileAtomically(request.kml, renderKml(title, view), error))) {
            printMessage("torvek-front: " + error + "\n");
            return kExitBadInput;
        }
    }
    if (!request.writeProject) {
        return 0;
    }
    const SiteNameTable* shown = request.names.empty() ? nullptr : &names;
    const std::string text = request.format == ExportFormat::kCsv
                                 ? exportCsv(dataSet, shown)
                                 : exportProjectText(dataSet, names);
    if (request.output.empty()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : kExitBadInput;
    }
    if (!writeFileAtomically(request.output, text, error)) {
        printMessage("torvek-front: " + error + "\n");
        return kExitBadInput;
    }
    return 0;
}

}  // namespace torvek::front
