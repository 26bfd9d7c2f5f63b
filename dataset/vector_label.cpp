#include "dataset/vector_label.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace torvek {

void formatVectorLabel(const VectorRecord& vector, char* label1, char* label2) {
    std::memset(label1, 0, kVectorLabelSize);
    std::memset(label2, 0, kVectorLabelSize);
    std::snprintf(label1, kVectorLabelSize, "%4.4s          ", vector.fromSite.data());
    const int number = static_cast<int>(vector.recordNumber);
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

bool isLabelSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::int32_t vectorLabelNumber(const char* label2) {
    if (label2 == nullptr) {
        return 0;
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
