#pragma once

#include <string>
#include <vector>

#include "front/survey_input.h"

namespace torvek::front {

// `import PROJECT.json DATA-SET [--with-results]`: builds the data set file from the project.
// Notes go to the standard error stream; on any error nothing is written. Returns an exit code
// (0, or kExitBadInput).
int runImport(const std::string& projectPath, const std::string& dataSetPath, bool withResults);

// `import FILE... -o OUTPUT`: converts a project or survey files (a DynaML pair as its two files)
// into a project document (`projectOutput`) or a data set. Nothing is written over an input; a
// project that converts but cannot become a data set yet (say, two names that read alike in four
// characters) is still written, with a warning saying why. Returns 0 or kExitBadInput.
struct ImportRequest {
    std::vector<std::string> inputs;
    std::string output;
    bool projectOutput = false;
    bool withResults = false;
    SurveyOptions survey;
};
int runImportRequest(const ImportRequest& request);

enum class ExportFormat { kJson, kCsv };

// `export DATA-SET [--json|--csv] [-o FILE]`: writes every field of the data set, results
// included, to FILE or, when `outputPath` is empty, to the standard output.
int runExport(const std::string& dataSetPath, ExportFormat format, const std::string& outputPath);

}  // namespace torvek::front
