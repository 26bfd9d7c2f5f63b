// The rigorous model's statistics in the front end: reading the engine's file and building the
// documents' tables, for networks of the sizes the sparse engine takes.
#include <benchmark/benchmark.h>

#include <string>

#include "front/documents/rigorous_tables.h"
#include "front/results/rigorous_statistics.h"
#include "front/text/text_format.h"

namespace {

using namespace torvek::front;

// A statistics text of `sites` sites and three vectors per site, every field present.
std::string statisticsText(int sites) {
    std::string text =
        "{\"model\":\"rigorous\",\"degreesOfFreedom\":100,\"sigma0\":{\"apriori\":1,"
        "\"aposteriori\":0.9},\"scaledBy\":\"apriori\",\"chiSquare\":{\"value\":90,\"lower\":70,"
        "\"upper\":130,\"passed\":true},\"criticalValues\":{\"studentized\":3.29,\"alpha0\":0.001,"
        "\"power\":0.8,\"delta0\":4.13},\"confidence\":0.95,\"sites\":[";
    const std::string matrix = "[[1e-6,0,0],[0,1e-6,0],[0,0,4e-6]]";
    for (int i = 0; i < sites; ++i) {
        text += formatText(
            "%s{\"name\":\"S%03d\",\"adjusted\":true,\"xyz\":[4309335.6,605628.0,"
            "4641598.1],\"latitude\":47,\"longitude\":8,\"height\":500,",
            i == 0 ? "" : ",", i % 1000);
        text += "\"covarianceXYZ\":" + matrix + ",\"covarianceNEU\":" + matrix +
                ",\"ellipse\":{\"semiMajor\":0.004,\"semiMinor\":0.002,\"azimuth\":30},"
                "\"heightSigma\":0.002}";
    }
    text += "],\"vectors\":[";
    for (int v = 0; v < 3 * sites; ++v) {
        text += formatText(
            "%s{\"from\":\"S%03d\",\"to\":\"S%03d\",\"record\":%d,\"inUse\":true,"
            "\"components\":[",
            v == 0 ? "" : ",", v % 1000, (v + 1) % 1000, v + 1);
        for (const char* axis : {"x", "y", "z"}) {
            text += formatText(
                "%s{\"axis\":\"%s\",\"observed\":100.1,\"adjusted\":100.102,"
                "\"residual\":0.002,\"residualSigma\":0.003,\"redundancy\":0.4,"
                "\"standardized\":%.2f,\"studentized\":%.2f,\"mdb\":0.015,"
                "\"outlier\":false}",
                axis[0] == 'x' ? "" : ",", axis, (v % 37) / 10.0, (v % 41) / 10.0);
        }
        text += "],\"length\":1500,\"azimuth\":45,\"heightDifference\":10}";
    }
    return text + "]}";
}

void readStatistics(benchmark::State& state) {
    const std::string text = statisticsText(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        RigorousStatistics s;
        std::string error;
        benchmark::DoNotOptimize(parseRigorousStatistics(text, "bench", {}, s, error));
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations() * text.size()));
}
BENCHMARK(readStatistics)->Arg(100)->Arg(5000)->Unit(benchmark::kMillisecond);

void statisticsTables(benchmark::State& state) {
    RigorousStatistics s;
    std::string error;
    parseRigorousStatistics(statisticsText(static_cast<int>(state.range(0))), "bench", {}, s,
                            error);
    for (auto _ : state) {
        benchmark::DoNotOptimize(rigorousTables(s));
        benchmark::DoNotOptimize(statisticsFileText(s));
    }
}
BENCHMARK(statisticsTables)->Arg(100)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace
