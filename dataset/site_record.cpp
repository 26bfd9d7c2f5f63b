#include "dataset/site_record.h"

#include "dataset/record_codec.h"

namespace torvek {

namespace {

template <class Coder, class Site>
void transferSite(const Coder& coder, Site& s) {
    coder.field(0, s.name);
    coder.field(4, s.recordNumber);
    coder.field(8, s.recordSpare);
    coder.field(12, s.latitude);
    coder.field(20, s.longitude);
    coder.field(28, s.elevation);
    coder.field(36, s.geoidHeight);
    coder.field(44, s.latitudeSigma);
    coder.field(52, s.longitudeSigma);
    coder.field(60, s.elevationSigma);
    coder.field(68, s.latitudeFixed);
    coder.field(69, s.longitudeFixed);
    coder.field(70, s.elevationFixed);
    coder.field(71, s.inUse);
    coder.field(72, s.adjustedLatitude);
    coder.field(80, s.adjustedLongitude);
    coder.field(88, s.adjustedElevation);
    coder.field(96, s.adjustedLatitudeSigma);
    coder.field(104, s.adjustedLongitudeSigma);
    coder.field(112, s.adjustedElevationSigma);
    coder.field(120, s.lastCorrection);
    coder.field(144, s.constraintResidual);
    coder.field(168, s.normalizedConstraintResidual);
}

}  // namespace

bool operator==(const SiteRecord& a, const SiteRecord& b) {
    return sameSiteNameIgnoringCase(a.name, b.name);
}

bool operator<(const SiteRecord& a, const SiteRecord& b) {
    return compareSiteNames(a.name.data(), b.name.data(), true) < 0;
}

void clearResults(SiteRecord& record) {
    const SiteRecord fresh;
    record.adjustedLatitude = fresh.adjustedLatitude;
    record.adjustedLongitude = fresh.adjustedLongitude;
    record.adjustedElevation = fresh.adjustedElevation;
    record.adjustedLatitudeSigma = fresh.adjustedLatitudeSigma;
    record.adjustedLongitudeSigma = fresh.adjustedLongitudeSigma;
    record.adjustedElevationSigma = fresh.adjustedElevationSigma;
    record.lastCorrection = fresh.lastCorrection;
    record.constraintResidual = fresh.constraintResidual;
    record.normalizedConstraintResidual = fresh.normalizedConstraintResidual;
}

void encodeSiteRecord(const SiteRecord& record, std::span<std::uint8_t, kSiteRecordSize> out) {
    transferSite(FieldEncoder(out), record);
}

void decodeSiteRecord(std::span<const std::uint8_t> bytes, SiteRecord& record) {
    transferSite(FieldDecoder(bytes), record);
}

}  // namespace torvek
