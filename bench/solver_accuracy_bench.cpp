// Accuracy of the single-precision solver against a double-precision solution of the same float
// matrix, on the benchmark's synthetic GPS networks with firm (1 cm), moderate (10 cm) and weak (1
// m) control, for the dispatched fast loops and the straightforward ones. Each case runs once; the
// counters are the condition number, the largest errors (x relative to max |x|, standard deviations
// relative to themselves, inverse elements relative to sqrt(Q_ii Q_jj)), and whether the two
// versions differ in any bit of any result.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "engine/cholesky.h"
#include "engine/cholesky_reference.h"
#include "tests/support/survey_normals.h"

namespace torvek {
namespace {

struct Results {
    std::vector<double> x, q;
    std::vector<float> fullInverse;
};

template <class Factorize, class Forward, class Invert, class Solve, class FullInverse>
Results solveWith(const testing::PackedSystem& s, Factorize factorize, Forward forward,
                  Invert invert, Solve solve, FullInverse fullInverse) {
    const int n = s.n;
    Results r;
    r.fullInverse = s.packed;
    if (factorize(r.fullInverse.data(), n) != 0) {
        std::abort();
    }
    std::vector<double> y(n);
    r.x.resize(n);
    r.q.resize(n);
    forward(r.fullInverse.data(), n, s.rhs.data(), y.data());
    invert(r.fullInverse.data(), n);
    solve(r.fullInverse.data(), n, y.data(), r.x.data(), r.q.data());
    fullInverse(r.fullInverse.data(), n);
    return r;
}

void benchAccuracy(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const double controlSigma = state.range(1) / 100.0;
    const testing::PackedSystem system = testing::makeSurveyNormals(n, 2024, controlSigma);
    testing::DoubleSolution exact;
    if (!testing::solveInDouble(system, true, exact)) {
        state.SkipWithError("not positive definite in double precision");
        return;
    }
    Results fast;
    for (auto _ : state) {
        fast = solveWith(system, factorizeCholesky, forwardSubstitute, invertFactor,
                         solveFromInverseFactor, formFullInverse);
    }
    const Results plain = solveWith(system, reference::factorizeCholesky,
                                    reference::forwardSubstitute, reference::invertFactor,
                                    reference::solveFromInverseFactor, reference::formFullInverse);
    const testing::SolutionErrors e =
        testing::compareWithDouble(n, exact, fast.x, fast.q, fast.fullInverse);
    const testing::SolutionErrors p =
        testing::compareWithDouble(n, exact, plain.x, plain.q, plain.fullInverse);
    const bool differ = std::memcmp(fast.x.data(), plain.x.data(), n * sizeof(double)) != 0 ||
                        std::memcmp(fast.q.data(), plain.q.data(), n * sizeof(double)) != 0 ||
                        std::memcmp(fast.fullInverse.data(), plain.fullInverse.data(),
                                    fast.fullInverse.size() * sizeof(float)) != 0;
    state.counters["cond"] = testing::conditionNumber(system, exact);
    state.counters["x_err"] = e.x;
    state.counters["sigma_err"] = e.sigma;
    state.counters["Q_err"] = e.inverse;
    state.counters["plain_x_err"] = p.x;
    state.counters["plain_sigma_err"] = p.sigma;
    state.counters["plain_Q_err"] = p.inverse;
    state.counters["bits_differ"] = differ ? 1 : 0;
}

// Arguments: unknowns, control sigma in centimetres.
BENCHMARK(benchAccuracy)
    ->Name("Accuracy")
    ->ArgsProduct({{200, 500, 1000, 1504}, {1, 10, 100}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace torvek
