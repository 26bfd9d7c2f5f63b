// Whole runs of the program, as a front end starts it: generated networks from 50 sites to the
// program's limits (500 sites, about 1500 unknowns, two iterations when over-constrained) and the
// real national network beside the project. Each reports the wall time of the run and the
// program's peak resident memory, both measured by torvek-peak-memory, which starts the program
// from a process small enough not to count in its memory.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/generator/network_generator.h"
#include "dataset/adjusted_data_set.h"
#include "support/national_network.h"

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

struct RunFigures {
    long peakKilobytes = 0;
    double seconds = 0;
};

// Runs the program once without endpoints, through torvek-peak-memory; false when either fails.
bool runProgram(const std::string& input, const std::string& output, RunFigures& figures) {
    int report[2];
    if (::pipe(report) != 0)
        return false;
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(report[1], STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::close(report[0]);
        ::execl(TORVEK_PEAK_MEMORY_BINARY, TORVEK_PEAK_MEMORY_BINARY, TORVEK_BINARY, input.c_str(),
                output.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ::close(report[1]);
    char text[64] = {};
    std::size_t got = 0;
    for (ssize_t n;
         got + 1 < sizeof text && (n = ::read(report[0], text + got, sizeof text - 1 - got)) > 0;)
        got += static_cast<std::size_t>(n);
    ::close(report[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return false;
    long long nanoseconds = 0;
    if (std::sscanf(text, "%ld %lld", &figures.peakKilobytes, &nanoseconds) != 2)
        return false;
    figures.seconds = nanoseconds * 1e-9;
    return true;
}

// Runs the program on `input` for every iteration and reports the adjustment's size and the
// largest peak memory seen.
void measureRuns(benchmark::State& state, const std::string& input) {
    const std::string output = input + ".out";
    long peak = 0;
    for (auto _ : state) {
        RunFigures figures;
        if (!runProgram(input, output, figures)) {
            state.SkipWithError("the program failed");
            return;
        }
        state.SetIterationTime(figures.seconds);
        peak = std::max(peak, figures.peakKilobytes);
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
}

// Arguments: sites, vectors, over-constrained (0 or 1), sigma of every site's weighted control in
// tenths of a millimetre (0: none).
void wholeRun(benchmark::State& state) {
    bench::NetworkShape shape;
    shape.sites = int(state.range(0));
    shape.vectors = int(state.range(1));
    shape.overConstrained = state.range(2) != 0;
    shape.siteSigma = double(state.range(3)) * 1e-4;
    const std::string input = scratchDirectory() + "/network-" + std::to_string(shape.sites) + "-" +
                              std::to_string(shape.vectors) + "-" + std::to_string(state.range(2)) +
                              "-" + std::to_string(state.range(3)) + ".dat";
    if (!bench::makeGridNetwork(shape).writeFile(input)) {
        state.SkipWithError("cannot write the network");
        return;
    }
    measureRuns(state, input);
}

BENCHMARK(wholeRun)
    ->Args({50, 200, 1, 0})
    ->Args({100, 600, 1, 0})
    ->Args({250, 1500, 1, 0})
    ->Args({500, 1500, 1, 0})
    // Every site weighted at 2 mm: the inverse of the factor falls below the smallest normal
    // float, which the program flushes to zero (engine/float_environment.h).
    ->Args({500, 1479, 1, 20})
    ->Args({500, 3000, 1, 0})
    ->Args({500, 3000, 0, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->MinTime(2.0);

// The real national network beside the project: 232 points, 5589 vectors, 538 unknowns.
void nationalNetworkWholeRun(benchmark::State& state) {
    testing::SyntheticNetwork network;
    std::string problem;
    const std::string input = scratchDirectory() + "/national.dat";
    if (!testing::loadNationalNetwork(
            std::string(TORVEK_SOURCE_DIR) + "/" + testing::kNationalNetworkFile, network,
            problem)) {
        state.SkipWithError(("the national network is not beside the project: " + problem).c_str());
        return;
    }
    if (!network.toDataSet().writeFile(input)) {
        state.SkipWithError("cannot write the network");
        return;
    }
    measureRuns(state, input);
}
BENCHMARK(nationalNetworkWholeRun)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

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
