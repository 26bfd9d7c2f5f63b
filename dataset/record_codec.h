#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "dataset/little_endian.h"
#include "dataset/site_name.h"

namespace torvek {

// Each record's layout is written once, as a function template that names every field with its
// offset; instantiated with FieldDecoder it reads a record, with FieldEncoder it writes one. That
// keeps the two directions from drifting apart.

// Reads fields from the bytes that were available for one record. A field that does not lie
// wholly within those bytes keeps the value it had, so a record cut short by the end of a file
// keeps its fresh defaults from the cut onwards.
class FieldDecoder {
  public:
    explicit FieldDecoder(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    void field(std::size_t offset, std::int32_t& value) const {
        if (holds(offset, 4)) {
            value = loadInt32(bytes_.data() + offset);
        }
    }
    void field(std::size_t offset, double& value) const {
        if (holds(offset, 8)) {
            value = loadDouble(bytes_.data() + offset);
        }
    }
    void field(std::size_t offset, std::uint8_t& value) const {
        if (holds(offset, 1)) {
            value = bytes_[offset];
        }
    }
    template <std::size_t N>
    void field(std::size_t offset, std::array<std::uint8_t, N>& value) const {
        if (holds(offset, N)) {
            std::memcpy(value.data(), bytes_.data() + offset, N);
        }
    }
    template <std::size_t N>
    void field(std::size_t offset, std::array<char, N>& value) const {
        if (holds(offset, N)) {
            std::memcpy(value.data(), bytes_.data() + offset, N);
        }
    }
    // Runs of doubles are separate fields: a cut in the middle keeps the later elements.
    template <std::size_t N>
    void field(std::size_t offset, std::array<double, N>& values) const {
        for (std::size_t i = 0; i < N; ++i) {
            field(offset + 8 * i, values[i]);
        }
    }
    void field(std::size_t offset, SiteName& name) const { field(offset, name.bytes); }

  private:
    bool holds(std::size_t offset, std::size_t size) const {
        return offset <= bytes_.size() && size <= bytes_.size() - offset;
    }

    std::span<const std::uint8_t> bytes_;
};

// Writes fields into the full-size byte image of one record.
class FieldEncoder {
  public:
    explicit FieldEncoder(std::span<std::uint8_t> bytes) : bytes_(bytes) {}

    void field(std::size_t offset, const std::int32_t& value) const {
        storeInt32(bytes_.data() + offset, value);
    }
    void field(std::size_t offset, const double& value) const {
        storeDouble(bytes_.data() + offset, value);
    }
    void field(std::size_t offset, const std::uint8_t& value) const { bytes_[offset] = value; }
    template <std::size_t N>
    void field(std::size_t offset, const std::array<std::uint8_t, N>& value) const {
        std::memcpy(bytes_.data() + offset, value.data(), N);
    }
    template <std::size_t N>
    void field(std::size_t offset, const std::array<char, N>& value) const {
        std::memcpy(bytes_.data() + offset, value.data(), N);
    }
    template <std::size_t N>
    void field(std::size_t offset, const std::array<double, N>& values) const {
        for (std::size_t i = 0; i < N; ++i) {
            field(offset + 8 * i, values[i]);
        }
    }
    void field(std::size_t offset, const SiteName& name) const { field(offset, name.bytes); }

  private:
    std::span<std::uint8_t> bytes_;
};

}  // namespace torvek
