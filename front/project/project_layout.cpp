// The layout of an exported project text: small objects and lists on one line.
#include "front/project/project_json.h"

namespace torvek::front {
namespace {

// Lines of the exported text stay within this width where they can: small objects and lists are
// written on one line, so that a site or a vector reads as a short block.
constexpr std::size_t kLineWidth = 100;

std::string scalarText(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string inlineText(const Json& value) {
    if (value.is_object()) {
        std::string out = "{";
        for (auto it = value.begin(); it != value.end(); ++it) {
            out += (it == value.begin() ? "" : ", ") + scalarText(Json(it.key())) + ": " +
                   inlineText(it.value());
        }
        return out + "}";
    }
    if (value.is_array()) {
        std::string out = "[";
        for (std::size_t i = 0; i < value.size(); ++i) {
            out += (i ? ", " : "") + inlineText(value[i]);
        }
        return out + "]";
    }
    return scalarText(value);
}

void writeValue(std::string& out, const Json& value, std::size_t indent, std::size_t column) {
    const std::string flat = inlineText(value);
    if (!value.is_structured() || value.empty() || column + flat.size() <= kLineWidth) {
        out += flat;
        return;
    }
    const std::string inner(indent + 2, ' ');
    out += value.is_object() ? "{\n" : "[\n";
    std::size_t i = 0;
    for (auto it = value.begin(); it != value.end(); ++it, ++i) {
        out += inner;
        std::size_t used = inner.size();
        if (value.is_object()) {
            const std::string key = scalarText(Json(it.key())) + ": ";
            out += key;
            used += key.size();
        }
        writeValue(out, it.value(), indent + 2, used);
        out += i + 1 < value.size() ? ",\n" : "\n";
    }
    out += std::string(indent, ' ') + (value.is_object() ? "}" : "]");
}

}  // namespace

std::string projectText(const Json& document) {
    std::string out;
    writeValue(out, document, 0, 0);
    return out + "\n";
}

std::string exportProjectText(const AdjustedDataSet& dataSet, const SiteNameTable& names) {
    std::string out;
    writeValue(out, exportProject(dataSet, names), 0, 0);
    return out + "\n";
}

}  // namespace torvek::front
