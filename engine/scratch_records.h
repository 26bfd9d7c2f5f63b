#pragma once
// The packed records that carry sites, vectors and equations between the stages of an attempt.
#include <cstdint>

#include "engine/engine_limits.h"
#include "engine/scratch_files.h"

namespace torvek {

/// A weighted constraint on one coordinate of a control site.
struct ControlConstraintRecord {
    std::int32_t siteIndex = 0;  // 1-based
    std::int32_t component = 0;  // 1 latitude, 2 longitude, 3 height
    std::int32_t unknown = 0;
    double sigma = 0;    // metres
    char label[5] = {};  // "LAT.", "LON." or "H   "
    double value = 0;    // latitude or longitude in radians, or ellipsoidal height in metres
};

/// Heads the vectors of one bias group: how many the loader processed and the settled a-priori
/// bias values and sigmas (arc seconds and ppm).
struct BiasGroupRecord {
    std::int32_t vectorCount = 0;
    double value[kBiasParameterCount] = {};
    double sigma[kBiasParameterCount] = {};
};

/// One vector in use: end sites, Cartesian components (metres), north/east/up weights, length.
struct VectorObservationRecord {
    std::int32_t fromSite = 0, toSite = 0;
    double dX = 0, dY = 0, dZ = 0;
    double pN = 0, pE = 0, pU = 0;
    double length = 0;
    char label1[kNameSlotSize] = {};
    char label2[kNameSlotSize] = {};
};

/// The name of a vector in use, for storing its precision after the last iteration.
struct VectorNameRecord {
    std::int32_t fromSite = 0, toSite = 0;
    char label1[kNameSlotSize] = {};
    char label2[kNameSlotSize] = {};
};

/// One linearised observation equation: v = sum(coefficient x unknown) + misclosure, weight p.
struct EquationTerm {
    std::int32_t unknown = 0;  // 0: a fixed coordinate, contributes nothing
    double coefficient = 0;
};
struct EquationRecord {
    std::int32_t termCount = 0;  // 1 for constraints, 10 for vector equations
    EquationTerm terms[kVectorEquationTerms];
    double misclosure = 0;  // computed minus observed
    double weight = 0;
    // Only in control constraint records:
    std::int32_t siteIndex = 0;
    char label[5] = {};
    char nameSlot[kNameSlotSize] = {};
};

bool writeRecord(ScratchFile& file, const ControlConstraintRecord& record);
bool readRecord(ScratchFile& file, ControlConstraintRecord& record);
bool writeRecord(ScratchFile& file, const BiasGroupRecord& record);
bool readRecord(ScratchFile& file, BiasGroupRecord& record);
bool writeRecord(ScratchFile& file, const VectorObservationRecord& record);
bool readRecord(ScratchFile& file, VectorObservationRecord& record);
bool writeRecord(ScratchFile& file, const VectorNameRecord& record);
bool readRecord(ScratchFile& file, VectorNameRecord& record);
/// `control`: the record carries the site index, label and name slot of a control constraint.
bool writeEquation(ScratchFile& file, const EquationRecord& record, bool control);
/// False when the file ends early or the term count is not 1..10 (then the record is empty).
bool readEquation(ScratchFile& file, EquationRecord& record, bool control);

}  // namespace torvek
