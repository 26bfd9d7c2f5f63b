#include "front/text/unicode_text.h"

namespace torvek::front {
namespace {

// The smallest code point a sequence of each length may hold: shorter forms are overlong.
constexpr char32_t kSmallestThreeByte = 0x800;
constexpr char32_t kSmallestFourByte = 0x10000;
constexpr char32_t kFirstSurrogate = 0xd800;
constexpr char32_t kLastSurrogate = 0xdfff;
constexpr char32_t kLastCodePoint = 0x10ffff;

// Length of the UTF-8 sequence at `i` and its character, or 0 when the bytes there are not one.
int sequenceAt(const std::string& text, std::size_t i, char32_t& code) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
        code = c;
        return 1;
    }
    int length = 0;
    if (c >= 0xc2 && c <= 0xdf) {
        length = 2;
        code = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
        length = 3;
        code = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
        length = 4;
        code = c & 0x07;
    } else {
        return 0;
    }
    if (i + static_cast<std::size_t>(length) > text.size()) {
        return 0;
    }
    for (int k = 1; k < length; ++k) {
        const unsigned char d = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
        if ((d & 0xc0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (d & 0x3f);
    }
    if ((length == 3 && code < kSmallestThreeByte) || (length == 4 && code < kSmallestFourByte) ||
        (code >= kFirstSurrogate && code <= kLastSurrogate) || code > kLastCodePoint) {
        return 0;
    }
    return length;
}

}  // namespace

std::vector<char32_t> decodeCharacters(const std::string& text) {
    std::vector<char32_t> out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t code = 0;
        const int length = sequenceAt(text, i, code);
        if (length > 0) {
            out.push_back(code);
            i += static_cast<std::size_t>(length);
        } else {
            out.push_back(static_cast<unsigned char>(text[i]));
            ++i;
        }
    }
    return out;
}

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xe0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

bool isControlCharacter(char32_t code) {
    return code < 0x20 || code == 0x7f || (code >= 0x80 && code < 0xa0);
}

bool isUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t code = 0;
        const int length = sequenceAt(text, i, code);
        if (length == 0) {
            return false;
        }
        i += static_cast<std::size_t>(length);
    }
    return true;
}

std::string asUtf8(const std::string& text) {
    if (isUtf8(text)) {
        return text;
    }
    std::string out;
    for (char32_t code : decodeCharacters(text)) {
        appendUtf8(out, code);
    }
    return out;
}

std::size_t displayWidth(const std::string& text) {
    return decodeCharacters(text).size();
}

std::string padToWidth(const std::string& text, std::size_t width) {
    const std::size_t used = displayWidth(text);
    return used >= width ? text : text + std::string(width - used, ' ');
}

}  // namespace torvek::front
