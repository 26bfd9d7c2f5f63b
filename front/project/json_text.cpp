#include "front/project/json_text.h"

#include <charconv>
#include <cmath>

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
    } else {
        out += value.dump(-1, ' ', false, Json::error_handler_t::replace);
    }
}

std::string& CompactObject::key(const char* name) {
    out_ += first_ ? "{\"" : ",\"";
    first_ = false;
    out_ += name;
    out_ += "\":";
    return out_;
}

void CompactObject::whole(const char* name, long long value) {
    char digits[24];
    key(name).append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void CompactObject::text(const char* name, const std::string& value) {
    key(name) += Json(value).dump(-1, ' ', false, Json::error_handler_t::replace);
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
