#pragma once
// JSON text written member by member, byte for byte as the JSON library's compact dump writes
// it, without building the library's objects first: the GIS files and the statistics file of a
// large network hold millions of values, and an object per feature took most of their time.
#include <string>
#include <string_view>

#include "front/project/project_json.h"

namespace torvek::front {

// Appends `value` as the library writes it: its own shortest round-trip digits ("0.0" for zero,
// "1e-05" and "1e+16" beyond the fixed range), "null" when it is not finite (JSON has no NaN).
void appendJsonNumber(std::string& out, double value);

// Most decimals appendRoundedNumber writes: 1e-9 of a degree is 0.1 mm on the ground.
inline constexpr int kMostRoundedDecimals = 9;

// round(value * 10^decimals) / 10^decimals, `decimals` from 0 to kMostRoundedDecimals: the
// number appendRoundedNumber writes.
double roundToDecimals(double value, int decimals);

// Appends round(value * 10^decimals) / 10^decimals, `decimals` from 0 to kMostRoundedDecimals,
// byte for byte as appendJsonNumber writes that number, "null" when it is not finite. A number of
// at most 15 significant digits is written from its whole count of 10^-decimals (the library's
// shortest digits are those digits then), five times faster than the shortest-digit search; any
// other goes through appendJsonNumber.
void appendRoundedNumber(std::string& out, double value, int decimals);

// Appends `text` as a JSON string, as the library's compact dump writes it; bytes that are not
// UTF-8 become U+FFFD.
void appendJsonText(std::string& out, std::string_view text);

// Appends the scalar `value` (null, boolean, whole number, number or text) as the library's
// compact dump does; bytes of a text that are not UTF-8 become U+FFFD. Arrays and objects are
// dumped whole.
void appendJsonValue(std::string& out, const Json& value);

// One compact JSON object appended to `out`: {"key":value,...}. Keys are written as given (they
// are fixed names that need no escaping); end() closes the object.
class CompactObject {
  public:
    explicit CompactObject(std::string& out) : out_(out) {}

    // Writes the separator and "name": and returns the text for the member's value.
    std::string& key(const char* name);
    void number(const char* name, double value) { appendJsonNumber(key(name), value); }
    void whole(const char* name, long long value);
    void flag(const char* name, bool value) { key(name) += value ? "true" : "false"; }
    void null(const char* name) { key(name) += "null"; }
    void text(const char* name, const std::string& value);
    // Three numbers as an array.
    void triple(const char* name, const double* values);
    void end() { out_ += first_ ? "{}" : "}"; }

  private:
    std::string& out_;
    bool first_ = true;
};

}  // namespace torvek::front
