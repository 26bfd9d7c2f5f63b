#include "support/result_fields.h"

#include <cmath>
#include <cstring>

namespace torvek::testing {
namespace {

template <std::size_t N>
void append(std::vector<double>& out, const std::array<double, N>& values) {
    out.insert(out.end(), values.begin(), values.end());
}

bool allFinite(const std::vector<double>& values) {
    for (double v : values)
        if (!std::isfinite(v))
            return false;
    return true;
}

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// False when a field of `after` is not finite and differs from that of `before`.
bool storedNothingNonFinite(const std::vector<double>& before, const std::vector<double>& after) {
    for (std::size_t i = 0; i < after.size(); ++i)
        if (!std::isfinite(after[i]) && !sameBits(before[i], after[i]))
            return false;
    return true;
}

std::string nameOf(const SiteRecord& s) {
    return "site " + s.name.toString();
}

std::string nameOf(const VectorRecord& v) {
    return "vector " + v.fromSite.toString() + "-" + v.toSite.toString() + " #" +
           std::to_string(v.recordNumber);
}

std::string nameOf(const AdjustmentRecord& r) {
    return "adjustment record " + std::to_string(r.recordNumber);
}

template <class Record>
bool compareLists(const std::vector<Record>& before, const std::vector<Record>& after,
                  std::string& where) {
    for (std::size_t i = 0; i < after.size(); ++i) {
        const Record fresh;
        const Record& old = i < before.size() ? before[i] : fresh;
        if (!storedNothingNonFinite(resultFields(old), resultFields(after[i]))) {
            where = nameOf(after[i]);
            return false;
        }
    }
    return true;
}

template <class Record>
bool checkList(const std::vector<Record>& list, std::string& where) {
    for (const Record& record : list) {
        if (!allFinite(resultFields(record))) {
            where = nameOf(record);
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<double> resultFields(const SiteRecord& s) {
    std::vector<double> out = {s.adjustedLatitude,       s.adjustedLongitude,
                               s.adjustedElevation,      s.adjustedLatitudeSigma,
                               s.adjustedLongitudeSigma, s.adjustedElevationSigma};
    append(out, s.lastCorrection);
    append(out, s.constraintResidual);
    append(out, s.normalizedConstraintResidual);
    return out;
}

std::vector<double> resultFields(const VectorRecord& v) {
    std::vector<double> out = {
        v.localSigmaNorth,         v.localSigmaEast,         v.localSigmaUp,
        v.adjustedDeltaX,          v.adjustedDeltaY,         v.adjustedDeltaZ,
        v.adjustedNorth,           v.adjustedEast,           v.adjustedUp,
        v.adjustedLocalSigmaNorth, v.adjustedLocalSigmaEast, v.adjustedLocalSigmaUp,
        v.adjustedSigmaX,          v.adjustedSigmaY,         v.adjustedSigmaZ,
        v.adjustedCorrelationXY,   v.adjustedCorrelationXZ,  v.adjustedCorrelationYZ};
    append(out, v.localCorrelation);
    append(out, v.vectorTestResults);
    append(out, v.adjustedLocalCorrelation);
    return out;
}

std::vector<double> resultFields(const AdjustmentRecord& r) {
    std::vector<double> out = {r.chiSquare, r.chiSquareLower, r.chiSquareUpper, r.tauCriticalValue,
                               r.unitWeightStandardError};
    append(out, r.biasResults);
    return out;
}

bool resultFieldsAreFinite(const ProjectDataSet& dataSet, std::string& where) {
    where.clear();
    return checkList(dataSet.sites(), where) && checkList(dataSet.vectors(), where) &&
           checkList(dataSet.adjustmentRecords(), where);
}

bool noNonFiniteResultStored(const ProjectDataSet& before, const ProjectDataSet& after,
                             std::string& where) {
    where.clear();
    return compareLists(before.sites(), after.sites(), where) &&
           compareLists(before.vectors(), after.vectors(), where) &&
           compareLists(before.adjustmentRecords(), after.adjustmentRecords(), where);
}

}  // namespace torvek::testing
