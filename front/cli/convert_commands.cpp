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
#include "front/project/site_name_file.h"
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
    const ProjectFrame frame = projectFrame(document);
    if (!frame.crs.empty() || frame.epoch) {
        std::fprintf(stderr,
                     "note: the data set does not keep settings.frame and settings.epoch: adjust "
                     "takes them from the project itself, or from --frame and --epoch\n");
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

// The full names of a data set's sites beside it, for export and adjust to show; none for a data
// set whose sites have no names beyond their codes (one converted back from an export, say).
bool writeSiteNames(const std::string& dataSetPath, const SiteNameTable& names) {
    if (names.empty()) {
        return true;
    }
    const std::string path = siteNamesPath(dataSetPath);
    std::string error;
    if (!writeFileAtomically(path, siteNamesText(names), error)) {
        std::fprintf(stderr, "torvek-front: %s\n", error.c_str());
        return false;
    }
    return true;
}

// The full names of the sites of the data set at `path`: from the files of --names when given,
// else from the names file beside it. With neither, says that the codes are all there is. False,
// after saying why, when --names cannot be read.
bool exportSiteNames(const ExportRequest& request, const AdjustedDataSet& dataSet,
                     SiteNameTable& names) {
    std::string error;
    if (!request.names.empty()) {
        if (!readSiteNames(request.names, request.survey, names, error)) {
            std::fprintf(stderr, "torvek-front: --names: %s\n", error.c_str());
            return false;
        }
        return true;
    }
    const std::string beside = siteNamesPath(request.dataSet);
    switch (readSiteNamesFile(beside, dataSet, names, error)) {
        case SiteNamesFound::kNames:
            return true;
        case SiteNamesFound::kUnusable:
            std::fprintf(stderr, "warning: %s\n", error.c_str());
            break;
        case SiteNamesFound::kNone:
            break;
    }
    std::fprintf(stderr,
                 "note: no full site names for %s (no %s beside it, no --names): the sites are "
                 "written by their four-character codes\n",
                 request.dataSet.c_str(), beside.c_str());
    return true;
}

}  // namespace

int runImportRequest(const ImportRequest& request) {
    std::vector<std::string> outputs = {request.output};
    if (!request.projectOutput) {
        outputs.push_back(siteNamesPath(request.output));
    }
    const std::string clash = outputNamingAnInput(outputs, request.inputs);
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
    return writeDataSet(request.output, dataSet) && writeSiteNames(request.output, names)
               ? 0
               : kExitBadInput;
}

int runImport(const std::string& projectPath, const std::string& dataSetPath, bool withResults) {
    return runImportRequest({{projectPath}, dataSetPath, false, withResults, {}});
}

namespace {

// The GIS files `request` names, of `results`; false, after saying why, when the grid system
// cannot be opened or a file cannot be written.
bool writeGisFiles(const ExportRequest& request, NetworkResults results) {
    GridSystem grid;
    std::string error;
    if (!request.crs.empty() &&
        !grid.open(request.crs, networkPlace(results), request.frame, error)) {
        printMessage("torvek-front: --crs: " + error + "\n");
        return false;
    }
    const std::string title = results.title.empty() ? request.dataSet : results.title;
    const ResultsView view = makeResultsView(std::move(results), DocumentHeader{}, &grid);
    // With a file of their own the vectors leave the sites' file: one geometry type in each.
    const GeoJsonLayers layers =
        request.geoJsonVectors.empty() ? GeoJsonLayers::kSitesAndVectors : GeoJsonLayers::kSites;
    const auto geoJson = [&](const std::string& path, GeoJsonLayers kept) {
        return path.empty() ||
               writeFileInPieces(
                   path, [&](const TextSink& sink) { writeGeoJson(title, view, kept, sink); },
                   error);
    };
    const bool written =
        geoJson(request.geoJson, layers) &&
        geoJson(request.geoJsonVectors, GeoJsonLayers::kVectors) &&
        (request.kml.empty() ||
         writeFileInPieces(
             request.kml, [&](const TextSink& sink) { writeKml(title, view, sink); }, error));
    if (!written) {
        printMessage("torvek-front: " + error + "\n");
    }
    return written;
}

}  // namespace

int runExport(const ExportRequest& request) {
    std::vector<std::string> outputs;
    for (const std::string* path :
         {&request.output, &request.geoJson, &request.geoJsonVectors, &request.kml}) {
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
    if (!exportSiteNames(request, dataSet, names)) {
        return kExitBadInput;
    }
    if (!request.geoJson.empty() || !request.geoJsonVectors.empty() || !request.kml.empty()) {
        if (!writeGisFiles(request, collectResults(dataSet, names))) {
            return kExitBadInput;
        }
    }
    if (!request.writeProject) {
        return 0;
    }
    const SiteNameTable* shown = names.empty() ? nullptr : &names;
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
