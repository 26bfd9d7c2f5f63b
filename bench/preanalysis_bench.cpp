// The answer of the workspace's pre-analysis (POST /api/preanalysis) as a person planning waits
// for it: the open project with ten planned vectors sent to torvek-large as a child in a private
// folder, its statistics read back and answered as JSON. Session networks of 100, 500 and 2000
// sites (about six vectors a site); the goal is 200 ms up to 500 sites. "elapsed_ms" is the time
// the answer states (the child and the reading of its statistics), "processor_ms" the processor
// time of the whole answer, server and engine, which the load of a shared machine does not swell.
#ifdef TORVEK_LARGE_BINARY
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "bench/generator/network_generator.h"
#include "front/serve/workspace_server.h"

namespace torvek {
namespace {

using front::Json;

const std::string kToken(64, 'c');
constexpr int kPlannedVectors = 10;

// A server with a generated session network of `sites` sites open.
struct PlanServer {
    std::string folder;
    std::unique_ptr<front::serve::WorkspaceServer> server;
    std::string body;  // the request: ten planned vectors across the network
    std::string error;

    explicit PlanServer(int sites) {
        ::setenv("TORVEK_LARGE_BINARY", TORVEK_LARGE_BINARY, 1);
        char pattern[] = "/tmp/torvek-plan-bench-XXXXXX";
        folder = ::mkdtemp(pattern) ? pattern : "/tmp";
        ProjectDataSet network = bench::makeSessionNetwork(sites, 7);
        const std::string input = folder + "/network.dat";
        network.setFileName(input.c_str());
        if (!network.save()) {
            error = "cannot write " + input;
            return;
        }
        std::filesystem::create_directory(folder + "/work");
        server = std::make_unique<front::serve::WorkspaceServer>(
            kToken, front::serve::WorkspaceOptions{"", folder + "/work"});
        if (!server->bind(0, error) || !server->workspace().open({input}, {}, error)) {
            server.reset();
            return;
        }
        server->start();
        Json planned = Json::array();
        const auto& records = network.sites();
        for (int k = 0; k < kPlannedVectors; ++k) {
            const auto& a = records[static_cast<std::size_t>(k * sites / kPlannedVectors)];
            const auto& b = records[static_cast<std::size_t>(
                (k * sites / kPlannedVectors + sites / 2) % sites)];
            planned.push_back(Json{{"from", a.name.toString()}, {"to", b.name.toString()}});
        }
        body = Json{{"planned", planned}}.dump();
    }
    ~PlanServer() {
        server.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

// Processor seconds used so far by this process (every thread, the server's included) and by its
// reaped children (the engine): on a machine shared with other work the wall time of an answer
// grows with the load, its processor time does not.
double processorSeconds() {
    double seconds = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        ::getrusage(who, &usage);
        for (const timeval& t : {usage.ru_utime, usage.ru_stime}) {
            seconds += static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
        }
    }
    return seconds;
}

PlanServer& planServer(int sites) {
    static std::map<int, std::unique_ptr<PlanServer>> servers;
    auto& slot = servers[sites];
    if (!slot) {
        slot = std::make_unique<PlanServer>(sites);
    }
    return *slot;
}

void preanalysisAnswer(benchmark::State& state) {
    PlanServer& p = planServer(static_cast<int>(state.range(0)));
    if (!p.server) {
        state.SkipWithError(("no server: " + p.error).c_str());
        return;
    }
    httplib::Client client("127.0.0.1", p.server->port());
    client.set_keep_alive(true);
    client.set_read_timeout(60);
    double engineSeconds = 0;
    const double processorBefore = processorSeconds();
    for (auto _ : state) {
        const auto res =
            client.Post("/api/preanalysis", httplib::Headers{{"Authorization", "Bearer " + kToken}},
                        p.body, "application/json");
        if (!res || res->status != 200) {
            state.SkipWithError(res ? res->body.c_str() : "no answer");
            return;
        }
        // The stated time, found without parsing the whole answer (which is the page's work).
        const std::size_t at = res->body.rfind("\"elapsedSeconds\":");
        engineSeconds += at == std::string::npos ? 0.0 : std::atof(res->body.c_str() + at + 17);
    }
    state.counters["elapsed_ms"] = benchmark::Counter(1000 * engineSeconds / state.iterations());
    state.counters["processor_ms"] =
        benchmark::Counter(1000 * (processorSeconds() - processorBefore) / state.iterations());
}
BENCHMARK(preanalysisAnswer)
    ->Arg(100)
    ->Arg(500)
    ->Arg(2000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

}  // namespace
}  // namespace torvek
#endif
