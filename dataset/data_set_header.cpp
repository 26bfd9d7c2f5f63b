#include "dataset/data_set_header.h"

#include "dataset/record_codec.h"

namespace torvek {

namespace {

template <class Coder, class Header>
void transferHeader(const Coder& coder, Header& h) {
    coder.field(0, h.headerReserved);
    coder.field(8, h.headerText);
    coder.field(264, h.semiMajorAxis);
    coder.field(272, h.inverseFlattening);
    coder.field(280, h.headerOption1);
    coder.field(281, h.headerOption2);
    coder.field(282, h.headerPadding);
    coder.field(288, h.referenceLatitude);
    coder.field(296, h.referenceLongitude);
    coder.field(304, h.confidenceLevel);
    coder.field(312, h.vectorSigmaScale);
    coder.field(320, h.headerValue1);
    coder.field(324, h.headerValue2);
}

}  // namespace

void encodeDataSetHeader(const DataSetHeader& header,
                         std::span<std::uint8_t, kDataSetHeaderSize> out) {
    transferHeader(FieldEncoder(out), header);
}

void decodeDataSetHeader(std::span<const std::uint8_t> bytes, DataSetHeader& header) {
    transferHeader(FieldDecoder(bytes), header);
}

}  // namespace torvek
