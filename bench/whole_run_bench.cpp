// Whole runs of the program, as a front end starts it, on generated networks up to the program's
// limits (500 sites, about 1500 unknowns, two iterations when over-constrained). Reports wall time
// per run and the child's peak resident memory.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "bench/generator/network_generator.h"
#include "dataset/adjusted_data_set.h"

namespace torvek {
namespace {

std::string scratchDirectory() {
    static std::string dir = [] {
        char name[] = "/tmp/torvek-bench-XXXXXX";
        const char* made = ::mkdtemp(name);
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

// Runs the program once without endpoints; returns its peak resident set in kilobytes, or -1.
// The figure counts the pages the child shares with this process between fork and exec, so it is
// an upper bound; run this benchmark alone (--benchmark_filter=wholeRun) to keep it tight.
long runProgram(const std::string& input, const std::string& output) {
    pid_t child = ::fork();
    if (child == 0) {
        int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(TORVEK_BINARY, TORVEK_BINARY, input.c_str(), output.c_str(),
                static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

void wholeRun(benchmark::State& state) {
    bench::NetworkShape shape;
    shape.sites = int(state.range(0));
    shape.vectors = int(state.range(1));
    shape.overConstrained = state.range(2) != 0;
    const std::string input = scratchDirectory() + "/network-" + std::to_string(shape.sites) + "-" +
                              std::to_string(shape.vectors) + ".dat";
    const std::string output = input + ".out";
    if (!bench::makeGridNetwork(shape).writeFile(input)) {
        state.SkipWithError("cannot write the network");
        return;
    }
    long peak = 0;
    for (auto _ : state) {
        long rss = runProgram(input, output);
        if (rss < 0) {
            state.SkipWithError("the program failed");
            return;
        }
        peak = std::max(peak, rss);
    }
    AdjustedDataSet result;
    AdjustmentCounts counts;
    if (!result.readFile(output) || result.adjustmentSucceeded() != 1 ||
        !result.getAdjustmentCounts(counts)) {
        state.SkipWithError("the adjustment did not succeed");
        return;
    }
    state.counters["unknowns"] = counts.unknownCount;
    state.counters["iterations"] = counts.iterationCount;
    state.counters["peakRssMB"] = double(peak) / 1024.0;
    state.SetComplexityN(counts.unknownCount);
}

// sites, vectors, over-constrained
BENCHMARK(wholeRun)
    ->Args({100, 600, 1})
    ->Args({250, 1500, 1})
    ->Args({500, 1500, 1})
    ->Args({500, 3000, 1})
    ->Args({500, 3000, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// Reading and writing the largest data set the program adjusts.
void dataSetReadWrite(benchmark::State& state) {
    bench::NetworkShape shape;
    shape.sites = 500;
    shape.vectors = int(state.range(0));
    const std::string path = scratchDirectory() + "/io-" + std::to_string(shape.vectors) + ".dat";
    ProjectDataSet network = bench::makeGridNetwork(shape);
    if (!network.writeFile(path)) {
        state.SkipWithError("cannot write the network");
        return;
    }
    const double bytes = 340.0 + 192.0 * network.siteCount() + 381.0 * network.vectorCount();
    for (auto _ : state) {
        ProjectDataSet copy;
        if (!copy.readFile(path) || !copy.writeFile(path + ".copy")) {
            state.SkipWithError("read or write failed");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations() * 2 * bytes));
    state.SetComplexityN(shape.vectors);
}
BENCHMARK(dataSetReadWrite)
    ->Arg(1500)
    ->Arg(3000)
    ->Arg(6000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity();

}  // namespace
}  // namespace torvek
