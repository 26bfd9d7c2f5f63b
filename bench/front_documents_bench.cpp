// The documents of a run of the real national network beside the project (232 sites, 5589
// vectors, 1673 of them flagged), each rendered from the same results into a sink that only
// counts the bytes: what each costs of the whole `torvek-front adjust` apart from the writing.
// The network is adjusted once by torvek, in a scratch folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "front/documents/gis_export.h"
#include "front/documents/html_page.h"
#include "front/documents/report_document.h"
#include "front/documents/results_rtf.h"
#include "front/project/site_name_mapping.h"
#include "front/results/network_results.h"
#include "support/national_network.h"

namespace torvek {
namespace {

// The view of the adjusted national network, or nothing (with `problem`) when it is not beside
// the project or torvek fails.
const std::optional<front::ResultsView>& nationalResults(std::string& problem) {
    static std::string why;
    static const std::optional<front::ResultsView> view =
        [&]() -> std::optional<front::ResultsView> {
        char folder[] = "/tmp/torvek-bench-documents-XXXXXX";
        if (::mkdtemp(folder) == nullptr) {
            why = "no scratch folder";
            return std::nullopt;
        }
        const std::string input = std::string(folder) + "/national.dat";
        const std::string output = std::string(folder) + "/adjusted.dat";
        testing::SyntheticNetwork network;
        if (!testing::loadNationalNetwork(
                std::string(TORVEK_SOURCE_DIR) + "/" + testing::kNationalNetworkFile, network,
                why) ||
            !network.toDataSet().writeFile(input)) {
            return std::nullopt;
        }
        const std::string command =
            std::string(TORVEK_BINARY) + " " + input + " " + output + " >/dev/null 2>&1";
        AdjustedDataSet adjusted;
        const bool read = std::system(command.c_str()) == 0 && adjusted.readFile(output);
        ::unlink(input.c_str());
        ::unlink(output.c_str());
        ::rmdir(folder);
        if (!read) {
            why = "torvek did not adjust it";
            return std::nullopt;
        }
        return front::makeResultsView(front::collectResults(adjusted, front::SiteNameTable{}),
                                      front::DocumentHeader{}, nullptr);
    }();
    problem = why;
    return view;
}

// Runs `render` (which writes into a sink) once an iteration and counts what it wrote.
template <typename Render>
void measure(benchmark::State& state, Render render) {
    std::string problem;
    const auto& view = nationalResults(problem);
    if (!view) {
        state.SkipWithError(problem.c_str());
        return;
    }
    std::size_t bytes = 0;
    const front::TextSink sink = [&bytes](std::string_view piece) { bytes += piece.size(); };
    for (auto _ : state) {
        render(*view, sink);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void nationalGeoJson(benchmark::State& state) {
    measure(state, [](const front::ResultsView& v, const front::TextSink& sink) {
        front::writeGeoJson("national", v, front::GeoJsonLayers::kSitesAndVectors, sink);
    });
}
BENCHMARK(nationalGeoJson)->Unit(benchmark::kMillisecond);

void nationalKml(benchmark::State& state) {
    measure(state, [](const front::ResultsView& v, const front::TextSink& sink) {
        front::writeKml("national", v, sink);
    });
}
BENCHMARK(nationalKml)->Unit(benchmark::kMillisecond);

// The RTF and HTML reports with the tables they share, and an empty program report.
void nationalReports(benchmark::State& state) {
    measure(state, [](const front::ResultsView& v, const front::TextSink& sink) {
        const front::ReportDocument report;
        const front::ResultsDocument tables = front::buildResultsDocument("national", v);
        sink(front::renderRtfDocument(tables, report, ""));
        sink(front::renderHtmlPage("national", report, v, tables, ""));
    });
}
BENCHMARK(nationalReports)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace torvek
