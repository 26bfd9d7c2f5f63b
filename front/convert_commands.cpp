#include "front/convert_commands.h"

#include <cstdio>

#include "dataset/adjusted_data_set.h"
#include "front/adjust_command.h"
#include "front/csv_export.h"
#include "front/file_output.h"
#include "front/project_json.h"
#include "front/run_files.h"

namespace torvek::front {

int runImport(const std::string& projectPath, const std::string& dataSetPath, bool withResults) {
    std::string text, error;
    if (!readWholeFile(projectPath, kMaximumProjectSize, text, error)) {
        std::fprintf(stderr, "torvek-front: %s\n", error.c_str());
        return kExitBadInput;
    }
    AdjustedDataSet dataSet;
    ImportOptions options;
    options.withResults = withResults;
    ImportReport report;
    if (!importProject(text, projectPath, options, dataSet, report)) {
        std::fprintf(stderr, "torvek-front: %s\n", report.error.c_str());
        return kExitBadInput;
    }
    for (const std::string& note : report.notes) {
        std::fprintf(stderr, "note: %s\n", note.c_str());
    }
    const std::vector<std::uint8_t> image = dataSet.writeImage();
    if (!writeFileAtomically(
            dataSetPath,
            std::string_view(reinterpret_cast<const char*>(image.data()), image.size()), error)) {
        std::fprintf(stderr, "torvek-front: %s\n", error.c_str());
        return kExitBadInput;
    }
    std::fprintf(stderr, "%s: %d sites, %d vectors\n", dataSetPath.c_str(), dataSet.siteCount(),
                 dataSet.vectorCount());
    return 0;
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
