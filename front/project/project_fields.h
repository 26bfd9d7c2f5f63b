#pragma once

// Checked readers of project fields: each one names the field's place in the document when the
// value is missing, of the wrong kind or out of range, so that a person can find and fix it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <string>

#include "front/project/project_json.h"

namespace torvek::front::fields {

// The error of a field: where ("sites[3] (\"KAPF\").latitude") and what is wrong. Thrown by the
// readers below; the import catches it and turns it into its report.
struct FieldError {
    std::string where;
    std::string what;
};

[[noreturn]] void fail(const std::string& where, const std::string& what);

// A value as a short text for messages: at most 40 characters.
std::string describe(const Json& value);

// A number with up to 15 significant digits, for messages.
std::string formatNumber(double value);

// The path of `key` inside the object at `path` ("" for the document itself).
std::string member(const std::string& path, const char* key);

// The member `key` of `object`, or nullptr.
const Json* find(const Json& object, const char* key);

void requireObject(const Json& value, const std::string& path);

// Refuses keys other than those allowed, so that a misspelt field is not silently ignored. The
// message lists the `allowed` keys a person writes; `unlisted` ones (written by the export only)
// are accepted without being offered.
void checkKeys(const Json& object, const std::string& path,
               std::initializer_list<const char*> allowed,
               std::initializer_list<const char*> unlisted = {});

// The closed interval a number must lie in.
struct Range {
    double low = -std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::max();
    bool allowNonFinite = false;  // results may hold NaN or infinities, written as strings
};

inline const Range kAnyNumber{};
inline const Range kResultNumber{-std::numeric_limits<double>::max(),
                                 std::numeric_limits<double>::max(), true};
inline const Range kNonNegative{0.0, std::numeric_limits<double>::max()};

double toNumber(const Json& value, const std::string& path, const Range& range);
double requiredNumber(const Json& object, const std::string& path, const char* key,
                      const Range& range);
double optionalNumber(const Json& object, const std::string& path, const char* key, double fallback,
                      const Range& range);
std::int64_t toInteger(const Json& value, const std::string& path, std::int64_t low,
                       std::int64_t high);
std::int64_t optionalInteger(const Json& object, const std::string& path, const char* key,
                             std::int64_t fallback, std::int64_t low, std::int64_t high);
bool optionalBool(const Json& object, const std::string& path, const char* key, bool fallback);
std::string requiredString(const Json& object, const std::string& path, const char* key);

// Three numbers under three keys, e.g. {"latitude": .., "longitude": .., "elevation": ..}; each
// key is optional and leaves its output as it was.
void readTriple(const Json& parent, const std::string& path, const char* key,
                const char* const names[3], double* out[3], const Range& range);

// A list of exactly three numbers.
void readArray3(const Json& parent, const std::string& path, const char* key,
                std::array<double, 3>& out, const Range& range);

// A fixed number of bytes written as hexadecimal digits (the preserved blocks).
template <std::size_t N>
void readHex(const Json& object, const std::string& path, const char* key,
             std::array<std::uint8_t, N>& bytes) {
    const Json* value = find(object, key);
    if (value == nullptr) {
        return;
    }
    const std::string where = member(path, key);
    if (!value->is_string() || value->get<std::string>().size() != 2 * N) {
        fail(where, "must be a text of " + std::to_string(2 * N) + " hexadecimal digits");
    }
    const std::string text = value->get<std::string>();
    for (std::size_t i = 0; i < N; ++i) {
        unsigned byte = 0;
        for (std::size_t j = 0; j < 2; ++j) {
            const char c = text[2 * i + j];
            unsigned digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<unsigned>(c - 'A' + 10);
            } else {
                fail(where, "must hold hexadecimal digits only");
            }
            byte = byte * 16 + digit;
        }
        bytes[i] = static_cast<std::uint8_t>(byte);
    }
}

// Line and column (both from 1) of a byte offset in the text, for parse errors.
std::string lineAndColumn(const std::string& text, std::size_t offset);

// Field names shared by the import and the export.
inline const char* const kLatLonElev[3] = {"latitude", "longitude", "elevation"};
inline const char* const kXyz[3] = {"x", "y", "z"};
inline const char* const kCorrelationKeys[3] = {"xy", "xz", "yz"};
inline const char* const kNeu[3] = {"north", "east", "up"};
inline const char* const kBiasNames[4] = {"rotationNorth", "rotationEast", "rotationUp", "scale"};
// The project's texts for the header of the result documents (not kept in the data set).
inline const char* const kDocumentFields[4] = {"client", "surveyor", "datum", "epoch"};
inline const char* const kBiasResultNames[7] = {
    "rotationNorth", "rotationEast", "rotationUp", "scale", "rotationX", "rotationY", "rotationZ"};

}  // namespace torvek::front::fields
