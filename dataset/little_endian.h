#pragma once

#include <cstdint>
#include <cstring>

namespace torvek {

// The data set file is little-endian whatever the host is, so numbers are assembled byte by
// byte rather than copied from memory. Doubles travel as their IEEE 754 bit pattern, which keeps
// every payload (NaNs included) intact through a read and a write.

inline void storeUint32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

inline std::uint32_t loadUint32(const std::uint8_t* in) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    }
    return value;
}

inline void storeInt32(std::uint8_t* out, std::int32_t value) {
    storeUint32(out, static_cast<std::uint32_t>(value));
}

inline std::int32_t loadInt32(const std::uint8_t* in) {
    return static_cast<std::int32_t>(loadUint32(in));
}

inline void storeDouble(std::uint8_t* out, double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

inline double loadDouble(const std::uint8_t* in) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) {
        bits |= static_cast<std::uint64_t>(in[i]) << (8 * i);
    }
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace torvek
