// Reading a run's results in the front end (collectResults) for networks of the sizes the sparse
// engine takes. Every lookup by name goes through an index, so ten times the sites should take
// about ten times as long: the benchmark fits the growth (BigO) over 10,000 to 100,000 sites.
#include <benchmark/benchmark.h>

#include "bench/generator/network_generator.h"
#include "front/project/site_name_mapping.h"
#include "front/results/network_results.h"

namespace {

using namespace torvek;

void BM_CollectResults(benchmark::State& state) {
    AdjustedDataSet output;
    static_cast<ProjectDataSet&>(output) =
        bench::makeSessionNetwork(static_cast<int>(state.range(0)), 1);
    const front::SiteNameTable names;
    for (auto _ : state) {
        front::NetworkResults r = front::collectResults(output, names);
        benchmark::DoNotOptimize(r.vectors.data());
    }
    state.SetComplexityN(state.range(0));
    state.counters["vectors"] = static_cast<double>(output.vectors().size());
}
BENCHMARK(BM_CollectResults)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
