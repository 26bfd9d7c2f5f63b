#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "dataset/site_name.h"

namespace torvek {

inline constexpr std::size_t kSiteRecordSize = 192;

// One survey site of a data set file (192 bytes). "Input" fields are prepared by the front end
// and read by the adjustment; "result" fields are written into the output data set by a run.
struct SiteRecord {
    SiteRecord() = default;
    SiteRecord(const SiteRecord&) = default;
    SiteRecord(SiteRecord&&) = default;
    SiteRecord& operator=(const SiteRecord&) = default;
    SiteRecord& operator=(SiteRecord&&) = default;
    virtual ~SiteRecord() = default;

    SiteName name;                        // offset 0; input
    std::int32_t recordNumber = -1;       // offset 4; number given when the site was added
    std::int32_t recordSpare = 0;         // offset 8; preserved, not used
    double latitude = 0.0;                // offset 12; input, decimal degrees
    double longitude = 0.0;               // offset 20; input, decimal degrees
    double elevation = 0.0;               // offset 28; input, metres above the geoid
    double geoidHeight = 0.0;             // offset 36; input, metres; 0 counts as missing
    double latitudeSigma = 0.0;           // offset 44; input, metres; 0 = no constraint
    double longitudeSigma = 0.0;          // offset 52; input, metres; 0 = no constraint
    double elevationSigma = 0.0;          // offset 60; input, metres; 0 = no constraint
    std::uint8_t latitudeFixed = 0;       // offset 68; flag
    std::uint8_t longitudeFixed = 0;      // offset 69; flag
    std::uint8_t elevationFixed = 0;      // offset 70; flag
    std::uint8_t inUse = 1;               // offset 71; flag
    double adjustedLatitude = 0.0;        // offset 72; result, decimal degrees
    double adjustedLongitude = 0.0;       // offset 80; result, decimal degrees
    double adjustedElevation = 0.0;       // offset 88; result, metres
    double adjustedLatitudeSigma = 0.0;   // offset 96; result, metres
    double adjustedLongitudeSigma = 0.0;  // offset 104; result, metres
    double adjustedElevationSigma = 0.0;  // offset 112; result, metres
    // Offset 120: north, east and up corrections (metres) of the last solution.
    std::array<double, 3> lastCorrection{};
    // Offset 144: residuals of the latitude, longitude and elevation constraints, metres.
    std::array<double, 3> constraintResidual{};
    // Offset 168: the same residuals times the square root of their weights.
    std::array<double, 3> normalizedConstraintResidual{};
};

// Sites are equal, and ordered, by name, ignoring case.
bool operator==(const SiteRecord& a, const SiteRecord& b);
bool operator<(const SiteRecord& a, const SiteRecord& b);

// Resets the fields a run writes (offsets 72 to 191: adjusted position and its sigmas, the last
// corrections, the constraint residuals) to a fresh record's; input fields and flags stay.
void clearResults(SiteRecord& record);

void encodeSiteRecord(const SiteRecord& record, std::span<std::uint8_t, kSiteRecordSize> out);

// Reads a site from up to 192 bytes; fields that do not lie wholly within `bytes` keep their
// values.
void decodeSiteRecord(std::span<const std::uint8_t> bytes, SiteRecord& record);

}  // namespace torvek
