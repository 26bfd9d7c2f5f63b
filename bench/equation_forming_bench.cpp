// Forming the observation equations and accumulating the normal matrix of one iteration, against
// the number of vectors, on a 500-site network (in process, silent endpoints).
#include <benchmark/benchmark.h>

#include "bench/generator/network_generator.h"
#include "engine/adjustment_engine.h"

namespace torvek {
namespace {

struct Prepared {
    explicit Prepared(int vectors) {
        bench::NetworkShape shape;
        shape.sites = 500;
        shape.vectors = vectors;
        input = bench::makeGridNetwork(shape);
        static_cast<ProjectDataSet&>(output) = input;
        settings.overConstrained = true;
        ok = engine.beginAttempt() && engine.loadSites() && engine.loadVectors();
    }
    ProjectDataSet input;
    AdjustedDataSet output;
    RichEditChannel channel{0};
    ReportWriter report{channel};
    ProgressWindow progress{0, report};
    AdjustmentSettings settings;
    AdjustmentEngine engine{input, output, report, progress, settings};
    bool ok = false;
};

void formEquations(benchmark::State& state) {
    Prepared p(int(state.range(0)));
    if (!p.ok) {
        state.SkipWithError("loading failed");
        return;
    }
    for (auto _ : state)
        p.engine.formEquations();
    state.SetComplexityN(state.range(0));
}
BENCHMARK(formEquations)
    ->Arg(750)
    ->Arg(1500)
    ->Arg(3000)
    ->Arg(6000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

void accumulateNormals(benchmark::State& state) {
    Prepared p(int(state.range(0)));
    if (!p.ok) {
        state.SkipWithError("loading failed");
        return;
    }
    p.engine.formEquations();
    for (auto _ : state)
        p.engine.accumulateNormals();
    state.SetComplexityN(state.range(0));
}
BENCHMARK(accumulateNormals)
    ->Arg(750)
    ->Arg(1500)
    ->Arg(3000)
    ->Arg(6000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace torvek
