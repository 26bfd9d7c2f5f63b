#include "geodesy/datum_bias.h"

#include "dataset/adjusted_data_set.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/local_frame.h"

namespace torvek {

namespace {

// Positions in the stored block of fourteen: the four (value, sigma) pairs about north, east,
// up and of scale, then the (value, sigma) pairs about X, Y and Z.
constexpr std::size_t kScaleValue = 6;
constexpr std::size_t kEarthCentredFirst = 8;

// Reverses the sign without producing -0 from a stored 0.
double reversed(double value) {
    return 0.0 - value;
}

}  // namespace

bool setBiasResults(AdjustedDataSet& dataSet, double b1, double s1, double b2, double s2, double b3,
                    double s3, double b4, double s4, double latitude, double longitude) {
    // The bias sigma convention is the one of site constraints: 0 free, otherwise >= 0.001.
    s1 = applyConstraintSigmaRule(s1);
    s2 = applyConstraintSigmaRule(s2);
    s3 = applyConstraintSigmaRule(s3);
    s4 = applyConstraintSigmaRule(s4);

    // Small rotations about the local axes combine like a vector, so R carries them to X, Y, Z.
    const Matrix3 r =
        localFrameMatrixAt(radiansFromDegrees(latitude), radiansFromDegrees(longitude));
    const Vector3 earthCentred = cartesianFromLocal(r, {b1, b2, b3});
    const Vector3 earthCentredSigmas = cartesianSigmasFromLocal(r, {s1, s2, s3});

    const double block[kBiasResultCount] = {
        b1,
        s1,
        b2,
        s2,
        b3,
        s3,
        b4,
        s4,  // about north, east, up; scale
        earthCentred[0],
        earthCentredSigmas[0],
        earthCentred[1],
        earthCentredSigmas[1],
        earthCentred[2],
        earthCentredSigmas[2],
    };
    return dataSet.setBiasResultBlock(block);
}

bool getBiasResults(const AdjustedDataSet& dataSet, double out[kBiasReportValueCount]) {
    static_assert(kBiasReportValueCount == kBiasResultCount);
    double block[kBiasResultCount];
    dataSet.getBiasResultBlock(block);
    // North, east and up pairs as stored.
    for (std::size_t i = 0; i < kScaleValue; ++i) {
        out[i] = block[i];
    }
    // X, Y and Z pairs with the rotation reversed, as the closing report tabulates them.
    for (std::size_t i = 0; i < 6; i += 2) {
        out[kScaleValue + i] = reversed(block[kEarthCentredFirst + i]);
        out[kScaleValue + i + 1] = block[kEarthCentredFirst + i + 1];
    }
    out[12] = reversed(block[kScaleValue]);
    out[13] = block[kScaleValue + 1];
    return true;
}

}  // namespace torvek
