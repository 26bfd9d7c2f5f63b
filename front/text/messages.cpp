#include "front/text/messages.h"

#include <cstdio>
#include <map>

namespace torvek::front {

std::string escapeControlBytes(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto u = static_cast<unsigned char>(text[i]);
        const bool control = (u < 0x20 && text[i] != '\n' && text[i] != '\t') || u == 0x7f;
        if (control) {
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 0xf];
            continue;
        }
        // "\x1b" typed in a name stays apart from an escaped ESC.
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'x') {
            out += '\\';
        }
        out += text[i];
    }
    return out;
}

std::string messageKind(std::string_view text) {
    std::string kind;
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
            kind += c;
        } else if (!quoted && (c < '0' || c > '9')) {
            kind += c;
        }
    }
    return kind;
}

std::string groupedCount(std::size_t count) {
    std::string digits = std::to_string(count);
    for (std::size_t at = digits.size(); at > 3; at -= 3) {
        digits.insert(at - 3, ",");
    }
    return digits;
}

std::vector<std::string> cappedMessages(const std::vector<std::string>& lines) {
    std::map<std::string, std::size_t> seen;
    std::vector<std::size_t> kindOf(lines.size());
    std::vector<std::string> kinds;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto [it, added] = seen.emplace(messageKind(lines[i]), kinds.size());
        if (added) {
            kinds.push_back(it->first);
        }
        kindOf[i] = it->second;
    }
    std::vector<std::size_t> total(kinds.size(), 0);
    for (const std::size_t kind : kindOf) {
        ++total[kind];
    }
    std::vector<std::size_t> shown(kinds.size(), 0);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::size_t& count = shown[kindOf[i]];
        if (count == kRepeatedMessageLimit) {
            continue;
        }
        out.push_back(lines[i]);
        ++count;
        const std::size_t all = total[kindOf[i]];
        if (count == kRepeatedMessageLimit && all > count) {
            out.push_back("... and " + groupedCount(all - count) + " more like it");
        }
    }
    return out;
}

void printMessages(const std::string& prefix, const std::vector<std::string>& lines) {
    for (const std::string& line : cappedMessages(lines)) {
        printMessage(prefix + line + "\n");
    }
}

void printMessage(const std::string& text) {
    std::fputs(escapeControlBytes(text).c_str(), stderr);
    std::fflush(stderr);
}

}  // namespace torvek::front
