#include "dataset/vector_record.h"

#include "dataset/record_codec.h"

namespace torvek {

namespace {

template <class Coder, class Vector>
void transferVector(const Coder& coder, Vector& v) {
    coder.field(0, v.fromSite);
    coder.field(4, v.toSite);
    coder.field(8, v.recordNumber);
    coder.field(12, v.recordSpare);
    coder.field(16, v.deltaX);
    coder.field(24, v.deltaY);
    coder.field(32, v.deltaZ);
    coder.field(40, v.sigmaX);
    coder.field(48, v.sigmaY);
    coder.field(56, v.sigmaZ);
    coder.field(64, v.correlationXY);
    coder.field(72, v.correlationXZ);
    coder.field(80, v.correlationYZ);
    coder.field(88, v.localSigmaNorth);
    coder.field(96, v.localSigmaEast);
    coder.field(104, v.localSigmaUp);
    coder.field(112, v.localCorrelation);
    coder.field(136, v.weightDivisor);
    coder.field(140, v.inUse);
    coder.field(141, v.adjustedDeltaX);
    coder.field(149, v.adjustedDeltaY);
    coder.field(157, v.adjustedDeltaZ);
    coder.field(165, v.adjustedNorth);
    coder.field(173, v.adjustedEast);
    coder.field(181, v.adjustedUp);
    coder.field(189, v.vectorTestResults);
    coder.field(285, v.adjustedLocalSigmaNorth);
    coder.field(293, v.adjustedLocalSigmaEast);
    coder.field(301, v.adjustedLocalSigmaUp);
    coder.field(309, v.adjustedLocalCorrelation);
    coder.field(333, v.adjustedSigmaX);
    coder.field(341, v.adjustedSigmaY);
    coder.field(349, v.adjustedSigmaZ);
    coder.field(357, v.adjustedCorrelationXY);
    coder.field(365, v.adjustedCorrelationXZ);
    coder.field(373, v.adjustedCorrelationYZ);
}

}  // namespace

bool operator==(const VectorRecord& a, const VectorRecord& b) {
    return sameSiteNameIgnoringCase(a.fromSite, b.fromSite) &&
           sameSiteNameIgnoringCase(a.toSite, b.toSite);
}

bool operator<(const VectorRecord& a, const VectorRecord& b) {
    const int from = compareSiteNames(a.fromSite.data(), b.fromSite.data(), true);
    if (from != 0) {
        return from < 0;
    }
    return compareSiteNames(a.toSite.data(), b.toSite.data(), true) < 0;
}

void clearResults(VectorRecord& record) {
    const VectorRecord fresh;
    record.localSigmaNorth = fresh.localSigmaNorth;
    record.localSigmaEast = fresh.localSigmaEast;
    record.localSigmaUp = fresh.localSigmaUp;
    record.localCorrelation = fresh.localCorrelation;
    record.adjustedDeltaX = fresh.adjustedDeltaX;
    record.adjustedDeltaY = fresh.adjustedDeltaY;
    record.adjustedDeltaZ = fresh.adjustedDeltaZ;
    record.adjustedNorth = fresh.adjustedNorth;
    record.adjustedEast = fresh.adjustedEast;
    record.adjustedUp = fresh.adjustedUp;
    record.vectorTestResults = fresh.vectorTestResults;
    record.adjustedLocalSigmaNorth = fresh.adjustedLocalSigmaNorth;
    record.adjustedLocalSigmaEast = fresh.adjustedLocalSigmaEast;
    record.adjustedLocalSigmaUp = fresh.adjustedLocalSigmaUp;
    record.adjustedLocalCorrelation = fresh.adjustedLocalCorrelation;
    record.adjustedSigmaX = fresh.adjustedSigmaX;
    record.adjustedSigmaY = fresh.adjustedSigmaY;
    record.adjustedSigmaZ = fresh.adjustedSigmaZ;
    record.adjustedCorrelationXY = fresh.adjustedCorrelationXY;
    record.adjustedCorrelationXZ = fresh.adjustedCorrelationXZ;
    record.adjustedCorrelationYZ = fresh.adjustedCorrelationYZ;
}

void encodeVectorRecord(const VectorRecord& record,
                        std::span<std::uint8_t, kVectorRecordSize> out) {
    transferVector(FieldEncoder(out), record);
}

void decodeVectorRecord(std::span<const std::uint8_t> bytes, VectorRecord& record) {
    transferVector(FieldDecoder(bytes), record);
}

}  // namespace torvek
