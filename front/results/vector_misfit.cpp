#include "front/results/vector_misfit.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>

#include "geodesy/ellipsoid.h"
#include "geodesy/geodetic_conversion.h"
#include "geodesy/vector_precision.h"

namespace torvek::front {
namespace {

constexpr double kPartsPerMillion = 1.0e6;
// The program stores every adjusted bias value 0.0001 above the one it computed
// (docs/data-set-format.md, adjustment record).
constexpr double kBiasStorageOffset = 0.0001;

DatumBias adjustedBias(const AdjustmentRecord& record) {
    // biasResults holds (value, sigma) pairs: about north, east, up, then the scale.
    return {record.biasResults[0] - kBiasStorageOffset, record.biasResults[2] - kBiasStorageOffset,
            record.biasResults[4] - kBiasStorageOffset, record.biasResults[6] - kBiasStorageOffset};
}

// The a-priori standard deviations of the vector under the cursor along the reference axes, as
// the program weights it.
Vector3 aprioriLocalSigmas(const AdjustedDataSet& dataSet, const ReferencePoint& reference) {
    ComponentPrecision stored;
    dataSet.getVectorCovariance(stored);
    return localVectorSigmas(stored.sigma, vectorCorrelations(stored.sigma, stored.correlation),
                             reference.latitude, reference.longitude);
}

}  // namespace

Vector3 vectorMisfit(const Matrix3& referenceFrame, const Vector3& from, const Vector3& to,
                     const Vector3& observed, const DatumBias& bias) {
    const Vector3 t = localFromCartesian(referenceFrame, observed);
    const Vector3 w = localFromCartesian(
        referenceFrame, {to[0] - from[0] - observed[0], to[1] - from[1] - observed[1],
                         to[2] - from[2] - observed[2]});
    const double rho = kArcsecondsPerRadian;
    const double n = bias.rotationNorth, e = bias.rotationEast, u = bias.rotationUp;
    const double s = bias.scale / kPartsPerMillion;
    return {w[kNorth] + (-t[kUp] * e + t[kEast] * u) / rho - t[kNorth] * s,
            w[kEast] + (t[kUp] * n - t[kNorth] * u) / rho - t[kEast] * s,
            w[kUp] + (-t[kEast] * n + t[kNorth] * e) / rho - t[kUp] * s};
}

namespace {

// A name as one number, equal for two names exactly when their texts (up to the first zero byte)
// are equal with A to Z folded onto a to z, as foldAsciiCase(name.toString()) compares them.
std::uint32_t foldedNameKey(const SiteName& name) {
    static_assert(kSiteNameSize == sizeof(std::uint32_t));
    unsigned char bytes[kSiteNameSize] = {};
    for (std::size_t i = 0; i < kSiteNameSize && name.bytes[i] != '\0'; ++i) {
        const char c = name.bytes[i];
        bytes[i] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    std::uint32_t key = 0;
    std::memcpy(&key, bytes, sizeof key);
    return key;
}

}  // namespace

std::vector<VectorMisfit> vectorMisfits(const AdjustedDataSet& output) {
    std::vector<VectorMisfit> misfits(output.vectors().size());
    const std::vector<AdjustmentRecord>& records = output.adjustmentRecords();
    if (records.empty() || records.back().adjustmentSucceeded == 0) {
        return misfits;
    }
    const DatumBias bias = adjustedBias(records.back());
    const DataSetHeader& h = output.headerRecord();
    const double e2 = eccentricitySquared(h.inverseFlattening);
    const Matrix3 frame = localFrameMatrixAt(radiansFromDegrees(h.referenceLatitude),
                                             radiansFromDegrees(h.referenceLongitude));

    std::vector<Vector3> positions;
    std::vector<bool> adjusted;
    // Vector ends find their sites as the program's site lookups do: the first site whose name
    // matches, ignoring case.
    std::unordered_map<std::uint32_t, int> firstSite;
    firstSite.reserve(output.sites().size());
    for (const SiteRecord& s : output.sites()) {
        firstSite.emplace(foldedNameKey(s.name), static_cast<int>(positions.size()));
        adjusted.push_back(s.inUse != 0);
        positions.push_back(cartesianFromGeodeticAt(
            h.semiMajorAxis, e2, radiansFromDegrees(s.adjustedLatitude),
            radiansFromDegrees(s.adjustedLongitude), s.adjustedElevation + s.geoidHeight));
    }
    // The data set answers precision questions through its vector cursor: a copy walks it.
    AdjustedDataSet walker = output;
    std::size_t index = 0;
    for (bool more = walker.firstVector(); more; more = walker.nextVector(), ++index) {
        const VectorRecord& v = *walker.currentVector();
        const auto fromSite = firstSite.find(foldedNameKey(v.fromSite));
        const auto toSite = firstSite.find(foldedNameKey(v.toSite));
        const int from = fromSite != firstSite.end() ? fromSite->second : -1;
        const int to = toSite != firstSite.end() ? toSite->second : -1;
        if (from < 0 || to < 0 || !adjusted[from] || !adjusted[to]) {
            continue;
        }
        VectorMisfit& m = misfits[index];
        m.misfit = vectorMisfit(frame, positions[from], positions[to],
                                {v.deltaX, v.deltaY, v.deltaZ}, bias);
        const Vector3 sigmas =
            aprioriLocalSigmas(walker, {h.referenceLatitude, h.referenceLongitude});
        // Weights are (2 / divisor) / sigma^2; a divisor below 2 counts as 2.
        const double divisor = std::max(v.weightDivisor, kNeutralWeightDivisor);
        const double root = std::sqrt(double(kNeutralWeightDivisor) / divisor);
        for (int k = 0; k < 3; ++k) {
            m.normalized[k] = sigmas[k] > 0.0 ? m.misfit[k] * root / sigmas[k] : 0.0;
        }
        m.available = true;
    }
    return misfits;
}

}  // namespace torvek::front
