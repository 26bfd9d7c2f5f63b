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
// The site name takes the first four characters of each text; the record number is read from
// here on, so that a number wider than five digits can use the blanks before it.
inline constexpr std::size_t kVectorLabelNameWidth = 4;
// Widest record number the usual "%05d" field holds.
inline constexpr std::int32_t kLargestFiveDigitNumber = 99999;

// The pair of texts that name a vector: its start site ("%4.4s" and 10 blanks) and its end site
// with its record number ("%4.4s     %05d").
struct VectorLabel {
    std::array<char, kVectorLabelSize> from{};
    std::array<char, kVectorLabelSize> to{};
};

// Writes the two texts of `vector` into label1 and label2, each a buffer of kVectorLabelSize
// bytes. Names shorter than four characters come out right-aligned. A record number above 99999
// takes the ten columns after the name instead ("%4.4s%10d"), so that its label stays whole:
// cut to fourteen characters it would name the vector whose number is its first five digits.
// A negative number below -9999 is cut at 14 characters; negative numbers are never found
// (seekVector), so the cut label matches no vector.
void formatVectorLabel(const VectorRecord& vector, char* label1, char* label2);

// The record number that label2 names: read from its fifth character on (after the name),
// skipping white space, with an optional sign, up to the first non-digit; 0 when there are no
// digits, and held within the int32 range. Reading stops at label2's terminator and never goes
// past kVectorLabelSize bytes, so a short text has no number (0). A null label gives 0.
std::int32_t vectorLabelNumber(const char* label2);

}  // namespace torvek
