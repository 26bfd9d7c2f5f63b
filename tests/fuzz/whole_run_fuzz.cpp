// Fuzz target: a whole run of the program, in this process, on arbitrary data set bytes, without
// front-end endpoints. Besides the sanitizers' checks it asks that the run leaves the input file
// as it was and stores no NaN or infinite result.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "app/adjustment_job.h"
#include "dataset/adjusted_data_set.h"
#include "support/result_fields.h"
#include "support/temp_directory.h"

namespace {

// The two data sets live in a test folder of their own, removed when the fuzzer exits; the scratch
// copy "torvek.tmp" that follows a failed attempt goes to the current directory, as in any run.
// (The target does not change directory: the fuzzer names its corpus relative to the one it was
// started in.)
std::optional<torvek::testing::TempDirectory> folder;
std::string input, output;

// Lookups by name grow with the square of the records, so a data set of a hundred thousand
// records is slow; such counts say nothing new about bad input, and the target skips them to
// keep each run short.
constexpr std::int32_t kLargestCount = 2000;

std::int32_t countAt(const std::uint8_t* data, std::size_t size, std::size_t offset) {
    if (size < offset + 4)
        return 0;
    return static_cast<std::int32_t>(
        std::uint32_t(data[offset]) | (std::uint32_t(data[offset + 1]) << 8) |
        (std::uint32_t(data[offset + 2]) << 16) | (std::uint32_t(data[offset + 3]) << 24));
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Without endpoints the warning box of a disconnected network asks on the console: it must
    // read the end of its input at once. The report has nowhere to go; the scratch-file messages
    // on the standard error stream are not wanted either.
    if (std::freopen("/dev/null", "r", stdin) == nullptr)
        std::abort();
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
    folder.emplace();
    input = folder->file("in.dat");
    output = folder->file("out.dat");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (std::size_t offset : {0, 4, 8})
        if (countAt(data, size, offset) > kLargestCount)
            return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    torvek::ProjectDataSet before;
    // An input the reader refuses leaves `before` empty, as it leaves the run's input data set.
    (void)before.readFile(input);
    {
        torvek::AdjustmentJob job(input.c_str(), output.c_str(), 0, 0);
        job.pollAbort(torvek::stage::kStart);
        job.run();
        if (job.connectivityAccepted())
            job.printClosingReport();
    }
    if (readAll(input) != bytes)
        std::abort();  // the input data set changed
    torvek::AdjustedDataSet after;
    std::string where;
    if (after.readFile(output) && !torvek::testing::noNonFiniteResultStored(before, after, where)) {
        std::fprintf(stderr, "non-finite result stored: %s\n", where.c_str());
        std::abort();
    }
    return 0;
}
