#include "engine/scratch_records.h"

#include <algorithm>
#include <cstring>

#include "dataset/little_endian.h"

namespace torvek {
namespace {

// Each record is packed into its bytes here and handed to the file in one piece: a vector's
// equations alone are some seventy fields.

// The largest record: an equation with ten terms and the control fields.
constexpr std::size_t kLargestRecord = 4 + kVectorEquationTerms * 12 + 16 + 4 + 5 + kNameSlotSize;

// Fields one after the other, little-endian, packed without padding: straight into the file's
// window where the record fits there, else here and then handed over.
class Packer {
  public:
    Packer(ScratchFile& file, std::size_t size) : file_(file), size_(size) {
        out_ = file.reserveBytes(size);
        if (out_ == nullptr)
            out_ = copy_;
    }
    void int32(std::int32_t value) {
        storeInt32(out_ + at_, value);
        at_ += 4;
    }
    void real(double value) {
        storeDouble(out_ + at_, value);
        at_ += 8;
    }
    void text(const char* text, std::size_t size) {
        std::memcpy(out_ + at_, text, size);
        at_ += size;
    }
    bool finish() const { return out_ != copy_ || file_.putBytes(copy_, size_); }

  private:
    ScratchFile& file_;
    std::size_t size_;
    std::uint8_t* out_;
    std::size_t at_ = 0;
    std::uint8_t copy_[kLargestRecord];
};

// The same fields read back from `size` bytes of the file. A field the file ends in or before
// reads as 0 (or zero bytes), as the field-by-field reads of a short file gave.
class Unpacker {
  public:
    // Read in place where the record lies whole in the file's window, else copied here.
    Unpacker(ScratchFile& file, std::size_t size) : size_(size) {
        bytes_ = file.takeBytes(size);
        if (bytes_ != nullptr) {
            valid_ = size;
        } else {
            valid_ = file.readBytes(copy_, size);
            bytes_ = copy_;
        }
    }
    bool complete() const { return valid_ == size_; }
    void int32(std::int32_t& value) {
        value = holds(4) ? loadInt32(bytes_ + at_) : 0;
        at_ += 4;
    }
    void real(double& value) {
        value = holds(8) ? loadDouble(bytes_ + at_) : 0.0;
        at_ += 8;
    }
    void text(char* text, std::size_t size) {
        if (holds(size))
            std::memcpy(text, bytes_ + at_, size);
        else
            std::memset(text, 0, size);
        at_ += size;
    }

  private:
    bool holds(std::size_t width) const { return at_ + width <= valid_; }

    const std::uint8_t* bytes_;
    std::uint8_t copy_[kLargestRecord];
    std::size_t size_;
    std::size_t valid_ = 0;
    std::size_t at_ = 0;
};

constexpr std::size_t kControlConstraintBytes = 3 * 4 + 8 + 5 + 8;
constexpr std::size_t kBiasGroupBytes = 4 + 2 * kBiasParameterCount * 8;
constexpr std::size_t kVectorObservationBytes = 2 * 4 + 7 * 8 + 2 * kNameSlotSize;
constexpr std::size_t kVectorNameBytes = 2 * 4 + 2 * kNameSlotSize;
constexpr std::size_t kTermBytes = 4 + 8;
constexpr std::size_t kEquationTailBytes = 8 + 8;
constexpr std::size_t kControlTailBytes = 4 + 5 + kNameSlotSize;

}  // namespace

bool writeRecord(ScratchFile& f, const ControlConstraintRecord& r) {
    Packer p(f, kControlConstraintBytes);
    p.int32(r.siteIndex);
    p.int32(r.component);
    p.int32(r.unknown);
    p.real(r.sigma);
    p.text(r.label, sizeof r.label);
    p.real(r.value);
    return p.finish();
}

bool readRecord(ScratchFile& f, ControlConstraintRecord& r) {
    Unpacker u(f, kControlConstraintBytes);
    u.int32(r.siteIndex);
    u.int32(r.component);
    u.int32(r.unknown);
    u.real(r.sigma);
    u.text(r.label, sizeof r.label);
    u.real(r.value);
    r.label[sizeof r.label - 1] = '\0';
    return u.complete();
}

bool writeRecord(ScratchFile& f, const BiasGroupRecord& r) {
    Packer p(f, kBiasGroupBytes);
    p.int32(r.vectorCount);
    for (int k = 0; k < kBiasParameterCount; ++k) {
        p.real(r.value[k]);
        p.real(r.sigma[k]);
    }
    return p.finish();
}

bool readRecord(ScratchFile& f, BiasGroupRecord& r) {
    Unpacker u(f, kBiasGroupBytes);
    u.int32(r.vectorCount);
    for (int k = 0; k < kBiasParameterCount; ++k) {
        u.real(r.value[k]);
        u.real(r.sigma[k]);
    }
    return u.complete();
}

bool writeRecord(ScratchFile& f, const VectorObservationRecord& r) {
    Packer p(f, kVectorObservationBytes);
    p.int32(r.fromSite);
    p.int32(r.toSite);
    for (double value : {r.dX, r.dY, r.dZ, r.pN, r.pE, r.pU, r.length})
        p.real(value);
    p.text(r.label1, kNameSlotSize);
    p.text(r.label2, kNameSlotSize);
    return p.finish();
}

bool readRecord(ScratchFile& f, VectorObservationRecord& r) {
    Unpacker u(f, kVectorObservationBytes);
    u.int32(r.fromSite);
    u.int32(r.toSite);
    for (double* value : {&r.dX, &r.dY, &r.dZ, &r.pN, &r.pE, &r.pU, &r.length})
        u.real(*value);
    u.text(r.label1, kNameSlotSize);
    u.text(r.label2, kNameSlotSize);
    r.label1[kNameSlotSize - 1] = r.label2[kNameSlotSize - 1] = '\0';
    return u.complete();
}

bool writeRecord(ScratchFile& f, const VectorNameRecord& r) {
    Packer p(f, kVectorNameBytes);
    p.int32(r.fromSite);
    p.int32(r.toSite);
    p.text(r.label1, kNameSlotSize);
    p.text(r.label2, kNameSlotSize);
    return p.finish();
}

bool readRecord(ScratchFile& f, VectorNameRecord& r) {
    Unpacker u(f, kVectorNameBytes);
    u.int32(r.fromSite);
    u.int32(r.toSite);
    u.text(r.label1, kNameSlotSize);
    u.text(r.label2, kNameSlotSize);
    r.label1[kNameSlotSize - 1] = r.label2[kNameSlotSize - 1] = '\0';
    return u.complete();
}

bool writeEquation(ScratchFile& f, const EquationRecord& r, bool control) {
    const int terms = std::clamp(r.termCount, 0, kVectorEquationTerms);
    Packer p(f, 4 + terms * kTermBytes + kEquationTailBytes + (control ? kControlTailBytes : 0));
    p.int32(r.termCount);
    for (int i = 0; i < terms; ++i) {
        p.int32(r.terms[i].unknown);
        p.real(r.terms[i].coefficient);
    }
    p.real(r.misclosure);
    p.real(r.weight);
    if (control) {
        p.int32(r.siteIndex);
        p.text(r.label, sizeof r.label);
        p.text(r.nameSlot, kNameSlotSize);
    }
    return p.finish();
}

bool readEquation(ScratchFile& f, EquationRecord& r, bool control) {
    std::int32_t count = 0;
    if (!f.getInt32(count) || count < 1 || count > kVectorEquationTerms) {
        r = EquationRecord{};
        return false;
    }
    // Every field is set below, each only once: a run reads some fifty thousand equations.
    r.termCount = count;
    Unpacker u(f, count * kTermBytes + kEquationTailBytes + (control ? kControlTailBytes : 0));
    for (int i = 0; i < count; ++i) {
        u.int32(r.terms[i].unknown);
        u.real(r.terms[i].coefficient);
    }
    for (int i = count; i < kVectorEquationTerms; ++i)
        r.terms[i] = EquationTerm{};
    u.real(r.misclosure);
    u.real(r.weight);
    if (control) {
        u.int32(r.siteIndex);
        u.text(r.label, sizeof r.label);
        u.text(r.nameSlot, kNameSlotSize);
        r.label[sizeof r.label - 1] = '\0';
        r.nameSlot[kNameSlotSize - 1] = '\0';
    } else {
        r.siteIndex = 0;
        std::memset(r.label, 0, sizeof r.label);
        std::memset(r.nameSlot, 0, kNameSlotSize);
    }
    return u.complete();
}

}  // namespace torvek
