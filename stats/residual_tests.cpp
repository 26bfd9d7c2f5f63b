#include "stats/residual_tests.h"

#include <cmath>
#include <limits>

#include "stats/distributions.h"

namespace torvek {
namespace {

// NormalProbability is exactly 0 or 1 beyond |z| = 6: the bracket of every quantile it can give.
constexpr double kNormalBracket = 6.0;
// Bisection steps: 12 / 2^60 is far below the 1e-9 accuracy of NormalProbability.
constexpr int kBisectionSteps = 60;

}  // namespace

double NormalQuantile(double p) {
    if (!(p > 0 && p < 1))
        return std::numeric_limits<double>::quiet_NaN();
    double low = -kNormalBracket, high = kNormalBracket;
    for (int step = 0; step < kBisectionSteps; ++step) {
        const double middle = 0.5 * (low + high);
        if (NormalProbability(middle) < p)
            low = middle;
        else
            high = middle;
    }
    return 0.5 * (low + high);
}

double NonCentrality(double alpha0, double power) {
    return NormalQuantile(1 - alpha0 / 2) + NormalQuantile(power);
}

ResidualTest testResidual(double pv, double pqp, double posteriorSigma0, double criticalValue,
                          double delta0) {
    ResidualTest test;
    if (!(pqp > 0))
        return test;
    const double root = std::sqrt(pqp);
    test.standardized = pv / root;
    test.studentized = posteriorSigma0 > 0 ? test.standardized / posteriorSigma0 : 0;
    test.mdb = delta0 / root;
    test.outlier = criticalValue > 0 && std::fabs(test.studentized) > criticalValue;
    return test;
}

}  // namespace torvek
