#include <gtest/gtest.h>

#include <cmath>

#include "geodesy/vector_precision.h"

namespace torvek {
namespace {

TEST(LocalVectorSigmas, AxesSwapAtTheOrigin) {
    // At latitude 0, longitude 0 north is Z, east is Y and up is X.
    const Vector3 local = localVectorSigmas({0.01, 0.02, 0.03}, {0.0, 0.0, 0.0}, 0.0, 0.0);
    EXPECT_NEAR(local[kNorth], 0.03, 1e-15);
    EXPECT_NEAR(local[kEast], 0.02, 1e-15);
    EXPECT_NEAR(local[kUp], 0.01, 1e-15);
}

TEST(LocalVectorSigmas, AxesAtThePoleAndAtNinetyEast) {
    // At the north pole (longitude 0): north is -X, east is Y, up is Z; correlations do not
    // reach the diagonal.
    Vector3 local = localVectorSigmas({0.004, 0.005, 0.006}, {0.5, -0.3, 0.2}, 90.0, 0.0);
    EXPECT_NEAR(local[kNorth], 0.004, 1e-12);
    EXPECT_NEAR(local[kEast], 0.005, 1e-12);
    EXPECT_NEAR(local[kUp], 0.006, 1e-12);
    // At latitude 0, longitude 90: north is Z, east is -X, up is Y.
    local = localVectorSigmas({0.004, 0.005, 0.006}, {0.0, 0.0, 0.0}, 0.0, 90.0);
    EXPECT_NEAR(local[kNorth], 0.006, 1e-12);
    EXPECT_NEAR(local[kEast], 0.004, 1e-12);
    EXPECT_NEAR(local[kUp], 0.005, 1e-12);
}

TEST(LocalVectorSigmas, CorrelationEntersHalfwayBetweenTheAxes) {
    // At longitude 45 on the equator east = (-X + Y)/sqrt 2 and up = (X + Y)/sqrt 2, so
    // var(east) = (sx^2 + sy^2)/2 - cxy sx sy and var(up) = (sx^2 + sy^2)/2 + cxy sx sy.
    const double sx = 0.02, sy = 0.03, cxy = 0.4;
    const Vector3 local = localVectorSigmas({sx, sy, 0.05}, {cxy, 0.7, -0.6}, 0.0, 45.0);
    EXPECT_NEAR(local[kNorth], 0.05, 1e-12);
    EXPECT_NEAR(local[kEast], std::sqrt((sx * sx + sy * sy) / 2 - cxy * sx * sy), 1e-12);
    EXPECT_NEAR(local[kUp], std::sqrt((sx * sx + sy * sy) / 2 + cxy * sx * sy), 1e-12);
}

// Stored correlation fields and the correlation coefficients they stand for; the quotients are
// worked by hand.
TEST(VectorCorrelations, StoredFieldsAreCorrelationsOrCovariances) {
    const double nan = std::nan("");
    struct Case {
        const char* what;
        Vector3 sigmas;
        Vector3 stored;
        Vector3 expected;
    };
    const Case cases[] = {
        {"within [-1, 1]: correlations, even if meant as covariances",
         {10.0, 10.0, 10.0},
         {1.0, -0.5, 0.25},
         {1.0, -0.5, 0.25}},
        {"one beyond 1: all three are covariances, 20 / (10 * 10) = 0.2",
         {10.0, 10.0, 10.0},
         {20.0, 10.0, 10.0},
         {0.2, 0.1, 0.1}},
        {"covariances over unequal sigmas: -6 / (2 * 5), 1.5 / (2 * 0.75), 3 / (5 * 0.75)",
         {2.0, 5.0, 0.75},
         {-6.0, 1.5, 3.0},
         {-0.6, 1.0, 0.8}},
        {"still beyond 1 after the division: all three 0",
         {0.001, 100.0, 0.001},
         {0.5, 2.0, 0.0},
         {0.0, 0.0, 0.0}},
        {"a NaN field: all three 0", {1.0, 1.0, 1.0}, {0.5, nan, 0.1}, {0.0, 0.0, 0.0}},
    };
    for (const Case& c : cases) {
        const Vector3 correlations = vectorCorrelations(c.sigmas, c.stored);
        for (int k = 0; k < 3; ++k) {
            EXPECT_DOUBLE_EQ(correlations[k], c.expected[k]) << c.what << ", pair " << k;
        }
    }
}

TEST(VectorCorrelations, CovariancesGiveTheLocalSigmasOfTheirCorrelations) {
    // 20, 10, 10 with sigmas of 10 are correlations 0.2, 0.1, 0.1; at longitude 45 on the
    // equator var(east) = 100 - 0.2 * 100 and var(up) = 100 + 0.2 * 100.
    const Vector3 sigmas = {10.0, 10.0, 10.0};
    const Vector3 local =
        localVectorSigmas(sigmas, vectorCorrelations(sigmas, {20.0, 10.0, 10.0}), 0.0, 45.0);
    EXPECT_NEAR(local[kEast], std::sqrt(100.0 - 20.0), 1e-12);
    EXPECT_NEAR(local[kUp], std::sqrt(100.0 + 20.0), 1e-12);
}

}  // namespace
}  // namespace torvek
