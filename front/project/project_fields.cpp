#include "front/project/project_fields.h"

#include <cmath>
#include <cstdio>

namespace torvek::front::fields {

void fail(const std::string& where, const std::string& what) {
    throw FieldError{where, what};
}

std::string describe(const Json& value) {
    std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    if (text.size() > 40) {
        text = text.substr(0, 37) + "...";
    }
    return text;
}

std::string formatNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

std::string member(const std::string& path, const char* key) {
    return path.empty() ? std::string(key) : path + "." + key;
}

const Json* find(const Json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

void requireObject(const Json& value, const std::string& path) {
    if (!value.is_object()) {
        fail(path, "must be an object {...}, not " + describe(value));
    }
}

void checkKeys(const Json& object, const std::string& path,
               std::initializer_list<const char*> allowed,
               std::initializer_list<const char*> unlisted) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool known = false;
        for (const char* key : allowed) {
            known = known || it.key() == key;
        }
        for (const char* key : unlisted) {
            known = known || it.key() == key;
        }
        if (!known) {
            std::string list;
            for (const char* key : allowed) {
                list += list.empty() ? "" : ", ";
                list += key;
            }
            fail(member(path, it.key().c_str()), "unknown field (known here: " + list + ")");
        }
    }
}

double toNumber(const Json& value, const std::string& path, const Range& range) {
    double number = 0.0;
    if (value.is_number()) {
        number = value.get<double>();
    } else if (range.allowNonFinite && value.is_string() &&
               (value == "NaN" || value == "Infinity" || value == "-Infinity")) {
        const std::string text = value.get<std::string>();
        return text == "NaN"        ? std::numeric_limits<double>::quiet_NaN()
               : text == "Infinity" ? std::numeric_limits<double>::infinity()
                                    : -std::numeric_limits<double>::infinity();
    } else {
        fail(path, "must be a number, not " + describe(value));
    }
    if (!std::isfinite(number)) {
        fail(path, "must be a finite number");
    }
    if (number < range.low || number > range.high) {
        fail(path, "must lie between " + formatNumber(range.low) + " and " +
                       formatNumber(range.high) + ", not " + formatNumber(number));
    }
    return number;
}

double requiredNumber(const Json& object, const std::string& path, const char* key,
                      const Range& range) {
    const Json* value = find(object, key);
    if (value == nullptr) {
        fail(member(path, key), "is missing");
    }
    return toNumber(*value, member(path, key), range);
}

double optionalNumber(const Json& object, const std::string& path, const char* key, double fallback,
                      const Range& range) {
    const Json* value = find(object, key);
    return value == nullptr ? fallback : toNumber(*value, member(path, key), range);
}

std::int64_t toInteger(const Json& value, const std::string& path, std::int64_t low,
                       std::int64_t high) {
    if (!value.is_number_integer()) {
        fail(path, "must be a whole number, not " + describe(value));
    }
    std::int64_t number = 0;
    if (value.is_number_unsigned()) {
        const std::uint64_t u = value.get<std::uint64_t>();
        if (u > static_cast<std::uint64_t>(high)) {
            fail(path, "must lie between " + std::to_string(low) + " and " + std::to_string(high));
        }
        number = static_cast<std::int64_t>(u);
    } else {
        number = value.get<std::int64_t>();
    }
    if (number < low || number > high) {
        fail(path, "must lie between " + std::to_string(low) + " and " + std::to_string(high) +
                       ", not " + std::to_string(number));
    }
    return number;
}

std::int64_t optionalInteger(const Json& object, const std::string& path, const char* key,
                             std::int64_t fallback, std::int64_t low, std::int64_t high) {
    const Json* value = find(object, key);
    return value == nullptr ? fallback : toInteger(*value, member(path, key), low, high);
}

bool optionalBool(const Json& object, const std::string& path, const char* key, bool fallback) {
    const Json* value = find(object, key);
    if (value == nullptr) {
        return fallback;
    }
    if (!value->is_boolean()) {
        fail(member(path, key), "must be true or false, not " + describe(*value));
    }
    return value->get<bool>();
}

std::string requiredString(const Json& object, const std::string& path, const char* key) {
    const Json* value = find(object, key);
    if (value == nullptr) {
        fail(member(path, key), "is missing");
    }
    if (!value->is_string()) {
        fail(member(path, key), "must be a text in quotes, not " + describe(*value));
    }
    return value->get<std::string>();
}

void readTriple(const Json& parent, const std::string& path, const char* key,
                const char* const names[3], double* out[3], const Range& range) {
    const Json* object = find(parent, key);
    if (object == nullptr) {
        return;
    }
    const std::string where = member(path, key);
    requireObject(*object, where);
    checkKeys(*object, where, {names[0], names[1], names[2]});
    for (int i = 0; i < 3; ++i) {
        *out[i] = optionalNumber(*object, where, names[i], *out[i], range);
    }
}

void readArray3(const Json& parent, const std::string& path, const char* key,
                std::array<double, 3>& out, const Range& range) {
    const Json* value = find(parent, key);
    if (value == nullptr) {
        return;
    }
    const std::string where = member(path, key);
    if (!value->is_array() || value->size() != 3) {
        fail(where, "must be a list of three numbers");
    }
    for (std::size_t i = 0; i < 3; ++i) {
        out[i] = toNumber((*value)[i], where + "[" + std::to_string(i) + "]", range);
    }
}

std::string lineAndColumn(const std::string& text, std::size_t offset) {
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace torvek::front::fields
