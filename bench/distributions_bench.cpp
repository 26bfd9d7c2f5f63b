#include <benchmark/benchmark.h>

#include "stats/distributions.h"

namespace {

// The two chi-square limits of one adjustment's test at 95 %.
void chiSquareLimits(benchmark::State& state) {
    const int df = static_cast<int>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(torvek::ChiSquareQuantile(df, 0.025));
        benchmark::DoNotOptimize(torvek::ChiSquareQuantile(df, 0.975));
    }
}
BENCHMARK(chiSquareLimits)->Arg(10)->Arg(1000)->Arg(100000);

void tauCriticalValue(benchmark::State& state) {
    const int dof = static_cast<int>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(torvek::TauCriticalValue(dof, dof * 2, 0.05));
    }
}
BENCHMARK(tauCriticalValue)->Arg(10)->Arg(1000)->Arg(100000);

}  // namespace
