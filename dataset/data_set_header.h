#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace torvek {

inline constexpr std::size_t kDataSetHeaderSize = 328;
inline constexpr std::size_t kHeaderTextSize = 256;

// A fresh data set carries the WGS 84 ellipsoid: its defining semi-major axis (metres) and
// reciprocal flattening.
inline constexpr double kWgs84SemiMajorAxis = 6378137.0;
inline constexpr double kWgs84InverseFlattening = 298.257223563;
// The usual survey choice of a 95 % confidence level for the statistical tests.
inline constexpr double kDefaultConfidenceLevel = 95.0;

// The 328-byte header block of a data set file: ellipsoid, reference point of the local frame and
// test settings. Bytes the adjustment does not interpret are kept so that a file that was read
// writes back unchanged; a header that was never read writes them as zeros.
struct DataSetHeader {
    DataSetHeader() = default;
    DataSetHeader(const DataSetHeader&) = default;
    DataSetHeader(DataSetHeader&&) = default;
    DataSetHeader& operator=(const DataSetHeader&) = default;
    DataSetHeader& operator=(DataSetHeader&&) = default;
    virtual ~DataSetHeader() = default;

    std::array<std::uint8_t, 8> headerReserved{};  // offset 0; never interpreted
    std::array<char, kHeaderTextSize>
        headerText{};                            // offset 8; NUL-padded, no terminator when full
    double semiMajorAxis = kWgs84SemiMajorAxis;  // offset 264; metres
    double inverseFlattening = kWgs84InverseFlattening;  // offset 272; 1/f
    std::uint8_t headerOption1 = 1;                      // offset 280; preserved, not used
    std::uint8_t headerOption2 = 1;                      // offset 281; preserved, not used
    std::array<std::uint8_t, 6> headerPadding{};         // offset 282; preserved
    double referenceLatitude = 0.0;                      // offset 288; decimal degrees, [-90, 90]
    double referenceLongitude = 0.0;                     // offset 296; decimal degrees
    double confidenceLevel = kDefaultConfidenceLevel;    // offset 304; percent
    double vectorSigmaScale = 1.0;  // offset 312; factor on the a-priori vector sigmas
    std::int32_t headerValue1 = 0;  // offset 320; preserved, not used
    std::int32_t headerValue2 = 0;  // offset 324; preserved, not used
};

// Writes the header's 328-byte image.
void encodeDataSetHeader(const DataSetHeader& header,
                         std::span<std::uint8_t, kDataSetHeaderSize> out);

// Reads a header from up to 328 bytes. Fields that do not lie wholly within `bytes` keep the
// value they had in `header`. Nothing is checked or converted.
void decodeDataSetHeader(std::span<const std::uint8_t> bytes, DataSetHeader& header);

}  // namespace torvek
