#pragma once
// The lines torvek-front prints for people on the standard error stream: notes, warnings and
// errors. Every such line passes through here, so that a control byte from a file (an ESC in a
// site name) never reaches the terminal raw and a warning repeated for thousands of records
// takes a dozen lines, not thousands.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace torvek::front {

// Messages of one kind printed one by one before the rest are counted.
inline constexpr std::size_t kRepeatedMessageLimit = 10;

// `text` with every control byte but line feed and tab, and DEL, written as \xNN (ESC as \x1b),
// and a backslash before such an escape doubled, so that the text shown is the text read.
std::string escapeControlBytes(std::string_view text);

// What messages of one kind share: the text with every quoted part ("...") and every run of
// digits taken out, so that "site \"A\" on line 7 ..." and "site \"B\" on line 9 ..." are alike.
std::string messageKind(std::string_view text);

// The lines to print for `lines`: the first kRepeatedMessageLimit of each kind (messageKind) in
// their order, and after the last one shown of a kind with more, "... and 42,162 more like it".
std::vector<std::string> cappedMessages(const std::vector<std::string>& lines);

// Prints `prefix` and each line of cappedMessages(lines), escaped, to the standard error stream.
void printMessages(const std::string& prefix, const std::vector<std::string>& lines);

// Prints `text` escaped (its own line feeds kept) to the standard error stream, unbuffered.
void printMessage(const std::string& text);

// `count` with a comma between groups of three digits ("42,162").
std::string groupedCount(std::size_t count);

}  // namespace torvek::front
