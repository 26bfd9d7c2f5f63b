#include <gtest/gtest.h>

#include <cmath>

#include "dataset/adjusted_data_set.h"
#include "engine/bias_results.h"
#include "geodesy/datum_bias.h"

namespace torvek {
namespace {

constexpr double kDegree = 3.141592653589793 / 180.0;

void expectValues(const BiasValues& actual, const BiasValues& expected, double tolerance) {
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(actual[i], expected[i], tolerance) << "value " << i + 1;
    }
}

TEST(DatumBias, RotationsAtTheOrigin) {
    // At latitude 0, longitude 0 north is Z, east is Y, up is X: (1, 2, 3) seconds about north,
    // east, up are (3, 2, 1) about X, Y, Z, reported reversed; scale 1.5 ppm is reported -1.5.
    const BiasValues stored =
        biasResultBlock({{1.0, 0.1}, {2.0, 0.2}, {3.0, 0.3}, {1.5, 0.05}}, 0.0, 0.0);
    expectValues(stored, {1.0, 0.1, 2.0, 0.2, 3.0, 0.3, 1.5, 0.05, 3.0, 0.3, 2.0, 0.2, 1.0, 0.1},
                 1e-15);
    expectValues(biasReportValues(stored),
                 {1.0, 0.1, 2.0, 0.2, 3.0, 0.3, -3.0, 0.3, -2.0, 0.2, -1.0, 0.1, -1.5, 0.05},
                 1e-15);
}

TEST(DatumBias, RotationAboutUpAtThePoleIsAboutZ) {
    const BiasValues report =
        biasReportValues(biasResultBlock({{}, {}, {5.0, 0.2}, {}}, 90.0, 0.0));
    EXPECT_NEAR(report[10], -5.0, 1e-15);
    EXPECT_NEAR(report[11], 0.2, 1e-15);
    EXPECT_NEAR(report[6], 0.0, 1e-15);
    EXPECT_NEAR(report[8], 0.0, 1e-15);
    EXPECT_NEAR(report[7], 0.0, 1e-15);  // sX: only the up sigma, which has no X part at the pole
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
    const BiasValues out = biasReportValues(
        biasResultBlock({{b1, s1}, {b2, s2}, {b3, s3}, {0.2, 0.1}}, -33.5, 151.25));
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

TEST(DatumBias, ReversedZerosArePositive) {
    // A negative zero would print as "-0.0000" in the closing report.
    for (double value : biasReportValues(BiasValues{})) {
        EXPECT_EQ(value, 0.0);
        EXPECT_FALSE(std::signbit(value));
    }
}

TEST(StoredBiasResults, SigmaRuleComesBeforeTheRotation) {
    // 0 stays 0 (free); anything else below 0.001, negatives too, becomes 0.001; the Cartesian
    // sigmas are formed from the repaired values.
    AdjustedDataSet dataSet;
    ASSERT_TRUE(storeBiasResults(dataSet, {{1.0, 0.0004}, {1.0, 0.0}, {1.0, -2.0}, {1.0, 0.0001}},
                                 0.0, 0.0));
    expectValues(dataSet.biasResultBlock(),
                 {1.0, 0.001, 1.0, 0.0, 1.0, 0.001, 1.0, 0.001, 1.0, 0.001, 1.0, 0.0, 1.0, 0.001},
                 1e-18);
    ASSERT_TRUE(
        storeBiasResults(dataSet, {{0.0, 0.25}, {0.0, 7.0}, {0.0, 0.001}, {0.0, 3.0}}, 0.0, 0.0));
    expectValues(dataSet.biasResultBlock(),
                 {0.0, 0.25, 0.0, 7.0, 0.0, 0.001, 0.0, 3.0, 0.0, 0.001, 0.0, 7.0, 0.0, 0.25},
                 1e-15);
}

TEST(StoredBiasResults, RecordIsAppendedOnceAndRewritten) {
    AdjustedDataSet dataSet;
    EXPECT_EQ(dataSet.adjustmentRecordCount(), 0);
    ASSERT_TRUE(
        storeBiasResults(dataSet, {{1.0, 0.1}, {1.0, 0.1}, {1.0, 0.1}, {1.0, 0.1}}, 10.0, 20.0));
    EXPECT_EQ(dataSet.adjustmentRecordCount(), 1);
    ASSERT_TRUE(
        storeBiasResults(dataSet, {{2.0, 0.1}, {2.0, 0.1}, {2.0, 0.1}, {4.0, 0.1}}, 10.0, 20.0));
    EXPECT_EQ(dataSet.adjustmentRecordCount(), 1);
    const BiasValues out = biasReportValues(dataSet.biasResultBlock());
    EXPECT_EQ(out[0], 2.0);
    EXPECT_EQ(out[12], -4.0);
}

}  // namespace
}  // namespace torvek
