#include "front/run/preanalysis_run.h"

#include <atomic>
#include <chrono>
#include <string>

#include "front/documents/report_document.h"
#include "front/files/run_files.h"
#include "front/run/link_server.h"
#include "front/run/run_programs.h"
#include "front/run/run_service.h"

namespace torvek::front {
namespace {

// The first error line of the program's report, to say why a pre-analysis has no statistics.
std::string reportError(const ReportDocument& report) {
    const std::string text = report.plainText();
    const std::size_t at = text.find("Error:");
    if (at == std::string::npos) {
        return {};
    }
    return text.substr(at, text.find('\n', at) - at);
}

}  // namespace

PreanalysisResult runPreanalysis(const AdjustedDataSet& input, const SiteNameTable& names,
                                 const std::string& program, const std::string& workFolder) {
    const auto start = std::chrono::steady_clock::now();
    PreanalysisResult result;
    // Each pre-analysis has a folder of its own: two may run at once (the Plan tab asks again
    // while an answer is still coming), and a shared name made the second one "busy".
    static std::atomic<unsigned long> sequence{0};
    const std::string name = "/preanalysis-" + std::to_string(++sequence) + ".dat";
    RunFolder folder;
    if (!folder.create(workFolder + name, result.error)) {
        return result;
    }
    const std::string inputPath = folder.file("input.dat");
    const std::string statisticsPath = folder.file("statistics.json");
    DataSetContents prepared;
    if (!decodeDataSet(input.writeImage(), prepared) ||
        (clearRunResults(prepared), !writeDataSetFile(inputPath, prepared))) {
        result.error = "the planned network cannot be written for the program";
        return result;
    }
    RunChoices choices;
    choices.model = AdjustmentModel::kRigorous;
    choices.preanalysis = true;
    ReportDocument report;
    LinkHandlers handlers;
    handlers.reportPiece = [&report](std::uint32_t dataWord, std::string_view text) {
        report.addPiece(dataWord, text);
        return true;
    };
    handlers.warningBox = [](const std::string&, const std::string&) { return true; };
    const ChildOutcome child = runLinkedChild(
        locateLargeProgram(program),
        programArguments(choices, inputPath, folder.file("output.dat"), statisticsPath), handlers,
        folder.path());
    if (!child.completed()) {
        result.error = child.describe("torvek-large");
    } else if (!readRigorousStatistics(statisticsPath, names, result.statistics, result.error)) {
        const std::string said = reportError(report);
        result.error = said.empty() ? "the program gave no precisions for this plan" : said;
    } else {
        result.ok = true;
    }
    result.elapsedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

}  // namespace torvek::front
