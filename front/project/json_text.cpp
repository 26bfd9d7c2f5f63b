#include "front/project/json_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>

namespace torvek::front {

void appendJsonNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    // The library's own conversion, so that a number reads the same in every file we write.
    char digits[64];
    out.append(digits, nlohmann::detail::to_chars(digits, digits + sizeof digits, value));
}

namespace {

// 10^k for k = 0 .. kMostRoundedDecimals, each exact in a double.
constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
static_assert(std::size(kPowersOfTen) == kMostRoundedDecimals + 1);
// The library writes numbers below 1e-4 in magnitude with an exponent, and numbers of more than
// 15 digits before the point too; a decimal of at most 15 significant digits (DBL_DIG) is the only
// one of so few digits that its double stands for, so its digits are the shortest ones.
constexpr double kLargestExactCount = 1e15;
constexpr double kSmallestFixed = 1e-4;

// Printable ASCII without a quote or a backslash: the library writes such a text as it is, in
// quotes (it escapes only those two, control characters and bytes that are not UTF-8).
bool isPlainText(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c >= ' ' && c <= '~' && c != '"' && c != '\\'; });
}

}  // namespace

double roundToDecimals(double value, int decimals) {
    const double unit = kPowersOfTen[std::clamp(decimals, 0, kMostRoundedDecimals)];
    return std::round(value * unit) / unit;
}

void appendRoundedNumber(std::string& out, double value, int decimals) {
    const int places = std::clamp(decimals, 0, kMostRoundedDecimals);
    const double unit = kPowersOfTen[places];
    const double count = std::round(value * unit);
    const double number = count / unit;
    if (!std::isfinite(count) || std::fabs(count) >= kLargestExactCount ||
        std::fabs(number) < kSmallestFixed) {
        appendJsonNumber(out, number);  // null, zero, exponents and long numbers
        return;
    }
    const auto magnitude = static_cast<std::uint64_t>(std::fabs(count));
    const auto scale = static_cast<std::uint64_t>(unit);
    std::uint64_t whole = magnitude / scale;
    auto fraction = static_cast<std::uint32_t>(magnitude % scale);
    // Written backwards into `text`: the decimals without their trailing zeros (".0" for a whole
    // number, as the library writes it), the point, the whole part, the sign.
    char text[32];
    char* const end = text + sizeof text;
    char* at = end;
    if (fraction == 0) {
        *--at = '0';
    } else {
        int place = 0;
        for (; fraction % 10 == 0; fraction /= 10) {
            ++place;
        }
        for (; place < places; ++place, fraction /= 10) {
            *--at = static_cast<char>('0' + fraction % 10);
        }
    }
    *--at = '.';
    do {
        *--at = static_cast<char>('0' + whole % 10);
        whole /= 10;
    } while (whole != 0);
    if (count < 0) {
        *--at = '-';
    }
    out.append(at, static_cast<std::size_t>(end - at));
}

void appendJsonText(std::string& out, std::string_view text) {
    if (isPlainText(text)) {
        out += '"';
        out += text;
        out += '"';
    } else {
        out += Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace);
    }
}

void appendJsonValue(std::string& out, const Json& value) {
    if (value.is_number_float()) {
        appendJsonNumber(out, value.get<double>());
    } else if (value.is_number_integer()) {
        char digits[24];
        out.append(digits,
                   std::to_chars(digits, digits + sizeof digits, value.get<long long>()).ptr);
    } else if (value.is_boolean()) {
        out += value.get<bool>() ? "true" : "false";
    } else if (value.is_null()) {
        out += "null";
    } else if (value.is_string()) {
        appendJsonText(out, value.get_ref<const std::string&>());
    } else {
        out += value.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
}

std::string& CompactObject::key(const char* name) {
    // Characters one by one, and the name in one piece: millions of keys in a large network's
    // files, and each piece appended costs a call.
    out_.push_back(first_ ? '{' : ',');
    out_.push_back('"');
    first_ = false;
    out_ += name;
    out_.push_back('"');
    out_.push_back(':');
    return out_;
}

void CompactObject::whole(const char* name, long long value) {
    char digits[24];
    key(name).append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void CompactObject::text(const char* name, const std::string& value) {
    appendJsonText(key(name), value);
}

void CompactObject::triple(const char* name, const double* values) {
    std::string& out = key(name);
    for (int k = 0; k < 3; ++k) {
        out += k == 0 ? '[' : ',';
        appendJsonNumber(out, values[k]);
    }
    out += ']';
}

}  // namespace torvek::front
