#pragma once
#include <cstdint>

namespace torvek {

/// What the front end passed: `torvek INPUT OUTPUT [PROGRESS REPORT]`.
struct CommandLine {
    bool valid = false;  // false with fewer than two file arguments (exit code 1)
    const char* inputPath = nullptr;
    const char* outputPath = nullptr;
    std::int32_t progressEndpoint = 0;  // 0: none
    std::int32_t reportEndpoint = 0;    // 0: none
};

/// Reads the command line. The two endpoints are taken only when exactly two numbers follow the
/// file paths; with one, or with three or more, both stay 0 and the extra arguments are ignored.
CommandLine parseCommandLine(int argc, const char* const* argv);

/// An endpoint number as a decimal integer: leading white space skipped, an optional sign, then
/// digits up to the first non-digit; no digits give 0. Values beyond the 32-bit range are clamped.
std::int32_t parseEndpointNumber(const char* text);

}  // namespace torvek
