#include "front/convert_commands.h"

#include <cstdio>

#include "dataset/adjusted_data_set.h"
#include "front/adjust_command.h"
#include "front/csv_export.h"
#include "front/file_output.h"
#include "front/project_json.h"
#include "front/run_files.h"

namespace torvek::front {

namespace {

bool writeDataSet(const std::string& path, const AdjustedDataSet& dataSet) {
    const std::vector<std::uint8_t> image = dataSet.writeImage();
    std::string error;
    if (!writeFileAtomically(
            path, std::string_view(reinterpret_cast<const char*>(image.data()), image.size()),
            error)) {
        std::fprintf(stderr, "torvek-front: %s\n", error.c_str());
        return false;
    }
    std::fprintf(stderr, "%s: %d sites, %d vectors\n", path.c_str(), dataSet.siteCount(),
                 dataSet.vectorCount());
    return true;
}

// The project document goes out as it converts; whether it becomes a data set is checked after,
// so that a person can fix in the project what stops it (a name collision, say).
int writeProject(const ImportRequest& request) {
    Json document;
    std::string sourceName, error;
    ImportReport imported;
    if (!readInputDocument(request.inputs, request.survey, document, sourceName, imported)) {
        std::fprintf(stderr, "torvek-front: %s\n", imported.error.c_str());
        return kExitBadInput;
    }
    for (const std::string& note : imported.notes) {
        std::fprintf(stderr, "note: %s\n", note.c_str());
    }
    for (const std::string& warning : imported.warnings) {
        std::fprintf(stderr, "warning: %s\n", warning.c_str());
    }
    if (!writeFileAtomically(request.output, projectText(document), error)) {
        std::fprintf(stderr, "torvek-front: %s\n", error.c_str());
        return kExitBadInput;
    }
    AdjustedDataSet check;
    ImportOptions options;
    options.withResults = request.withResults;
    ImportReport report;
    const bool builds = importProjectDocument(document, sourceName, options, check, report);
    for (const std::string& note : report.notes) {
        std::fprintf(stderr, "note: %s\n", note.c_str());
    }
    for (const std::string& warning : report.warnings) {
        std::fprintf(stderr, "warning: %s\n", warning.c_str());
    }
    if (!builds) {
        std::fprintf(stderr,
                     "warning: the project is written but does not yet become a data set: %s\n",
                     report.error.c_str());
    }
    std::fprintf(stderr, "%s: %zu sites, %zu vectors\n", request.output.c_str(),
                 document["sites"].size(), document["vectors"].size());
    return 0;
}

}  // namespace

int runImportRequest(const ImportRequest& request) {
    const std::string clash = outputNamingAnInput({request.output}, request.inputs);
    if (!clash.empty()) {
        std::fprintf(stderr, "torvek-front: %s is an input; name another output\n", clash.c_str());
        return kExitBadInput;
    }
    if (request.projectOutput) {
        return writeProject(request);
    }
    AdjustedDataSet dataSet;
    ImportOptions options;
    options.withResults = request.withResults;
    if (!buildInputDataSet(request.inputs, request.survey, options, dataSet)) {
        return kExitBadInput;
    }
    return writeDataSet(request.output, dataSet) ? 0 : kExitBadInput;
}

int runImport(const std::string& projectPath, const std::string& dataSetPath, bool withResults) {
    return runImportRequest({{projectPath}, dataSetPath, false, withResults, {}});
}

int runExport(const std::string& dataSetPath, ExportFormat format, const std::string& outputPath) {
    AdjustedDataSet dataSet;
    if (!dataSet.readFile(dataSetPath)) {
        std::fprintf(stderr, "torvek-front: %s: cannot be read as a data set\n",
                     dataSetPath.c_str());
        return kExitBadInput;
    }
    const std::string truncated = truncationWarning(dataSetPath, dataSet);
    if (!truncated.empty()) {
        std::fprintf(stderr, "warning: %s\n", truncated.c_str());
    }
    const std::string text =
        format == ExportFormat::kCsv ? exportCsv(dataSet) : exportProjectText(dataSet);
    if (outputPath.empty()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : kExitBadInput;
    }
    std::string error;
    if (!writeFileAtomically(outputPath, text, error)) {
        std::fprintf(stderr, "torvek-front: %s\n", error.c_str());
        return kExitBadInput;
    }
    return 0;
}

}  // namespace torvek::front
