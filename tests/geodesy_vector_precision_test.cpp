#include <gtest/gtest.h>

#include <cmath>

#include "dataset/project_data_set.h"
#include "geodesy/vector_precision.h"

namespace torvek {
namespace {

// A data set with one vector of the given a-priori precision and the given reference point.
ProjectDataSet oneVector(double latitude, double longitude, double sx, double sy, double sz,
                         double cxy, double cxz, double cyz) {
    ProjectDataSet dataSet;
    dataSet.setReferencePoint(latitude, longitude);
    dataSet.addVector("AAAA", "BBBB");
    dataSet.setVectorCovariance(sx, sy, sz, cxy, cxz, cyz);
    return dataSet;
}

TEST(LocalVectorSigmas, AxesSwapAtTheOrigin) {
    // At latitude 0, longitude 0 north is Z, east is Y and up is X.
    const ProjectDataSet dataSet = oneVector(0.0, 0.0, 0.01, 0.02, 0.03, 0.0, 0.0, 0.0);
    double sN = 0.0, sE = 0.0, sU = 0.0;
    ASSERT_TRUE(localVectorSigmas(dataSet, sN, sE, sU));
    EXPECT_NEAR(sN, 0.03, 1e-15);
    EXPECT_NEAR(sE, 0.02, 1e-15);
    EXPECT_NEAR(sU, 0.01, 1e-15);
}

TEST(LocalVectorSigmas, AxesAtThePoleAndAtNinetyEast) {
    double sN = 0.0, sE = 0.0, sU = 0.0;
    // At the north pole (longitude 0): north is -X, east is Y, up is Z; correlations do not
    // reach the diagonal.
    ASSERT_TRUE(
        localVectorSigmas(oneVector(90.0, 0.0, 0.004, 0.005, 0.006, 0.5, -0.3, 0.2), sN, sE, sU));
    EXPECT_NEAR(sN, 0.004, 1e-12);
    EXPECT_NEAR(sE, 0.005, 1e-12);
    EXPECT_NEAR(sU, 0.006, 1e-12);
    // At latitude 0, longitude 90: north is Z, east is -X, up is Y.
    ASSERT_TRUE(
        localVectorSigmas(oneVector(0.0, 90.0, 0.004, 0.005, 0.006, 0.0, 0.0, 0.0), sN, sE, sU));
    EXPECT_NEAR(sN, 0.006, 1e-12);
    EXPECT_NEAR(sE, 0.004, 1e-12);
    EXPECT_NEAR(sU, 0.005, 1e-12);
}

TEST(LocalVectorSigmas, CorrelationEntersHalfwayBetweenTheAxes) {
    // At longitude 45 on the equator east = (-X + Y)/sqrt 2 and up = (X + Y)/sqrt 2, so
    // var(east) = (sx^2 + sy^2)/2 - cxy sx sy and var(up) = (sx^2 + sy^2)/2 + cxy sx sy.
    const double sx = 0.02, sy = 0.03, cxy = 0.4;
    double sN = 0.0, sE = 0.0, sU = 0.0;
    ASSERT_TRUE(localVectorSigmas(oneVector(0.0, 45.0, sx, sy, 0.05, cxy, 0.7, -0.6), sN, sE, sU));
    EXPECT_NEAR(sN, 0.05, 1e-12);
    EXPECT_NEAR(sE, std::sqrt((sx * sx + sy * sy) / 2 - cxy * sx * sy), 1e-12);
    EXPECT_NEAR(sU, std::sqrt((sx * sx + sy * sy) / 2 + cxy * sx * sy), 1e-12);
}

TEST(LocalVectorSigmas, UsesTheCheckedPrecision) {
    double sN = 0.0, sE = 0.0, sU = 0.0;
    // Values above 1 are covariances: 20, 10, 10 with sigmas of 10 are correlations 0.2, 0.1, 0.1.
    ASSERT_TRUE(
        localVectorSigmas(oneVector(0.0, 45.0, 10.0, 10.0, 10.0, 20.0, 10.0, 10.0), sN, sE, sU));
    EXPECT_NEAR(sE, std::sqrt(100.0 - 20.0), 1e-12);
    EXPECT_NEAR(sU, std::sqrt(100.0 + 20.0), 1e-12);

    // Sigmas are held within [0.001, 100] whatever the record holds.
    ProjectDataSet dataSet = oneVector(0.0, 0.0, 1.0, 1.0, 1.0, 0.0, 0.0, 0.0);
    dataSet.currentVector()->sigmaX = 5000.0;
    dataSet.currentVector()->sigmaY = -3.0;
    ASSERT_TRUE(localVectorSigmas(dataSet, sN, sE, sU));
    EXPECT_NEAR(sU, 100.0, 1e-12);
    EXPECT_NEAR(sE, 0.001, 1e-15);
}

TEST(LocalVectorSigmas, NoVectorLeavesTheOutputs) {
    ProjectDataSet dataSet;
    double sN = 7.0, sE = 8.0, sU = 9.0;
    EXPECT_FALSE(localVectorSigmas(dataSet, sN, sE, sU));
    dataSet.addVector("AAAA", "BBBB");
    EXPECT_FALSE(dataSet.nextVector());
    EXPECT_FALSE(localVectorSigmas(dataSet, sN, sE, sU));
    EXPECT_EQ(sN, 7.0);
    EXPECT_EQ(sE, 8.0);
    EXPECT_EQ(sU, 9.0);
}

}  // namespace
}  // namespace torvek
