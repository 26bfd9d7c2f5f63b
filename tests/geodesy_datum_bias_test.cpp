#include <gtest/gtest.h>

#include <cmath>

#include "dataset/adjusted_data_set.h"
#include "geodesy/datum_bias.h"

namespace torvek {
namespace {

constexpr double kDegree = 3.141592653589793 / 180.0;

void expectReport(const AdjustedDataSet& dataSet, const double (&expected)[14], double tolerance) {
    double out[kBiasReportValueCount];
    ASSERT_TRUE(getBiasResults(dataSet, out));
    for (int i = 0; i < 14; ++i) {
        EXPECT_NEAR(out[i], expected[i], tolerance) << "output " << i + 1;
    }
}

TEST(DatumBias, RotationsAtTheOrigin) {
    // At latitude 0, longitude 0 north is Z, east is Y, up is X: (1, 2, 3) seconds about north,
    // east, up are (3, 2, 1) about X, Y, Z, reported reversed; scale 1.5 ppm is reported -1.5.
    AdjustedDataSet dataSet;
    ASSERT_TRUE(setBiasResults(dataSet, 1.0, 0.1, 2.0, 0.2, 3.0, 0.3, 1.5, 0.05, 0.0, 0.0));
    expectReport(dataSet,
                 {1.0, 0.1, 2.0, 0.2, 3.0, 0.3, -3.0, 0.3, -2.0, 0.2, -1.0, 0.1, -1.5, 0.05},
                 1e-15);
    // The stored block keeps the unreversed values.
    const auto& stored = dataSet.currentAdjustmentRecord()->biasResults;
    EXPECT_NEAR(stored[8], 3.0, 1e-15);
    EXPECT_NEAR(stored[6], 1.5, 0.0);
}

TEST(DatumBias, RotationAboutUpAtThePoleIsAboutZ) {
    AdjustedDataSet dataSet;
    ASSERT_TRUE(setBiasResults(dataSet, 0.0, 0.0, 0.0, 0.0, 5.0, 0.2, 0.0, 0.0, 90.0, 0.0));
    double out[kBiasReportValueCount];
    getBiasResults(dataSet, out);
    EXPECT_NEAR(out[10], -5.0, 1e-15);
    EXPECT_NEAR(out[11], 0.2, 1e-15);
    EXPECT_NEAR(out[6], 0.0, 1e-15);
    EXPECT_NEAR(out[8], 0.0, 1e-15);
    EXPECT_NEAR(out[7], 0.0, 1e-15);  // sX: only the up sigma, which has no X part at the pole
}

TEST(DatumBias, RotationsFollowTheAxesOfTheReferencePoint) {
    // Each local rotation is a rotation about its own axis: north (-sin phi cos lambda,
    // -sin phi sin lambda, cos phi), east (-sin lambda, cos lambda, 0) and up (cos phi cos
    // lambda, cos phi sin lambda, sin phi); the sigmas combine as independent components.
    const double phi = -33.5 * kDegree, lambda = 151.25 * kDegree;
    const double b1 = 0.7, b2 = -1.3, b3 = 2.1, s1 = 0.3, s2 = 0.4, s3 = 0.5;
    const double north[3] = {-std::sin(phi) * std::cos(lambda), -std::sin(phi) * std::sin(lambda),
                             std::cos(phi)};
    const double east[3] = {-std::sin(lambda), std::cos(lambda), 0.0};
    const double up[3] = {std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda),
                          std::sin(phi)};
    AdjustedDataSet dataSet;
    ASSERT_TRUE(setBiasResults(dataSet, b1, s1, b2, s2, b3, s3, 0.2, 0.1, -33.5, 151.25));
    double out[kBiasReportValueCount];
    getBiasResults(dataSet, out);
    double squaredLength = 0.0;
    for (int axis = 0; axis < 3; ++axis) {
        const double w = b1 * north[axis] + b2 * east[axis] + b3 * up[axis];
        const double s = std::sqrt(std::pow(s1 * north[axis], 2) + std::pow(s2 * east[axis], 2) +
                                   std::pow(s3 * up[axis], 2));
        EXPECT_NEAR(out[6 + 2 * axis], -w, 1e-13) << axis;
        EXPECT_NEAR(out[7 + 2 * axis], s, 1e-13) << axis;
        squaredLength += out[6 + 2 * axis] * out[6 + 2 * axis];
    }
    EXPECT_NEAR(squaredLength, b1 * b1 + b2 * b2 + b3 * b3, 1e-12);
    EXPECT_NEAR(out[12], -0.2, 1e-15);
}

TEST(DatumBias, SigmaRule) {
    // 0 stays 0 (free); anything else below 0.001, negatives too, becomes 0.001; the Cartesian
    // sigmas are formed from the repaired values.
    AdjustedDataSet dataSet;
    ASSERT_TRUE(setBiasResults(dataSet, 1.0, 0.0004, 1.0, 0.0, 1.0, -2.0, 1.0, 0.0001, 0.0, 0.0));
    expectReport(
        dataSet,
        {1.0, 0.001, 1.0, 0.0, 1.0, 0.001, -1.0, 0.001, -1.0, 0.0, -1.0, 0.001, -1.0, 0.001},
        1e-18);
    ASSERT_TRUE(setBiasResults(dataSet, 0.0, 0.25, 0.0, 7.0, 0.0, 0.001, 0.0, 3.0, 0.0, 0.0));
    expectReport(dataSet,
                 {0.0, 0.25, 0.0, 7.0, 0.0, 0.001, 0.0, 0.001, 0.0, 7.0, 0.0, 0.25, 0.0, 3.0},
                 1e-15);
}

TEST(DatumBias, RecordIsAppendedOnceAndRewritten) {
    AdjustedDataSet dataSet;
    EXPECT_EQ(dataSet.adjustmentRecordCount(), 0);
    ASSERT_TRUE(setBiasResults(dataSet, 1.0, 0.1, 1.0, 0.1, 1.0, 0.1, 1.0, 0.1, 10.0, 20.0));
    EXPECT_EQ(dataSet.adjustmentRecordCount(), 1);
    ASSERT_TRUE(setBiasResults(dataSet, 2.0, 0.1, 2.0, 0.1, 2.0, 0.1, 4.0, 0.1, 10.0, 20.0));
    EXPECT_EQ(dataSet.adjustmentRecordCount(), 1);
    double out[kBiasReportValueCount];
    getBiasResults(dataSet, out);
    EXPECT_EQ(out[0], 2.0);
    EXPECT_EQ(out[12], -4.0);
}

TEST(DatumBias, NoRecordReadsAsPositiveZeros) {
    AdjustedDataSet dataSet;
    double out[kBiasReportValueCount];
    for (double& value : out) {
        value = 99.0;
    }
    ASSERT_TRUE(getBiasResults(dataSet, out));
    for (int i = 0; i < 14; ++i) {
        EXPECT_EQ(out[i], 0.0) << i;
        // A negative zero would print as "-0.0000" in the closing report.
        EXPECT_FALSE(std::signbit(out[i])) << i;
    }
}

}  // namespace
}  // namespace torvek
