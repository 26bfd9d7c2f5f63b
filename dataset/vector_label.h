#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "dataset/vector_record.h"

namespace torvek {

// Each of the two texts that name a vector takes 15 bytes: 14 characters and a terminator.
inline constexpr std::size_t kVectorLabelSize = 15;
// The record number in the second text starts at this offset ("ABCD     00007").
inline constexpr std::size_t kVectorLabelNumberOffset = 9;

// The pair of texts that name a vector: its start site ("%4.4s" and 10 blanks) and its end site
// with its record number ("%4.4s     %05d").
struct VectorLabel {
    std::array<char, kVectorLabelSize> from{};
    std::array<char, kVectorLabelSize> to{};
};

// Writes the two texts of `vector` into label1 and label2, each a buffer of kVectorLabelSize
// bytes. Names shorter than four characters come out right-aligned. A record number of six or
// more characters (beyond 99999, or below -9999) does not fit: the text is cut at 14 characters,
// so such a vector cannot be found again from its labels.
void formatVectorLabel(const VectorRecord& vector, char* label1, char* label2);

// The record number that label2 names: read from its tenth character on, skipping leading white
// space, with an optional sign, up to the first non-digit; 0 when there are no digits, and held
// within the int32 range. Reading stops at label2's terminator and never goes past
// kVectorLabelSize bytes, so a short text has no number (0). A null label gives 0.
std::int32_t vectorLabelNumber(const char* label2);

}  // namespace torvek
