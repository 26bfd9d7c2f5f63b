#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace torvek {

// The data set file is little-endian whatever the host is, so numbers are assembled byte by
// byte rather than copied from memory, except on a little-endian host, where the bytes are the
// number's own. Doubles travel as their IEEE 754 bit pattern, which keeps
// every payload (NaNs included) intact through a read and a write.

inline void storeUint32(std::uint8_t* out, std::uint32_t value) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, &value, sizeof value);
        return;
    }
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

inline std::uint32_t loadUint32(const std::uint8_t* in) {
    std::uint32_t value = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // The same value in one load: every record field of every run passes through here.
        std::memcpy(&value, in, sizeof value);
        return value;
    }
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
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, &value, sizeof value);
        return;
    }
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

inline double loadDouble(const std::uint8_t* in) {
    std::uint64_t bits = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&bits, in, sizeof bits);
    } else {
        for (int i = 0; i < 8; ++i) {
            bits |= static_cast<std::uint64_t>(in[i]) << (8 * i);
        }
    }
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace torvek
