// The browser workspace's own work per request on the national network (232 sites, 5589 vectors):
// serving the page with the project's state, and starting a run (the request returns once the
// program runs; the run itself is the program's time, which wholeRun measures). Skipped when the
// network's file is not beside the project.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "front/import/survey_input.h"
#include "front/serve/workspace_server.h"

namespace torvek {
namespace {

using front::Json;

const std::string kNationalNetwork =
    std::string(TORVEK_SOURCE_DIR) + "/../shared/realdata/sjtsk05-dopnul.gama-g3.xml";
const std::string kToken(64, 'b');

// A server with the national network open, made once for all benchmarks.
struct NationalServer {
    std::string folder;
    std::unique_ptr<front::serve::WorkspaceServer> server;
    std::string error;

    NationalServer() {
        char pattern[] = "/tmp/torvek-serve-bench-XXXXXX";
        folder = ::mkdtemp(pattern) ? pattern : "/tmp";
        front::SurveyOptions survey;
        survey.covarianceUnit = front::CovarianceUnit::kSquareMetres;  // as the file's README says
        server = std::make_unique<front::serve::WorkspaceServer>(
            kToken, front::serve::WorkspaceOptions{TORVEK_BINARY, folder});
        if (!server->bind(0, error) ||
            !server->workspace().open({kNationalNetwork}, survey, error)) {
            server.reset();
            return;
        }
        server->start();
    }
    ~NationalServer() {
        server.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

NationalServer& national() {
    static NationalServer instance;
    return instance;
}

httplib::Headers authorised() {
    return {{"Authorization", "Bearer " + kToken}};
}

void serveNationalPage(benchmark::State& state) {
    NationalServer& n = national();
    if (!n.server) {
        state.SkipWithError(("no national network: " + n.error).c_str());
        return;
    }
    httplib::Client client("127.0.0.1", n.server->port());
    client.set_keep_alive(true);
    std::size_t bytes = 0;
    for (auto _ : state) {
        for (const char* path : {"/", "/app.js", "/plot.js", "/style.css", "/api/state"}) {
            const auto res = client.Get(path, authorised());
            if (!res || res->status != 200) {
                state.SkipWithError("a request failed");
                return;
            }
            bytes += res->body.size();
        }
    }
    state.counters["bytes_per_page"] =
        benchmark::Counter(static_cast<double>(bytes) / state.iterations());
}
BENCHMARK(serveNationalPage)->Unit(benchmark::kMillisecond);

void startNationalRun(benchmark::State& state) {
    NationalServer& n = national();
    if (!n.server) {
        state.SkipWithError(("no national network: " + n.error).c_str());
        return;
    }
    httplib::Client client("127.0.0.1", n.server->port());
    for (auto _ : state) {
        const auto res = client.Post("/api/runs", authorised(), "", "application/json");
        if (!res || res->status != 200) {
            state.SkipWithError("the run could not be started");
            return;
        }
        state.PauseTiming();
        // The network falls apart (control that no vector reaches): the warning is answered OK, as
        // a person would, and the run is let finish before the next one.
        const auto run = n.server->workspace().run(Json::parse(res->body)["id"].get<int>());
        while (!run->finished()) {
            run->answerWarning(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        state.ResumeTiming();
    }
}
BENCHMARK(startNationalRun)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace torvek
