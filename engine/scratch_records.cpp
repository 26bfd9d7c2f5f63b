#include "engine/scratch_records.h"

namespace torvek {

bool writeRecord(ScratchFile& f, const ControlConstraintRecord& r) {
    return f.putInt32(r.siteIndex) && f.putInt32(r.component) && f.putInt32(r.unknown) &&
           f.putDouble(r.sigma) && f.putBytes(r.label, sizeof r.label) && f.putDouble(r.value);
}

bool readRecord(ScratchFile& f, ControlConstraintRecord& r) {
    bool ok = f.getInt32(r.siteIndex) && f.getInt32(r.component) && f.getInt32(r.unknown) &&
              f.getDouble(r.sigma) && f.getBytes(r.label, sizeof r.label) && f.getDouble(r.value);
    r.label[sizeof r.label - 1] = '\0';
    return ok;
}

bool writeRecord(ScratchFile& f, const BiasGroupRecord& r) {
    bool ok = f.putInt32(r.vectorCount);
    for (int k = 0; k < kBiasParameterCount; ++k)
        ok = ok && f.putDouble(r.value[k]) && f.putDouble(r.sigma[k]);
    return ok;
}

bool readRecord(ScratchFile& f, BiasGroupRecord& r) {
    bool ok = f.getInt32(r.vectorCount);
    for (int k = 0; k < kBiasParameterCount; ++k)
        ok = ok && f.getDouble(r.value[k]) && f.getDouble(r.sigma[k]);
    return ok;
}

bool writeRecord(ScratchFile& f, const VectorObservationRecord& r) {
    return f.putInt32(r.fromSite) && f.putInt32(r.toSite) && f.putDouble(r.dX) &&
           f.putDouble(r.dY) && f.putDouble(r.dZ) && f.putDouble(r.pN) && f.putDouble(r.pE) &&
           f.putDouble(r.pU) && f.putDouble(r.length) && f.putBytes(r.label1, kNameSlotSize) &&
           f.putBytes(r.label2, kNameSlotSize);
}

bool readRecord(ScratchFile& f, VectorObservationRecord& r) {
    bool ok = f.getInt32(r.fromSite) && f.getInt32(r.toSite) && f.getDouble(r.dX) &&
              f.getDouble(r.dY) && f.getDouble(r.dZ) && f.getDouble(r.pN) && f.getDouble(r.pE) &&
              f.getDouble(r.pU) && f.getDouble(r.length) && f.getBytes(r.label1, kNameSlotSize) &&
              f.getBytes(r.label2, kNameSlotSize);
    r.label1[kNameSlotSize - 1] = r.label2[kNameSlotSize - 1] = '\0';
    return ok;
}

bool writeRecord(ScratchFile& f, const VectorNameRecord& r) {
    return f.putInt32(r.fromSite) && f.putInt32(r.toSite) && f.putBytes(r.label1, kNameSlotSize) &&
           f.putBytes(r.label2, kNameSlotSize);
}

bool readRecord(ScratchFile& f, VectorNameRecord& r) {
    bool ok = f.getInt32(r.fromSite) && f.getInt32(r.toSite) &&
              f.getBytes(r.label1, kNameSlotSize) && f.getBytes(r.label2, kNameSlotSize);
    r.label1[kNameSlotSize - 1] = r.label2[kNameSlotSize - 1] = '\0';
    return ok;
}

bool writeEquation(ScratchFile& f, const EquationRecord& r, bool control) {
    bool ok = f.putInt32(r.termCount);
    for (int i = 0; i < r.termCount && i < kVectorEquationTerms; ++i)
        ok = ok && f.putInt32(r.terms[i].unknown) && f.putDouble(r.terms[i].coefficient);
    ok = ok && f.putDouble(r.misclosure) && f.putDouble(r.weight);
    if (control)
        ok = ok && f.putInt32(r.siteIndex) && f.putBytes(r.label, sizeof r.label) &&
             f.putBytes(r.nameSlot, kNameSlotSize);
    return ok;
}

bool readEquation(ScratchFile& f, EquationRecord& r, bool control) {
    r = EquationRecord{};
    if (!f.getInt32(r.termCount) || r.termCount < 1 || r.termCount > kVectorEquationTerms) {
        r.termCount = 0;
        return false;
    }
    bool ok = true;
    for (int i = 0; i < r.termCount; ++i)
        ok = ok && f.getInt32(r.terms[i].unknown) && f.getDouble(r.terms[i].coefficient);
    ok = ok && f.getDouble(r.misclosure) && f.getDouble(r.weight);
    if (control)
        ok = ok && f.getInt32(r.siteIndex) && f.getBytes(r.label, sizeof r.label) &&
             f.getBytes(r.nameSlot, kNameSlotSize);
    r.label[sizeof r.label - 1] = '\0';
    r.nameSlot[kNameSlotSize - 1] = '\0';
    return ok;
}

}  // namespace torvek
