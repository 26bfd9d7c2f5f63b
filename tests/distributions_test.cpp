#include "stats/distributions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

namespace torvek {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kBisectionWidth = 3e-7;

double exactNormal(double z) {
    return 0.5 * std::erfc(-z / std::sqrt(2.0));
}

// Upper tail of chi-square by the regularised incomplete gamma function, summed independently of
// the code under test: the series of the lower part for x < df + 2, the continued fraction of the
// upper part otherwise (both to full double precision).
double exactChiSquareUpper(double x, int df) {
    const double a = df / 2.0;
    const double h = x / 2.0;
    const double logPrefix = a * std::log(h) - h - std::lgamma(a);
    if (x < df + 2.0) {
        double term = 1.0 / a;
        double sum = term;
        for (int k = 1; k < 10000 && term > sum * 1e-17; ++k) {
            term *= h / (a + k);
            sum += term;
        }
        return 1.0 - std::exp(logPrefix) * sum;
    }
    // Lentz's evaluation of the continued fraction for the upper incomplete gamma.
    const double tiny = 1e-300;
    double b = h + 1.0 - a;
    double c = 1.0 / tiny;
    double d = 1.0 / b;
    double f = d;
    for (int i = 1; i < 10000; ++i) {
        const double an = -i * (i - a);
        b += 2.0;
        d = an * d + b;
        d = std::fabs(d) < tiny ? tiny : d;
        c = b + an / c;
        c = std::fabs(c) < tiny ? tiny : c;
        d = 1.0 / d;
        const double delta = d * c;
        f *= delta;
        if (std::fabs(delta - 1.0) < 1e-16) {
            break;
        }
    }
    return std::exp(logPrefix) * f;
}

TEST(NormalProbability, FixedPointsAndBounds) {
    EXPECT_EQ(NormalProbability(0.0), 0.5);
    EXPECT_EQ(NormalProbability(6.0), 1.0);
    EXPECT_EQ(NormalProbability(-6.0), 0.0);
    EXPECT_EQ(NormalProbability(40.0), 1.0);
    EXPECT_EQ(NormalProbability(-1e300), 0.0);
    EXPECT_EQ(NormalProbability(std::numeric_limits<double>::infinity()), 1.0);
    EXPECT_TRUE(std::isnan(NormalProbability(kNaN)));
}

TEST(NormalProbability, AgreesWithComplementaryErrorFunction) {
    // Both polynomials (|z| < 2 and 2 <= |z| < 6) are covered, as are the joins at 2 and 6.
    double worst = 0.0;
    for (double z = -5.999; z <= 6.0; z += 0.001) {
        worst = std::fmax(worst, std::fabs(NormalProbability(z) - exactNormal(z)));
        EXPECT_NEAR(NormalProbability(z) + NormalProbability(-z), 1.0, 1e-15) << z;
    }
    EXPECT_LT(worst, 2e-9);
    EXPECT_NEAR(NormalProbability(1.959963984540054), 0.975, 2e-9);
    EXPECT_NEAR(NormalProbability(-2.0), exactNormal(-2.0), 2e-9);
    EXPECT_NEAR(NormalProbability(1.9999999999), exactNormal(2.0), 2e-9);
}

TEST(ChiSquareProbability, OutOfRangeArgumentsGiveOne) {
    EXPECT_EQ(ChiSquareProbability(0.0, 3), 1.0);
    EXPECT_EQ(ChiSquareProbability(-5.0, 3), 1.0);
    EXPECT_EQ(ChiSquareProbability(5.0, 0), 1.0);
    EXPECT_EQ(ChiSquareProbability(5.0, -4), 1.0);
}

TEST(ChiSquareProbability, TwoDegreesOfFreedomIsTheExponentialTail) {
    for (double x : {0.001, 0.5, 1.0, 7.3, 20.0, 39.9}) {
        EXPECT_DOUBLE_EQ(ChiSquareProbability(x, 2), std::exp(-x / 2.0)) << x;
    }
    EXPECT_EQ(ChiSquareProbability(40.1, 2), 0.0);
    EXPECT_EQ(ChiSquareProbability(1e6, 2), 0.0);
}

TEST(ChiSquareProbability, AgreesWithIncompleteGamma) {
    // Odd and even df, both branches of the series (x / 2 on either side of 20).
    for (int df : {1, 3, 4, 7, 10, 29, 30, 100, 101}) {
        for (double x : {0.05, 0.7, 2.0, 5.5, 12.0, 25.0, 39.0, 41.0, 60.0, 90.0, 130.0}) {
            EXPECT_NEAR(ChiSquareProbability(x, df), exactChiSquareUpper(x, df), 3e-8)
                << "df " << df << " x " << x;
        }
    }
}

TEST(ChiSquareProbability, NonFiniteArguments) {
    EXPECT_TRUE(std::isnan(ChiSquareProbability(kNaN, 5)));
    for (int df : {1, 2, 3, 4, 51}) {
        EXPECT_EQ(ChiSquareProbability(std::numeric_limits<double>::infinity(), df), 0.0) << df;
    }
    EXPECT_EQ(ChiSquareProbability(-std::numeric_limits<double>::infinity(), 3), 1.0);
}

TEST(ChiSquareQuantile, MatchesPublishedTable) {
    // Percentage points of chi-square as printed in statistical tables (4 or 6 decimals).
    struct Row {
        int df;
        double lower;  // p = 0.025
        double upper;  // p = 0.975
        double rounding;
    };
    const Row table[] = {
        {1, 0.000982, 5.0239, 5e-7}, {2, 0.0506, 7.3778, 5e-5},    {5, 0.8312, 12.8325, 5e-5},
        {10, 3.2470, 20.4832, 5e-5}, {30, 16.7908, 46.9792, 5e-5}, {100, 74.2219, 129.5612, 5e-5},
    };
    for (const Row& row : table) {
        EXPECT_NEAR(ChiSquareQuantile(row.df, 0.025), row.lower, row.rounding + kBisectionWidth)
            << row.df;
        EXPECT_NEAR(ChiSquareQuantile(row.df, 0.975), row.upper, 5e-5 + kBisectionWidth) << row.df;
    }
    EXPECT_NEAR(ChiSquareQuantile(1, 0.5), 0.4549364, 1e-6);
}

TEST(ChiSquareQuantile, InvertsTheDistributionFunction) {
    for (int df : {1, 2, 3, 8, 57, 250}) {
        for (double p : {0.001, 0.05, 0.5, 0.9, 0.999}) {
            const double x = ChiSquareQuantile(df, p);
            // Within half the bisection width of the point where the cumulative crosses p.
            EXPECT_LE(1.0 - ChiSquareProbability(x - kBisectionWidth, df), p + 1e-12);
            EXPECT_GE(1.0 - ChiSquareProbability(x + kBisectionWidth, df), p - 1e-12);
        }
    }
}

TEST(ChiSquareQuantile, ArgumentsOutsideTheRangeGiveOneAndEnd) {
    EXPECT_EQ(ChiSquareQuantile(5, 0.0), 1.0);
    EXPECT_EQ(ChiSquareQuantile(5, -0.3), 1.0);
    EXPECT_EQ(ChiSquareQuantile(0, 0.5), 1.0);
    EXPECT_EQ(ChiSquareQuantile(-3, 0.5), 1.0);
    // A confidence level above 100 % asks for p > 1, which has no quantile.
    EXPECT_EQ(ChiSquareQuantile(5, 1.0000001), 1.0);
    EXPECT_EQ(ChiSquareQuantile(5, 1e300), 1.0);
    EXPECT_EQ(ChiSquareQuantile(5, std::numeric_limits<double>::infinity()), 1.0);
    EXPECT_EQ(ChiSquareQuantile(5, kNaN), 1.0);
}

// The two bounds of a test share one table of log-term sums; each must be the very double the
// quantile alone gives, arguments outside the range included, or the stored limits would move.
TEST(ChiSquareQuantile, BothBoundsOfATestAreTheSingleQuantiles) {
    for (int df : {-1, 0, 1, 2, 3, 57, 16771}) {
        for (const auto& [low, high] : {std::pair{0.025, 0.975}, std::pair{0.0005, 0.9995},
                                        std::pair{0.0, 1.0}, std::pair{kNaN, 1.5}}) {
            const ChiSquareBounds bounds = ChiSquareQuantiles(df, low, high);
            EXPECT_EQ(bounds.lower, ChiSquareQuantile(df, low)) << df << " " << low;
            EXPECT_EQ(bounds.upper, ChiSquareQuantile(df, high)) << df << " " << high;
        }
    }
}

TEST(ChiSquareQuantile, CertaintyEndsWhereTheTailVanishes) {
    // p = 1 has no finite quantile; the search ends at a point where the cut tail is 0.
    for (int df : {1, 2, 30, 301}) {
        const double x = ChiSquareQuantile(df, 1.0);
        EXPECT_TRUE(std::isfinite(x)) << df;
        EXPECT_EQ(ChiSquareProbability(x, df), 0.0) << df;
    }
}

TEST(TauCriticalValue, MatchesTheExactDistribution) {
    // sqrt(dof) r with r^2 ~ Beta(1/2, (dof - 1)/2) at P = 1 - u, u = 1 - (1 - alpha)^(1/n),
    // inverted independently in 40-digit arithmetic. The first two are the values usually quoted.
    EXPECT_NEAR(TauCriticalValue(10, 20, 0.05), 2.55841316675, 1e-8);
    EXPECT_NEAR(TauCriticalValue(50, 100, 0.05), 3.31843468123, 1e-8);
    EXPECT_NEAR(TauCriticalValue(3, 5, 0.05), 1.7143731189, 1e-8);
    EXPECT_NEAR(TauCriticalValue(4, 10, 0.01), 1.98222393786, 1e-8);
    EXPECT_NEAR(TauCriticalValue(25, 60, 0.001), 3.69124847771, 1e-8);
    EXPECT_NEAR(TauCriticalValue(10, 20, 0.7), 1.85152669125, 1e-8);
}

TEST(TauCriticalValue, TwoDegreesOfFreedomIsTheClosedForm) {
    const double pi = std::acos(-1.0);
    for (int n : {1, 2, 10, 500}) {
        for (double alpha : {0.001, 0.05, 0.5, 0.9}) {
            // The per-observation level by log1p/expm1, which loses nothing for small alpha.
            const double u = -std::expm1(std::log1p(-alpha) / n);
            EXPECT_NEAR(TauCriticalValue(2, n, alpha), 1.4142135623721 * std::sin(pi * (1 - u) / 2),
                        1e-12)
                << n << " " << alpha;
        }
    }
    EXPECT_NEAR(TauCriticalValue(2, 10, 0.05), 1.41416789386, 1e-10);
}

TEST(TauCriticalValue, GrowsWithTheNumberOfObservations) {
    for (int dof : {3, 10, 51}) {
        double previous = 0.0;
        for (int n : {1, 2, 5, 20, 100, 1000}) {
            const double tau = TauCriticalValue(dof, n, 0.05);
            EXPECT_GT(tau, previous) << dof << " " << n;
            EXPECT_LT(tau, std::sqrt(static_cast<double>(dof)));
            previous = tau;
        }
    }
}

TEST(TauCriticalValue, ApproachesRootOfDofAsAlphaVanishes) {
    for (int dof : {3, 10, 30}) {
        const double limit = std::sqrt(static_cast<double>(dof));
        double previousGap = limit;
        for (double alpha : {0.1, 1e-2, 1e-4, 1e-6, 1e-8}) {
            const double gap = limit - TauCriticalValue(dof, 10, alpha);
            EXPECT_GT(gap, 0.0) << dof << " " << alpha;
            EXPECT_LT(gap, previousGap) << dof << " " << alpha;
            previousGap = gap;
        }
        EXPECT_EQ(TauCriticalValue(dof, 10, 0.0), limit);
        EXPECT_EQ(TauCriticalValue(dof, 10, -1.0), limit);
    }
}

TEST(TauCriticalValue, SeriesAndPowerAgreeAtTheSwitch) {
    // alpha = 0.5 is summed as a series, a hair above it uses pow; the tau values must meet.
    for (int dof : {2, 7, 40}) {
        EXPECT_NEAR(TauCriticalValue(dof, 30, 0.5), TauCriticalValue(dof, 30, 0.5 + 1e-12), 1e-10);
    }
}

TEST(TauCriticalValue, NoTestGivesZero) {
    EXPECT_EQ(TauCriticalValue(0, 10, 0.05), 0.0);
    EXPECT_EQ(TauCriticalValue(1, 10, 0.05), 0.0);
    EXPECT_EQ(TauCriticalValue(1, 10, 0.0), 0.0);
    EXPECT_EQ(TauCriticalValue(-4, 10, 0.05), 0.0);
    EXPECT_EQ(TauCriticalValue(10, 20, 1.0), 0.0);
    EXPECT_EQ(TauCriticalValue(10, 20, 3.0), 0.0);
    EXPECT_EQ(TauCriticalValue(10, 20, kNaN), 0.0);
    EXPECT_EQ(TauCriticalValue(10, 0, 0.05), 0.0);
    EXPECT_EQ(TauCriticalValue(10, -7, 0.05), 0.0);
}

}  // namespace
}  // namespace torvek
