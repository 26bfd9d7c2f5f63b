#include "front/text/text_format.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>

namespace torvek::front {
namespace {

constexpr std::size_t kLongestText = 1024;
// The most decimals appendFixed writes.
constexpr int kMostFixedDecimals = 17;

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

void appendFixedWidth(std::string& out, double value, int width, int decimals) {
    const std::size_t start = out.size();
    appendFixed(out, value, decimals);
    const auto written = static_cast<int>(out.size() - start);
    if (written < width) {
        out.insert(start, static_cast<std::size_t>(width - written), ' ');
    }
}

std::string formatNumber(const char* pattern, double value) {
    // "%.Nf" or "%+.Nf", nothing before or after.
    const char* at = pattern;
    const bool sign = at[0] == '%' && at[1] == '+';
    at += sign ? 2 : 1;
    int decimals = -1;
    if (pattern[0] == '%' && at[0] == '.' && at[1] >= '0' && at[1] <= '9') {
        decimals = at[1] - '0';
        at += 2;
        if (at[0] >= '0' && at[0] <= '9') {
            decimals = decimals * 10 + (at[0] - '0');
            ++at;
        }
    }
    if (decimals < 0 || decimals > kMostFixedDecimals || at[0] != 'f' || at[1] != '\0' ||
        !std::isfinite(value)) {
        return formatText(pattern, value);
    }
    std::string out;
    if (sign && !std::signbit(value)) {
        out += '+';
    }
    appendFixed(out, value, decimals);
    return out;
}

}  // namespace torvek::front
