#include "dataset/vector_label.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace torvek {

namespace {

// Blanks between the start site's name and the end of the first text.
constexpr std::size_t kLabel1Blanks = 10;
// Blanks between the end site's name and the five digits of the second text.
constexpr std::size_t kLabel2Blanks = 5;
constexpr std::size_t kFiveDigits = 5;

// "%4.4s" of a name: at most four characters, up to its first NUL, right-aligned in four columns.
void putName(char* out, const SiteName& name) {
    std::size_t length = 0;
    while (length < kSiteNameSize && name.bytes[length] != '\0') {
        ++length;
    }
    const std::size_t pad = kVectorLabelNameWidth - length;
    std::memset(out, ' ', pad);
    std::memcpy(out + pad, name.data(), length);
}

}  // namespace

void formatVectorLabel(const VectorRecord& vector, char* label1, char* label2) {
    std::memset(label1, 0, kVectorLabelSize);
    std::memset(label2, 0, kVectorLabelSize);
    const int number = static_cast<int>(vector.recordNumber);
    // Every label of a run is formed this way, several times per vector, so the usual case is
    // put together by hand; it gives the bytes of the formats written out below.
    if (number >= 0 && number <= kLargestFiveDigitNumber) {
        putName(label1, vector.fromSite);
        std::memset(label1 + kVectorLabelNameWidth, ' ', kLabel1Blanks);
        putName(label2, vector.toSite);
        std::memset(label2 + kVectorLabelNameWidth, ' ', kLabel2Blanks);
        int rest = number;
        for (std::size_t i = kFiveDigits; i > 0; --i) {
            label2[kVectorLabelNameWidth + kLabel2Blanks + i - 1] =
                static_cast<char>('0' + rest % 10);
            rest /= 10;
        }
        return;
    }
    std::snprintf(label1, kVectorLabelSize, "%4.4s          ", vector.fromSite.data());
    // Every int32 fits in these twelve bytes; the label then takes as much as it has room for.
    char digits[12];
    if (number > kLargestFiveDigitNumber) {
        std::snprintf(digits, sizeof digits, "%10d", number);
        std::snprintf(label2, kVectorLabelSize, "%4.4s%.10s", vector.toSite.data(), digits);
    } else {
        std::snprintf(digits, sizeof digits, "%05d", number);
        std::snprintf(label2, kVectorLabelSize, "%4.4s     %.5s", vector.toSite.data(), digits);
    }
}

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLabelSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::int32_t vectorLabelNumber(const char* label2) {
    if (label2 == nullptr) {
        return 0;
    }
    // The labels of the usual numbers, "NAME     00042", read in one pass: every lookup of a
    // vector reads one. Each byte is looked at only after the ones before it, so a shorter text
    // is not read past its terminator; the general reading below gives the same number.
    {
        std::size_t i = 0;
        while (i < kVectorLabelNameWidth && label2[i] != '\0') {
            ++i;
        }
        while (i >= kVectorLabelNameWidth && i < kVectorLabelNumberOffset && label2[i] == ' ') {
            ++i;
        }
        std::int32_t value = 0;
        while (i >= kVectorLabelNumberOffset && i < kVectorLabelNumberOffset + kFiveDigits &&
               isDigit(label2[i])) {
            value = value * 10 + (label2[i] - '0');
            ++i;
        }
        if (i == kVectorLabelNumberOffset + kFiveDigits && label2[i] == '\0') {
            return value;
        }
    }
    // The number lies after the end of the text when a terminator comes before its offset.
    std::size_t end = 0;
    while (end < kVectorLabelSize && label2[end] != '\0') {
        ++end;
    }
    std::size_t i = kVectorLabelNameWidth;
    while (i < end && isLabelSpace(label2[i])) {
        ++i;
    }
    bool negative = false;
    if (i < end && (label2[i] == '+' || label2[i] == '-')) {
        negative = label2[i] == '-';
        ++i;
    }
    // At most 15 digits fit, so the magnitude cannot overflow 64 bits before it is clamped.
    std::int64_t magnitude = 0;
    while (i < end && label2[i] >= '0' && label2[i] <= '9') {
        magnitude = magnitude * 10 + (label2[i] - '0');
        ++i;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace torvek
