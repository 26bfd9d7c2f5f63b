#include "front/text/text_format.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>

namespace torvek::front {
namespace {

constexpr std::size_t kLongestText = 1024;

std::string formatArguments(const char* pattern, va_list args) {
    char text[kLongestText];
    std::vsnprintf(text, sizeof text, pattern, args);
    return text;
}

}  // namespace

std::string formatText(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    std::string text = formatArguments(pattern, args);
    va_end(args);
    return text;
}

void append(std::string& out, const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    out += formatArguments(pattern, args);
    va_end(args);
}

void appendFixed(std::string& out, double value, int decimals) {
    // Wide enough for any double in fixed notation (309 digits before the point) and 17 after.
    char digits[340];
    const auto written =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    if (written.ec == std::errc()) {
        out.append(digits, written.ptr);
    } else {
        append(out, "%.*f", decimals, value);
    }
}

}  // namespace torvek::front
