#pragma once

#include <string>

namespace torvek::front {

// `import PROJECT.json DATA-SET [--with-results]`: builds the data set file from the project.
// Notes go to the standard error stream; on any error nothing is written. Returns an exit code
// (0, or kExitBadInput).
int runImport(const std::string& projectPath, const std::string& dataSetPath, bool withResults);

enum class ExportFormat { kJson, kCsv };

// `export DATA-SET [--json|--csv] [-o FILE]`: writes every field of the data set, results
// included, to FILE or, when `outputPath` is empty, to the standard output.
int runExport(const std::string& dataSetPath, ExportFormat format, const std::string& outputPath);

}  // namespace torvek::front
