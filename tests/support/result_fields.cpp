#include "support/result_fields.h"

#include <cmath>
#include <initializer_list>

namespace torvek::testing {
namespace {

bool finite(std::initializer_list<double> values) {
    for (double v : values)
        if (!std::isfinite(v))
            return false;
    return true;
}

template <std::size_t N>
bool finite(const std::array<double, N>& values) {
    for (double v : values)
        if (!std::isfinite(v))
            return false;
    return true;
}

}  // namespace

bool resultFieldsAreFinite(const AdjustedDataSet& dataSet, std::string& where) {
    for (const SiteRecord& s : dataSet.sites()) {
        where = "site " + s.name.toString();
        if (!finite({s.adjustedLatitude, s.adjustedLongitude, s.adjustedElevation,
                     s.adjustedLatitudeSigma, s.adjustedLongitudeSigma,
                     s.adjustedElevationSigma}) ||
            !finite(s.lastCorrection) || !finite(s.constraintResidual) ||
            !finite(s.normalizedConstraintResidual))
            return false;
    }
    for (const VectorRecord& v : dataSet.vectors()) {
        where = "vector " + v.fromSite.toString() + "-" + v.toSite.toString() + " #" +
                std::to_string(v.recordNumber);
        if (!finite({v.localSigmaNorth, v.localSigmaEast, v.localSigmaUp, v.adjustedDeltaX,
                     v.adjustedDeltaY, v.adjustedDeltaZ, v.adjustedNorth, v.adjustedEast,
                     v.adjustedUp, v.adjustedLocalSigmaNorth, v.adjustedLocalSigmaEast,
                     v.adjustedLocalSigmaUp, v.adjustedSigmaX, v.adjustedSigmaY, v.adjustedSigmaZ,
                     v.adjustedCorrelationXY, v.adjustedCorrelationXZ, v.adjustedCorrelationYZ}) ||
            !finite(v.localCorrelation) || !finite(v.vectorTestResults) ||
            !finite(v.adjustedLocalCorrelation))
            return false;
    }
    for (const AdjustmentRecord& r : dataSet.adjustmentRecords()) {
        where = "adjustment record " + std::to_string(r.recordNumber);
        if (!finite(r.biasResults) || !finite({r.chiSquare, r.chiSquareLower, r.chiSquareUpper,
                                               r.tauCriticalValue, r.unitWeightStandardError}))
            return false;
    }
    where.clear();
    return true;
}

}  // namespace torvek::testing
