#include "dataset/adjustment_record.h"

#include "dataset/record_codec.h"

namespace torvek {

namespace {

template <class Coder, class Record>
void transferAdjustment(const Coder& coder, Record& r) {
    coder.field(0, r.headerReserved);
    coder.field(8, r.recordNumber);
    coder.field(12, r.minimallyConstrained);
    coder.field(13, r.flagPadding);
    coder.field(16, r.aprioriBias);
    coder.field(80, r.reserved);
    coder.field(128, r.biasResults);
    coder.field(240, r.observationCount);
    coder.field(244, r.unknownCount);
    coder.field(248, r.degreesOfFreedom);
    coder.field(252, r.iterationCount);
    coder.field(256, r.chiSquare);
    coder.field(264, r.chiSquareLower);
    coder.field(272, r.chiSquareUpper);
    coder.field(280, r.tauCriticalValue);
    coder.field(288, r.unitWeightStandardError);
    coder.field(296, r.adjustmentSucceeded);
    coder.field(297, r.trailingPadding);
}

}  // namespace

bool operator==(const AdjustmentRecord& a, const AdjustmentRecord& b) {
    return a.recordNumber == b.recordNumber;
}

bool operator<(const AdjustmentRecord& a, const AdjustmentRecord& b) {
    return a.recordNumber < b.recordNumber;
}

void clearResults(AdjustmentRecord& record) {
    const AdjustmentRecord fresh;
    record.biasResults = fresh.biasResults;
    record.observationCount = fresh.observationCount;
    record.unknownCount = fresh.unknownCount;
    record.degreesOfFreedom = fresh.degreesOfFreedom;
    record.iterationCount = fresh.iterationCount;
    record.chiSquare = fresh.chiSquare;
    record.chiSquareLower = fresh.chiSquareLower;
    record.chiSquareUpper = fresh.chiSquareUpper;
    record.tauCriticalValue = fresh.tauCriticalValue;
    record.unitWeightStandardError = fresh.unitWeightStandardError;
    record.adjustmentSucceeded = fresh.adjustmentSucceeded;
}

void encodeAdjustmentRecord(const AdjustmentRecord& record,
                            std::span<std::uint8_t, kAdjustmentRecordSize> out) {
    transferAdjustment(FieldEncoder(out), record);
}

void decodeAdjustmentRecord(std::span<const std::uint8_t> bytes, AdjustmentRecord& record) {
    transferAdjustment(FieldDecoder(bytes), record);
}

}  // namespace torvek
