#include "front/import/xml_reading.h"

#include <algorithm>
#include <cstring>

namespace torvek::front::xml {
namespace {

// How far into a file the document element is looked for: past the declaration, comments and a
// document type, well within the first kilobytes of any real file.
constexpr std::size_t kRootSearchLimit = 16384;

std::string trimmed(std::string_view t) {
    const std::size_t first = t.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    return std::string(t.substr(first, t.find_last_not_of(" \t\r\n") - first + 1));
}

// The start tag of the first element: "<name attr=...>" without its angle brackets.
std::string_view firstStartTag(std::string_view bytes) {
    bytes = bytes.substr(0, std::min(bytes.size(), kRootSearchLimit));
    std::size_t at = 0;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        at = 3;
    }
    while (at < bytes.size()) {
        while (at < bytes.size() &&
               (bytes[at] == ' ' || bytes[at] == '\t' || bytes[at] == '\r' || bytes[at] == '\n')) {
            ++at;
        }
        if (at >= bytes.size() || bytes[at] != '<') {
            return {};
        }
        std::string_view rest = bytes.substr(at);
        std::size_t end = std::string_view::npos;
        if (rest.substr(0, 4) == "<!--") {
            end = rest.find("-->");
            end = end == std::string_view::npos ? end : end + 3;
        } else if (rest.substr(0, 2) == "<?" || rest.substr(0, 2) == "<!") {
            end = rest.find('>');
            end = end == std::string_view::npos ? end : end + 1;
        } else {
            end = rest.find('>');
            if (end == std::string_view::npos) {
                return {};
            }
            return rest.substr(1, end - 1);
        }
        if (end == std::string_view::npos) {
            return {};
        }
        at += end;
    }
    return {};
}

}  // namespace

std::string_view localName(const pugi::xml_node& node) {
    std::string_view name = node.name();
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

pugi::xml_node child(const pugi::xml_node& node, std::string_view name) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && localName(c) == name) {
            return c;
        }
    }
    return {};
}

std::string text(const pugi::xml_node& node) {
    return trimmed(node.text().get());
}

bool parse(std::string_view bytes, pugi::xml_document& document, std::string& error) {
    const pugi::xml_parse_result result =
        document.load_buffer(bytes.data(), bytes.size(), pugi::parse_default, pugi::encoding_utf8);
    if (result) {
        return true;
    }
    std::size_t line = 1;
    for (std::ptrdiff_t i = 0; i < result.offset && static_cast<std::size_t>(i) < bytes.size();
         ++i) {
        line += bytes[static_cast<std::size_t>(i)] == '\n' ? 1 : 0;
    }
    error = "line " + std::to_string(line) + ": not well-formed XML (" + result.description() + ")";
    return false;
}

std::string rootName(std::string_view bytes) {
    const std::string_view tag = firstStartTag(bytes);
    std::size_t end = 0;
    while (end < tag.size() && tag[end] != ' ' && tag[end] != '\t' && tag[end] != '\r' &&
           tag[end] != '\n' && tag[end] != '/') {
        ++end;
    }
    std::string_view name = tag.substr(0, end);
    const std::size_t colon = name.find(':');
    return std::string(colon == std::string_view::npos ? name : name.substr(colon + 1));
}

std::string rootAttribute(std::string_view bytes, std::string_view name) {
    const std::string_view tag = firstStartTag(bytes);
    std::size_t at = 0;
    while ((at = tag.find(name, at)) != std::string_view::npos) {
        const bool startsWord = at > 0 && (tag[at - 1] == ' ' || tag[at - 1] == '\t' ||
                                           tag[at - 1] == '\r' || tag[at - 1] == '\n');
        std::size_t after = at + name.size();
        while (after < tag.size() && (tag[after] == ' ' || tag[after] == '\t')) {
            ++after;
        }
        if (startsWord && after < tag.size() && tag[after] == '=') {
            ++after;
            while (after < tag.size() && (tag[after] == ' ' || tag[after] == '\t')) {
                ++after;
            }
            if (after < tag.size() && (tag[after] == '"' || tag[after] == '\'')) {
                const std::size_t close = tag.find(tag[after], after + 1);
                if (close != std::string_view::npos) {
                    return std::string(tag.substr(after + 1, close - after - 1));
                }
            }
            return {};
        }
        at += name.size();
    }
    return {};
}

}  // namespace torvek::front::xml
