#pragma once

// Helpers for tests that look at data set files byte by byte. They decode little-endian numbers
// on their own, so a test does not check the file coders with the coders themselves.

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temp_directory.h"

namespace torvek::testing {

using Bytes = std::vector<std::uint8_t>;

inline std::int32_t int32At(const Bytes& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | bytes.at(offset + static_cast<std::size_t>(i));
    }
    return static_cast<std::int32_t>(value);
}

inline double doubleAt(const Bytes& bytes, std::size_t offset) {
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) {
        bits = (bits << 8) | bytes.at(offset + static_cast<std::size_t>(i));
    }
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

inline void putInt32(Bytes& bytes, std::size_t offset, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        bytes.at(offset + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

inline void putDouble(Bytes& bytes, std::size_t offset, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i) {
        bytes.at(offset + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

// A file of its own test folder, removed with the folder afterwards.
class TempFile {
  public:
    explicit TempFile(const std::string& stem) : path_(folder_.file(stem)) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& path() const { return path_; }

    void write(const Bytes& bytes) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    Bytes read() const {
        std::ifstream in(path_, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

  private:
    TempDirectory folder_;
    std::string path_;
};

}  // namespace torvek::testing
