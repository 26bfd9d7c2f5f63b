#include "geodesy/datum_bias.h"

#include "geodesy/ellipsoid.h"
#include "geodesy/local_frame.h"

namespace torvek {

namespace {

// Values of three rotation pairs: about north, east, up or about X, Y, Z.
constexpr std::size_t kRotationPairValues = 6;
// Positions in the stored block: the pairs about north, east and up, the scale pair, the pairs
// about X, Y and Z.
constexpr std::size_t kStoredScaleValue = 6;
constexpr std::size_t kStoredEarthCentredFirst = 8;
// Positions in the report values: the pairs about north, east and up, the pairs about X, Y and Z,
// the scale pair.
constexpr std::size_t kReportEarthCentredFirst = 6;
constexpr std::size_t kReportScaleValue = 12;

// Reverses the sign without producing -0 from a stored 0.
double reversed(double value) {
    return 0.0 - value;
}

}  // namespace

BiasValues biasResultBlock(const BiasParameters& adjusted, double latitude, double longitude) {
    const BiasEstimate& n = adjusted.aboutNorth;
    const BiasEstimate& e = adjusted.aboutEast;
    const BiasEstimate& u = adjusted.aboutUp;
    // Small rotations about the local axes combine like a vector, so R carries them to X, Y, Z.
    const Matrix3 r =
        localFrameMatrixAt(radiansFromDegrees(latitude), radiansFromDegrees(longitude));
    const Vector3 earthCentred = cartesianFromLocal(r, {n.value, e.value, u.value});
    const Vector3 earthCentredSigmas = cartesianSigmasFromLocal(r, {n.sigma, e.sigma, u.sigma});
    return {
        n.value,
        n.sigma,
        e.value,
        e.sigma,
        u.value,
        u.sigma,
        adjusted.scale.value,
        adjusted.scale.sigma,
        earthCentred[0],
        earthCentredSigmas[0],
        earthCentred[1],
        earthCentredSigmas[1],
        earthCentred[2],
        earthCentredSigmas[2],
    };
}

BiasValues biasReportValues(const BiasValues& stored) {
    BiasValues out{};
    // North, east and up pairs as stored.
    for (std::size_t i = 0; i < kRotationPairValues; ++i) {
        out[i] = stored[i];
    }
    // X, Y and Z pairs with the rotation reversed, as the closing report tabulates them.
    for (std::size_t i = 0; i < kRotationPairValues; i += 2) {
        out[kReportEarthCentredFirst + i] = reversed(stored[kStoredEarthCentredFirst + i]);
        out[kReportEarthCentredFirst + i + 1] = stored[kStoredEarthCentredFirst + i + 1];
    }
    out[kReportScaleValue] = reversed(stored[kStoredScaleValue]);
    out[kReportScaleValue + 1] = stored[kStoredScaleValue + 1];
    return out;
}

}  // namespace torvek
