#include "front/text/text_format.h"

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

}  // namespace torvek::front
