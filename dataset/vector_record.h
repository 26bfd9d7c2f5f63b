#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "dataset/site_name.h"

namespace torvek {

// 381 bytes: the record has no padding, so every double after the flag byte at 140 sits at an
// odd offset.
inline constexpr std::size_t kVectorRecordSize = 381;
inline constexpr std::size_t kVectorTestResultCount = 12;
// A weight divisor of 2 leaves the vector's weights as they are.
inline constexpr std::int32_t kNeutralWeightDivisor = 2;

// One measured GPS baseline vector of a data set file. "Input" fields are prepared by the front
// end; "result" fields are written into the output data set by a run.
struct VectorRecord {
    VectorRecord() = default;
    VectorRecord(const VectorRecord&) = default;
    VectorRecord(VectorRecord&&) = default;
    VectorRecord& operator=(const VectorRecord&) = default;
    VectorRecord& operator=(VectorRecord&&) = default;
    virtual ~VectorRecord() = default;

    SiteName fromSite;               // offset 0; input
    SiteName toSite;                 // offset 4; input
    std::int32_t recordNumber = -1;  // offset 8; part of the vector's label
    std::int32_t recordSpare = 0;    // offset 12; preserved, not used
    double deltaX = 0.0;             // offset 16; input, earth-centred, metres
    double deltaY = 0.0;             // offset 24
    double deltaZ = 0.0;             // offset 32
    double sigmaX = 0.0;             // offset 40; input, a-priori, metres
    double sigmaY = 0.0;             // offset 48
    double sigmaZ = 0.0;             // offset 56
    double correlationXY = 0.0;      // offset 64; input; correlations, or covariances in m^2
    double correlationXZ = 0.0;      // offset 72
    double correlationYZ = 0.0;      // offset 80
    double localSigmaNorth = 0.0;    // offset 88; result, a-priori sigmas in the local frame
    double localSigmaEast = 0.0;     // offset 96
    double localSigmaUp = 0.0;       // offset 104
    std::array<double, 3> localCorrelation{};            // offset 112; result, written as 0
    std::int32_t weightDivisor = kNeutralWeightDivisor;  // offset 136; weights times 2 / this
    std::uint8_t inUse = 1;                              // offset 140; flag
    double adjustedDeltaX = 0.0;  // offset 141; result, earth-centred, metres
    double adjustedDeltaY = 0.0;  // offset 149
    double adjustedDeltaZ = 0.0;  // offset 157
    double adjustedNorth = 0.0;   // offset 165; result, local frame, metres
    double adjustedEast = 0.0;    // offset 173
    double adjustedUp = 0.0;      // offset 181
    // Offset 189: residuals X, Y, Z; normalized residuals X, Y, Z; residuals north, east, up;
    // normalized residuals north, east, up.
    std::array<double, kVectorTestResultCount> vectorTestResults{};
    double adjustedLocalSigmaNorth = 0.0;              // offset 285; result, metres
    double adjustedLocalSigmaEast = 0.0;               // offset 293
    double adjustedLocalSigmaUp = 0.0;                 // offset 301
    std::array<double, 3> adjustedLocalCorrelation{};  // offset 309
    double adjustedSigmaX = 0.0;                       // offset 333; result, metres
    double adjustedSigmaY = 0.0;                       // offset 341
    double adjustedSigmaZ = 0.0;                       // offset 349
    double adjustedCorrelationXY = 0.0;                // offset 357
    double adjustedCorrelationXZ = 0.0;                // offset 365
    double adjustedCorrelationYZ = 0.0;                // offset 373
};

// Vectors are equal when both end names are equal ignoring case, and order by start name, then
// end name.
bool operator==(const VectorRecord& a, const VectorRecord& b);
bool operator<(const VectorRecord& a, const VectorRecord& b);

// Resets the fields a run writes (offsets 88 to 135, the local a-priori precision, and 141 to 380,
// the adjusted vector, its residuals and precisions) to a fresh record's; input fields and the
// in-use flag stay.
void clearResults(VectorRecord& record);

void encodeVectorRecord(const VectorRecord& record, std::span<std::uint8_t, kVectorRecordSize> out);

// Reads a vector from up to 381 bytes; fields that do not lie wholly within `bytes` keep their
// values.
void decodeVectorRecord(std::span<const std::uint8_t> bytes, VectorRecord& record);

}  // namespace torvek
