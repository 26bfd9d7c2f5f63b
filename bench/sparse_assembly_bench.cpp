// The assembly of torvek-large's sparse normal matrix alone (start, the equations of one
// iteration, finish), on generated campaign networks of 10,000 and 100,000 sites: the first
// assembly of a solver, which builds the pattern, and a later one of the same equations, which
// finds it built. The equations are those the engine forms in its first iteration, gathered once
// per size; forming them is not timed.
#ifdef TORVEK_LARGE_BINARY
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <vector>

#include "bench/generator/network_generator.h"
#include "engine/sparse/sparse_normal_solver.h"
#include "tests/support/engine_harness.h"

namespace torvek {
namespace {

// The equations of one iteration and the order of their system.
struct Equations {
    int n = 0, trailing = 0;
    std::vector<EquationRecord> records;
};

// Where the gathering solver puts what the engine hands it (the engine makes its solver through a
// plain function, which cannot carry a target of its own).
Equations* gathering = nullptr;

// A solver that only keeps the equations it is given.
class GatheringSolver final : public NormalSolver {
  public:
    const char* name() const override { return "gathering"; }
    int siteLimit() const override { return kMaxSessionSites; }
    int unknownLimit() const override { return 3 * kMaxSessionSites; }
    bool start(int n, int trailing) override {
        gathering->n = n;
        gathering->trailing = trailing;
        gathering->records.clear();
        return true;
    }
    void add(const EquationRecord& equation, const accumulation::TermPlan&) override {
        gathering->records.push_back(equation);
    }
    bool finish() override { return true; }
    double element(int, int) const override { return 0; }
    double rightHandSide(int) const override { return 0; }
    Factorisation factorise() override { return {}; }
    bool solve(double*, bool) override { return false; }
    bool completeInverse() override { return false; }
    double inverse(int, int) const override { return 0; }
    bool describe(char*, std::size_t) const override { return false; }
    void release() override {}

  private:
    static constexpr int kMaxSessionSites = bench::kMaxSessionNetworkSites;
};

std::unique_ptr<NormalSolver> makeGatheringSolver() {
    return std::make_unique<GatheringSolver>();
}

const Equations& equationsOf(int sites) {
    static std::map<int, Equations> cache;
    auto it = cache.find(sites);
    if (it != cache.end())
        return it->second;
    Equations& equations = cache[sites];
    gathering = &equations;
    testing::QuietEngine engine(bench::makeSessionNetwork(sites, 1), false, makeGatheringSolver);
    if (engine.loadAll())
        engine.engine.formEquations();
    gathering = nullptr;
    return equations;
}

// One assembly of `equations` by `solver`; false when memory is short.
bool assemble(NormalSolver& solver, const Equations& equations) {
    if (!solver.start(equations.n, equations.trailing))
        return false;
    EquationFeed feed(solver, equations.n);
    for (const EquationRecord& e : equations.records)
        feed.add(e);
    return solver.finish();
}

void setCounters(benchmark::State& state, const Equations& equations) {
    state.counters["equations"] = static_cast<double>(equations.records.size());
    state.counters["unknowns"] = equations.n;
}

// The first assembly of a new solver: the pattern is built as the products arrive.
void firstAssembly(benchmark::State& state) {
    const Equations& equations = equationsOf(static_cast<int>(state.range(0)));
    if (equations.records.empty()) {
        state.SkipWithError("the network did not load");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto solver = makeSparseNormalSolver();
        state.ResumeTiming();
        if (!assemble(*solver, equations))
            state.SkipWithError("no memory for the normal matrix");
        state.PauseTiming();
        solver.reset();
        state.ResumeTiming();
    }
    setCounters(state, equations);
}
BENCHMARK(firstAssembly)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// A later assembly of the same equations, as in the second iteration: the pattern is there.
void laterAssembly(benchmark::State& state) {
    const Equations& equations = equationsOf(static_cast<int>(state.range(0)));
    if (equations.records.empty()) {
        state.SkipWithError("the network did not load");
        return;
    }
    auto solver = makeSparseNormalSolver();
    if (!assemble(*solver, equations)) {
        state.SkipWithError("no memory for the normal matrix");
        return;
    }
    for (auto _ : state)
        if (!assemble(*solver, equations))
            state.SkipWithError("no memory for the normal matrix");
    setCounters(state, equations);
}
BENCHMARK(laterAssembly)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace torvek
#endif
