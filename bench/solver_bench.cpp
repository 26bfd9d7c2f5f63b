// Speed of the normal-equation solver on synthetic GPS networks of 200 to 1504 unknowns (the
// program's limit): factorisation, forward substitution, inverse of the factor, solution with
// variances, full inverse, each for the variant the dispatch picks and for every instruction set
// this processor has, plus the straightforward loops for comparison. The "FLOPS" counter is a
// rate: two floating-point operations per multiply-add, n^3/3 for the three cubic steps
// (n^3/6 multiply-adds each), n^2 for the forward substitution and 2n^2 for the solution with
// variances; time against n is fitted to a cubic (quadratic for the last two). Build in Release:
//   cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-release --target torvek_bench && build-release/torvek_bench
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/cholesky.h"
#include "engine/cholesky_reference.h"
#include "tests/support/survey_normals.h"

namespace torvek {
namespace {

constexpr int kSizes[] = {200, 500, 1000, 1504};

// The network of each size with its factor and inverse factor, made once.
struct Prepared {
    testing::PackedSystem system;
    std::vector<float> factor, inverseFactor;
    std::vector<double> y;
};

const Prepared& prepared(int n) {
    static std::map<int, Prepared> cache;
    auto it = cache.find(n);
    if (it == cache.end()) {
        Prepared p;
        p.system = testing::makeSurveyNormals(n, 2024);
        p.factor = p.system.packed;
        if (factorizeCholesky(p.factor.data(), n) != 0) {
            std::abort();
        }
        p.y.assign(n, 0.0);
        forwardSubstitute(p.factor.data(), n, p.system.rhs.data(), p.y.data());
        p.inverseFactor = p.factor;
        invertFactor(p.inverseFactor.data(), n);
        it = cache.emplace(n, std::move(p)).first;
    }
    return it->second;
}

double cubicFlops(int n) {
    return static_cast<double>(n) * n * n / 3.0;
}

void setCounters(benchmark::State& state, int n, double flopsPerRun) {
    state.SetComplexityN(n);
    state.counters["FLOPS"] =
        benchmark::Counter(flopsPerRun, benchmark::Counter::kIsIterationInvariantRate);
}

// An in-place step: each run starts again from a fresh copy of its input, copied untimed.
template <class Step>
void runInPlace(benchmark::State& state, const std::vector<float>& input, Step step) {
    std::vector<float> work(input.size());
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.data(), input.data(), input.size() * sizeof(float));
        state.ResumeTiming();
        step(work.data());
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
}

using Factorize = std::function<int(float*, int)>;
using Invert = std::function<void(float*, int)>;
using Forward = std::function<void(const float*, int, const double*, double*)>;
using Solve = std::function<void(const float*, int, const double*, double*, double*)>;

void benchFactorize(benchmark::State& state, Factorize f) {
    const int n = static_cast<int>(state.range(0));
    runInPlace(state, prepared(n).system.packed, [&](float* m) { f(m, n); });
    setCounters(state, n, cubicFlops(n));
}

void benchInvert(benchmark::State& state, Invert f) {
    const int n = static_cast<int>(state.range(0));
    runInPlace(state, prepared(n).factor, [&](float* m) { f(m, n); });
    setCounters(state, n, cubicFlops(n));
}

void benchFullInverse(benchmark::State& state, Invert f) {
    const int n = static_cast<int>(state.range(0));
    runInPlace(state, prepared(n).inverseFactor, [&](float* m) { f(m, n); });
    setCounters(state, n, cubicFlops(n));
}

void benchForward(benchmark::State& state, Forward f) {
    const int n = static_cast<int>(state.range(0));
    const Prepared& p = prepared(n);
    std::vector<double> y(n);
    for (auto _ : state) {
        f(p.factor.data(), n, p.system.rhs.data(), y.data());
        benchmark::DoNotOptimize(y.data());
    }
    setCounters(state, n, static_cast<double>(n) * n);
}

void benchSolve(benchmark::State& state, Solve f) {
    const int n = static_cast<int>(state.range(0));
    const Prepared& p = prepared(n);
    std::vector<double> x(n), q(n);
    for (auto _ : state) {
        f(p.inverseFactor.data(), n, p.y.data(), x.data(), q.data());
        benchmark::DoNotOptimize(x.data());
        benchmark::DoNotOptimize(q.data());
    }
    setCounters(state, n, 2.0 * n * n);
}

template <class Step>
void add(const std::string& name, void (*bench)(benchmark::State&, Step), Step step, bool cubic) {
    benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark(
        name.c_str(), [bench, step](benchmark::State& s) { bench(s, step); });
    for (int n : kSizes) {
        b->Arg(n);
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
    // Fitted against (n/1000)^3 or (n/1000)^2 rather than n^3 or n^2 so that the coefficient
    // printed on the "_BigO" line is the fitted time at n = 1000 (Google Benchmark 1.7 prints it
    // in nanoseconds) instead of a rounded zero; the "_RMS" line is the relative deviation of the
    // measured times from that curve.
    if (cubic) {
        b->Complexity([](benchmark::IterationCount n) { return std::pow(n / 1000.0, 3); });
    } else {
        b->Complexity([](benchmark::IterationCount n) { return std::pow(n / 1000.0, 2); });
    }
}

int registerAll() {
    add("Factorize", benchFactorize, Factorize(factorizeCholesky), true);
    add("ForwardSubstitute", benchForward, Forward(forwardSubstitute), false);
    add("InvertFactor", benchInvert, Invert(invertFactor), true);
    add("SolveFromInverseFactor", benchSolve, Solve(solveFromInverseFactor), false);
    add("FormFullInverse", benchFullInverse, Invert(formFullInverse), true);
    for (SolverTarget t : {SolverTarget::kPortable, SolverTarget::kAvx2, SolverTarget::kAvx512}) {
        const SolverKernels* k = solverKernels(t);
        if (!k) {
            continue;
        }
        const std::string suffix = std::string("/") + solverTargetName(t);
        add("Factorize" + suffix, benchFactorize, Factorize(k->factorize), true);
        add("InvertFactor" + suffix, benchInvert, Invert(k->invertFactor), true);
        add("FormFullInverse" + suffix, benchFullInverse,
            Invert([k](float* m, int n) { k->formFullInverse(m, n); }), true);
    }
    add("Factorize/straightforward", benchFactorize, Factorize(reference::factorizeCholesky), true);
    add("ForwardSubstitute/straightforward", benchForward, Forward(reference::forwardSubstitute),
        false);
    add("InvertFactor/straightforward", benchInvert, Invert(reference::invertFactor), true);
    add("SolveFromInverseFactor/straightforward", benchSolve,
        Solve(reference::solveFromInverseFactor), false);
    add("FormFullInverse/straightforward", benchFullInverse, Invert(reference::formFullInverse),
        true);
    return 0;
}

// The yardstick of the whole-run benchmarks at the 500-site limit: the solving of one
// over-constrained adjustment (two iterations of factorisation, forward substitution, inverse of
// the factor and solution, then the full inverse) by the straightforward loops on a packed
// single-precision triangle of 1500 unknowns. Its time against wholeRun/500/3000 is the share of
// a straightforward solver that a whole run takes.
void straightforwardAdjustmentSolve(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const Prepared& p = prepared(n);
    std::vector<float> work(p.system.packed.size());
    std::vector<double> y(n), x(n), q(n);
    for (auto _ : state) {
        for (int iteration = 0; iteration < 2; ++iteration) {
            std::memcpy(work.data(), p.system.packed.data(), work.size() * sizeof(float));
            if (reference::factorizeCholesky(work.data(), n) != 0) {
                state.SkipWithError("not positive definite");
                return;
            }
            reference::forwardSubstitute(work.data(), n, p.system.rhs.data(), y.data());
            reference::invertFactor(work.data(), n);
            reference::solveFromInverseFactor(work.data(), n, y.data(), x.data(), q.data());
        }
        reference::formFullInverse(work.data(), n);
        benchmark::DoNotOptimize(work.data());
        benchmark::DoNotOptimize(x.data());
    }
}
BENCHMARK(straightforwardAdjustmentSolve)->Arg(1500)->Unit(benchmark::kMillisecond)->UseRealTime();

const int registered = registerAll();

}  // namespace
}  // namespace torvek
