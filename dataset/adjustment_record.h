#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace torvek {

inline constexpr std::size_t kAdjustmentRecordSize = 304;
// Four datum bias parameters (rotations about north, east and up in arc seconds, scale correction
// in ppm), each stored as a (value, sigma) pair.
inline constexpr std::size_t kBiasAprioriCount = 8;
// The adjusted bias pairs, then the rotations about the earth-centred X, Y and Z axes as pairs.
inline constexpr std::size_t kBiasResultCount = 14;

// Adjustment mode, a-priori and adjusted datum bias parameters, counts and test statistics of the
// last run (304 bytes). Only the last record of a data set is in use.
struct AdjustmentRecord {
    AdjustmentRecord() = default;
    AdjustmentRecord(const AdjustmentRecord&) = default;
    AdjustmentRecord(AdjustmentRecord&&) = default;
    AdjustmentRecord& operator=(const AdjustmentRecord&) = default;
    AdjustmentRecord& operator=(AdjustmentRecord&&) = default;
    virtual ~AdjustmentRecord() = default;

    std::array<std::uint8_t, 8> headerReserved{};         // offset 0; never interpreted
    std::int32_t recordNumber = -1;                       // offset 8
    std::uint8_t minimallyConstrained = 0;                // offset 12; flag
    std::array<std::uint8_t, 3> flagPadding{};            // offset 13; preserved
    std::array<double, kBiasAprioriCount> aprioriBias{};  // offset 16; (value, sigma) pairs
    std::array<double, 6> reserved{};                     // offset 80; preserved, not used
    std::array<double, kBiasResultCount> biasResults{};   // offset 128
    std::int32_t observationCount = 0;                    // offset 240
    std::int32_t unknownCount = 0;                        // offset 244
    std::int32_t degreesOfFreedom = 0;                    // offset 248
    std::int32_t iterationCount = 0;                      // offset 252
    double chiSquare = 1.0;                               // offset 256
    double chiSquareLower = 1.0;                          // offset 264
    double chiSquareUpper = 1.0;                          // offset 272
    double tauCriticalValue = 1.0;                        // offset 280
    double unitWeightStandardError = 1.0;                 // offset 288
    std::uint8_t adjustmentSucceeded = 0;                 // offset 296; flag
    std::array<std::uint8_t, 7> trailingPadding{};        // offset 297; preserved
};

// Adjustment records are equal, and ordered, by record number.
bool operator==(const AdjustmentRecord& a, const AdjustmentRecord& b);
bool operator<(const AdjustmentRecord& a, const AdjustmentRecord& b);

// Resets the fields a run writes (offsets 128 to 296: bias results, counts, statistics and the
// succeeded flag) to a fresh record's; the a-priori bias and the minimally constrained flag stay.
void clearResults(AdjustmentRecord& record);

void encodeAdjustmentRecord(const AdjustmentRecord& record,
                            std::span<std::uint8_t, kAdjustmentRecordSize> out);

// Reads a record from up to 304 bytes; fields that do not lie wholly within `bytes` keep their
// values.
void decodeAdjustmentRecord(std::span<const std::uint8_t> bytes, AdjustmentRecord& record);

}  // namespace torvek
