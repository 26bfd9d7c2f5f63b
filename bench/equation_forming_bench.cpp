// Forming the observation equations and accumulating the normal matrix of one iteration, against
// the number of vectors, on a 500-site network (in process, silent endpoints).
#include <benchmark/benchmark.h>

#include "bench/generator/network_generator.h"
#include "tests/support/engine_harness.h"

namespace torvek {
namespace {

ProjectDataSet gridNetwork(int vectors) {
    bench::NetworkShape shape;
    shape.sites = 500;
    shape.vectors = vectors;
    return bench::makeGridNetwork(shape);
}

struct Prepared : testing::QuietEngine {
    explicit Prepared(int vectors) : testing::QuietEngine(gridNetwork(vectors)) { ok = loadAll(); }
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
        if (!p.engine.accumulateNormals())
            state.SkipWithError("no memory for the normal matrix");
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
