#include "stats/distributions.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <new>
#include <vector>

namespace torvek {

namespace {

// The same pi as everywhere in the system (bits 0x400921FB54442D18).
constexpr double kPi = 3.141592653589793;

// Beyond |z| = 6 the normal polynomial is no better than 0 or 1, so it answers exactly that.
constexpr double kNormalHalfBound = 3.0;

// The two polynomials of the normal approximation (Ibbetson's Algorithm 209 of the ACM
// collection), highest power first. For y = |z| / 2 < 1 the probability P(|Z| < |z|) is
// 2 y P1(y^2); for 1 <= y < 3 it is P2(y - 2).
constexpr std::array<double, 9> kCentralCoefficients = {
    0.000124818987,  -0.001075204047, 0.005198775019,  -0.019198292004, 0.059054035642,
    -0.151968751364, 0.319152932694,  -0.531923007300, 0.797884560593,
};
constexpr std::array<double, 15> kTailCoefficients = {
    -0.000045255659, 0.000152529290,  -0.000019538132, -0.000676904986, 0.001390604284,
    -0.000794620820, -0.002034254874, 0.006549791214,  -0.010557625006, 0.011630447319,
    -0.009279453341, 0.005353579108,  -0.002141268741, 0.000535310849,  0.999936657524,
};

template <std::size_t N>
double horner(const std::array<double, N>& coefficients, double t) {
    double sum = coefficients[0];
    for (std::size_t i = 1; i < N; ++i) {
        sum = sum * t + coefficients[i];
    }
    return sum;
}

// exp(t) with arguments below -20 read as 0, as the chi-square series was designed: the dropped
// terms are below 2.1e-9 and keeping them only costs time.
constexpr double kSmallestExponent = -20.0;

double cutExp(double t) {
    return t < kSmallestExponent ? 0.0 : std::exp(t);
}

// ln(sqrt(pi)) and 1/sqrt(pi), as they enter the odd-df chi-square series.
constexpr double kLogSqrtPi = 0.5723649429247001;
constexpr double kInverseSqrtPi = 0.5641895835477563;

// Width at which the chi-square bisection stops.
constexpr double kQuantileWidth = 3e-7;

// The dof = 2 closed form carries this 13-digit root of 2 (not 1.4142135623731); the critical
// values stored by earlier runs were computed with it, so it stays.
constexpr double kDof2Factor = 1.4142135623721;

// Binomial series of the per-observation level: terms below this are dropped, at most this many.
constexpr double kSeriesTermLimit = 1e-14;
constexpr int kSeriesTermCount = 100;

// Newton iteration on the distribution of tau.
constexpr double kNewtonTolerance = 1e-10;
constexpr int kNewtonStepLimit = 50;

// 1 - (1 - alpha)^(1/n) for 0 < alpha < 1 and n >= 1. Up to alpha = 0.5 it is summed as the
// binomial series, which keeps its digits for tiny alpha where the pow form cancels.
double perObservationLevel(double alpha, int n) {
    const double t = n;
    if (alpha > 0.5) {
        return 1.0 - std::pow(1.0 - alpha, 1.0 / t);
    }
    double u = alpha / t;
    double v = u;
    for (int i = 1; i <= kSeriesTermCount; ++i) {
        v = v * alpha * (i * t - 1.0) / ((i + 1) * t);
        if (v < kSeriesTermLimit) {
            break;
        }
        u = u + v;
    }
    return u;
}

// Upper point of the standard normal for the two-sided level u (a rational approximation good to
// about 4.5e-4, Abramowitz and Stegun 26.2.23), the start of the Student t expansion.
double normalQuantileTwoSided(double u) {
    const double d = 1.3862943611199 - 2.0 * std::log(u);  // 1.3862943611199 = ln 4
    const double e = std::sqrt(d);
    return e - (2.515517 + 0.802853 * e + 0.010328 * d) /
                   (1.0 + 1.432788 * e + (0.189269 + 0.001308 * e) * d);
}

// Student t quantile with g degrees of freedom from the normal quantile z (asymptotic expansion
// in 1/g, four terms: Abramowitz and Stegun 26.7.5).
double studentQuantile(double z, double g) {
    const double k = z * z;
    const double c1 = z * (k + 1.0) / 4.0;
    const double c2 = z * ((5.0 * k + 16.0) * k + 3.0) / 96.0;
    const double c3 = z * (((3.0 * k + 19.0) * k + 17.0) * k - 15.0) / 384.0;
    const double c4 = z * ((((79.0 * k + 776.0) * k + 1482.0) * k - 1920.0) * k - 945.0) / 92160.0;
    const double m = 1.0 / g;
    return z + m * (c1 + m * (c2 + m * (c3 + m * c4)));
}

}  // namespace

double NormalProbability(double z) {
    double x = 0.0;
    if (z != 0.0) {
        double y = std::fabs(z) / 2.0;
        if (y >= kNormalHalfBound) {
            x = 1.0;
        } else if (y < 1.0) {
            x = horner(kCentralCoefficients, y * y) * y * 2.0;
        } else {
            x = horner(kTailCoefficients, y - 2.0);
        }
    }
    return z > 0.0 ? (x + 1.0) / 2.0 : (1.0 - x) / 2.0;
}

namespace {

// Far in the tail (a = x/2 > 20) the terms of the series are summed as logarithms: term k is
// exp(c z_k - a - e_k) with c = ln a, z_k = z_0 + k (z_0 = 1 for even df, 1/2 for odd) and e_k the
// running sum ln z_0 + ... + ln z_k (plus ln sqrt(pi) for odd df), which depends on df alone. A
// quantile evaluates the tail some hundred times for one df, so it computes the sums once; they
// are the very doubles the running sum gives.
class LogTermSums {
  public:
    // Empty when the series has no terms (df <= 2) or the table cannot be had; the tail then
    // forms the sums as it goes.
    explicit LogTermSums(int df) {
        if (df <= 2) {
            return;
        }
        const bool even = df % 2 == 0;
        const double xl = (df - 1.0) / 2.0;
        try {
            sums_.reserve(static_cast<std::size_t>(xl) + 1);
            double e = even ? 0.0 : kLogSqrtPi;
            for (double z = even ? 1.0 : 0.5; z <= xl; z = z + 1.0) {
                e = std::log(z) + e;
                sums_.push_back(e);
            }
        } catch (const std::bad_alloc&) {
            sums_.clear();
        }
    }
    const std::vector<double>& sums() const { return sums_; }

  private:
    std::vector<double> sums_;
};

// A term whose exponent is below kSmallestExponent by this much or more is taken as cut without
// being formed. The exponents c z_k - a - e_k fall on either side of their largest value by at
// least the square of the distance over 2 z_k, and rounding moves them by far less than this.
constexpr double kCutMargin = 50.0;

// s plus the terms of the log-sum series with the exponents c z_k - a - e_k, added in order of k
// and each cut below exp(-20) as cutExp does. The exponents rise while z_k <= a and fall after,
// so the terms not cut form one run around z_k = a: only that run is formed, and the terms
// outside it, which would add exact zeros to a positive sum, are left out.
double addLogTerms(double s, double a, double z0, const std::vector<double>& e) {
    const double c = std::log(a);
    const std::ptrdiff_t count = static_cast<std::ptrdiff_t>(e.size());
    const auto exponent = [&](std::ptrdiff_t k) { return c * (z0 + double(k)) - a - e[k]; };
    const double peak = std::floor(a - z0);
    const std::ptrdiff_t top =
        peak <= 0 ? 0 : (peak >= double(count - 1) ? count - 1 : std::ptrdiff_t(peak));
    std::ptrdiff_t first = top;
    while (first > 0 && exponent(first - 1) >= kSmallestExponent - kCutMargin) {
        --first;
    }
    std::ptrdiff_t last = top;
    while (last + 1 < count && exponent(last + 1) >= kSmallestExponent - kCutMargin) {
        ++last;
    }
    for (std::ptrdiff_t k = first; k <= last; ++k) {
        s = s + cutExp(exponent(k));
    }
    return s;
}

// Hill and Pike's series (Algorithm 299 of the ACM collection): the tail is the odd-df normal
// term or the even-df exponential term plus a finite sum over half-integer or integer steps.
// `logSums`: LogTermSums of df, or empty to form them here.
double chiSquareTail(double x, int df, const std::vector<double>& logSums) {
    if (x <= 0.0 || df < 1) {
        return 1.0;
    }
    if (std::isinf(x)) {
        return 0.0;  // the log-sum below would meet inf - inf
    }
    const double a = x / 2.0;
    const bool even = df % 2 == 0;
    const double y = df < 2 ? 0.0 : cutExp(-a);
    double s = even ? y : 2.0 * NormalProbability(-std::sqrt(x));
    if (df <= 2) {
        return s;
    }
    const double xl = (df - 1.0) / 2.0;
    double z = even ? 1.0 : 0.5;
    if (a > 20.0) {
        if (!logSums.empty()) {
            return addLogTerms(s, a, z, logSums);
        }
        // Far in the tail the terms are summed as logarithms so that none overflows.
        double e = even ? 0.0 : kLogSqrtPi;
        const double c = std::log(a);
        while (z <= xl) {
            e = std::log(z) + e;
            s = s + cutExp(c * z - a - e);
            z = z + 1.0;
        }
        return s;
    }
    double e = even ? 1.0 : kInverseSqrtPi / std::sqrt(a);
    double c = 0.0;
    // Once the terms, which shrink by a / z, have fallen to zero every later one is zero and
    // adds nothing: the sum is complete, long before z reaches xl for a large df.
    while (z <= xl && e != 0.0) {
        e = e * a / z;
        c = c + e;
        z = z + 1.0;
    }
    return c * y + s;
}

}  // namespace

double ChiSquareProbability(double x, int df) {
    return chiSquareTail(x, df, {});
}

namespace {

// ChiSquareQuantile with the log-term sums of df given.
double chiSquareQuantileWith(int df, double p, const LogTermSums& logSums) {
    // p > 1 has no quantile (the doubling would never end) and NaN compares false everywhere;
    // both take the same fixed result as p <= 0.
    if (!(p > 0.0 && p <= 1.0) || df < 1) {
        return 1.0;
    }
    const auto cumulative = [df, &logSums](double x) {
        return 1.0 - chiSquareTail(x, df, logSums.sums());
    };
    double lo = 0.0;
    double hi = 1.0;
    while (cumulative(hi) < p) {
        lo = hi;
        hi = 2.0 * hi;
        if (!std::isfinite(hi)) {
            return 1.0;  // cannot happen for p <= 1; a guard against an endless doubling
        }
    }
    while (hi - lo >= kQuantileWidth) {
        const double mid = (lo + hi) / 2.0;
        // Above about 1.3e9 neighbouring doubles lie further apart than the width: stop when
        // the bracket cannot shrink any more instead of bisecting forever.
        if (mid <= lo || mid >= hi) {
            break;
        }
        if (p < cumulative(mid)) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    return (lo + hi) / 2.0;
}

}  // namespace

double ChiSquareQuantile(int df, double p) {
    if (!(p > 0.0 && p <= 1.0) || df < 1) {
        return 1.0;  // before the table is formed
    }
    return chiSquareQuantileWith(df, p, LogTermSums(df));
}

ChiSquareBounds ChiSquareQuantiles(int df, double lowerP, double upperP) {
    if (df < 1) {
        return {};
    }
    const LogTermSums logSums(df);
    return {chiSquareQuantileWith(df, lowerP, logSums), chiSquareQuantileWith(df, upperP, logSums)};
}

double TauCriticalValue(int dof, int n, double alpha) {
    if (dof < 2) {
        return 0.0;  // one degree of freedom or none leaves nothing to test a residual against
    }
    const double g = dof - 1.0;
    double r = 1.0;
    if (alpha <= 0.0) {
        return std::sqrt(static_cast<double>(dof)) * r;
    }
    // NaN alpha and n < 1 give no level to spend; they read as "no test", like alpha >= 1.
    if (!(alpha < 1.0) || n < 1) {
        return 0.0;
    }
    const double u = perObservationLevel(alpha, n);
    const double target = 1.0 - u;
    const double w = 2.0 / kPi;
    if (g <= 1.0) {
        return kDof2Factor * std::sin(target / w);
    }

    const double t = studentQuantile(normalQuantileTwoSided(u), g);
    const double start = t * t / (g + t * t);
    r = std::sqrt(start);
    double s = 1.0 - start;

    // Newton steps on P(|r'| <= r) = target, where r'^2 is Beta(1/2, g/2) distributed; the
    // distribution function is a finite sum for integer g (with an arctangent for odd g).
    const int k = static_cast<int>(g / 2.0);
    const bool gEven = g / 2.0 == k;
    double previousStep = 1.0;
    for (int step = 0; step < kNewtonStepLimit; ++step) {
        const double y = g / s;
        double f = 0.0;
        double slope = 0.0;
        if (gEven) {
            double zt = 1.0;
            double sum = 0.0;
            for (int j = 1; j <= k; ++j) {
                sum = sum + zt;
                zt = zt * s * (j - 0.5) / j;
            }
            f = r * sum;
            slope = zt * y;
        } else {
            double zt = std::sqrt(s);
            double sum = 0.0;
            for (int j = 1; j <= k; ++j) {
                sum = sum + zt;
                zt = zt * s * j / (j + 0.5);
            }
            f = w * (std::atan(r / std::sqrt(1.0 - r * r)) + r * sum);
            slope = w * zt * y;
        }
        const double h = (target - f) / slope;
        if (std::fabs(h) < kNewtonTolerance) {
            break;
        }
        // A step that is not clearly shorter than the last one means the iteration has stopped
        // converging (or never started): keep the last accepted r.
        if (!(std::fabs(h / previousStep) <= 0.5)) {
            break;
        }
        r = r + h;
        previousStep = h;
        s = 1.0 - r * r;
    }
    return std::sqrt(static_cast<double>(dof)) * r;
}

}  // namespace torvek
