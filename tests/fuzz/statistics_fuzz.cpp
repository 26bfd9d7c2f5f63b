// Fuzz target: the reader of the rigorous model's statistics file and of a relative tolerance on
// arbitrary bytes (the seeds are statistics files); whatever it accepts is written back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "front/results/rigorous_statistics.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace torvek::front;
    const std::string text(reinterpret_cast<const char*>(data), size);
    RigorousStatistics statistics;
    std::string error;
    if (parseRigorousStatistics(text, "fuzz.json", SiteNameTable{}, statistics, error)) {
        RelativeTolerance tolerance;
        if (parseRelativeTolerance(text.substr(0, 32), tolerance, error)) {
            applyRelativeTolerance(tolerance, statistics);
        }
        statisticsFileText(statistics);
    }
    RelativeTolerance tolerance;
    parseRelativeTolerance(text, tolerance, error);
    return 0;
}
