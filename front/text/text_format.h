#pragma once
// printf-style text for the front end's reports, tables and plots.
#include <string>

namespace torvek::front {

/// Results are stored in metres and shown in millimetres.
inline constexpr double kMillimetresPerMetre = 1000.0;

/// The formatted text; anything beyond 1023 characters is cut.
std::string formatText(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

/// Appends `value` with `decimals` (0..17) digits after the point, exactly as "%.*f" writes it,
/// several times faster: a plot of thousands of lines writes tens of thousands of them.
void appendFixed(std::string& out, double value, int decimals);

/// Appends `value` as "%*.*f" writes it with `width` and `decimals` (0..17): right-aligned,
/// padded with spaces on the left to at least `width` characters.
void appendFixedWidth(std::string& out, double value, int width, int decimals);

/// formatText(pattern, value) for one number: a pattern "%.Nf" or "%+.Nf" (N from 0 to 17) is
/// written as appendFixed writes it, and any other through formatText. The tables of a large
/// network hold tens of thousands of such numbers.
std::string formatNumber(const char* pattern, double value);

/// Appends the formatted text to `out`, cut like formatText.
void append(std::string& out, const char* pattern, ...) __attribute__((format(printf, 2, 3)));

}  // namespace torvek::front
