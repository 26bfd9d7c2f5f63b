#pragma once
// Characters of the front end's texts: report text and names arrive as bytes that are UTF-8 where
// they can be, and are shown on terminals, in RTF, HTML and tables.
#include <string>
#include <vector>

namespace torvek::front {

// The characters of a text: UTF-8 sequences decoded, other bytes taken as Latin-1 characters.
std::vector<char32_t> decodeCharacters(const std::string& text);

// Appends one character (at most U+10FFFF) as UTF-8.
void appendUtf8(std::string& out, char32_t code);

// C0 and C1 control characters and DEL.
bool isControlCharacter(char32_t code);

// True when every byte of `text` belongs to a well-formed UTF-8 sequence.
bool isUtf8(const std::string& text);

// `text` as UTF-8: unchanged when it is, else every byte that is not read as Latin-1.
std::string asUtf8(const std::string& text);

// Columns a text takes in a fixed-width table: one per character (names are shown as written;
// East Asian wide characters count as one, which only loosens the alignment after them).
std::size_t displayWidth(const std::string& text);

// `text` followed by blanks up to `width` columns (nothing added when it is wider).
std::string padToWidth(const std::string& text, std::size_t width);

}  // namespace torvek::front
