#include "app/command_line.h"

#include <cctype>
#include <limits>

namespace torvek {

std::int32_t parseEndpointNumber(const char* text) {
    if (text == nullptr)
        return 0;
    while (std::isspace(static_cast<unsigned char>(*text)))
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = (*text++ == '-');
    long long value = 0;
    constexpr long long kLimit = std::numeric_limits<std::int32_t>::max() + 1LL;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
        value = value * 10 + (*text - '0');
        if (value > kLimit)
            value = kLimit;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
        value = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

CommandLine parseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    if (argc < 3 || argv == nullptr)
        return line;
    line.valid = true;
    line.inputPath = argv[1];
    line.outputPath = argv[2];
    if (argc == 5) {
        line.progressEndpoint = parseEndpointNumber(argv[3]);
        line.reportEndpoint = parseEndpointNumber(argv[4]);
    }
    return line;
}

}  // namespace torvek
