#include "engine/cholesky.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/cholesky_reference.h"
#include "engine/float_environment.h"
#include "engine/normal_matrix.h"
#include "support/survey_normals.h"

namespace torvek {
namespace {

using testing::DoubleSolution;
using testing::packedAt;
using testing::PackedSystem;

// Everything a solve of one system produces, stage by stage.
struct SolveStages {
    int failedAt = 0;
    std::vector<float> factor, inverseFactor, fullInverse;
    std::vector<double> y, x, q;
};

// The functions the engine calls, in the order it calls them. kernels == nullptr: the reference.
SolveStages runStages(const PackedSystem& system, const SolverKernels* kernels) {
    const int n = system.n;
    SolveStages out;
    std::vector<float> m = system.packed;
    out.failedAt =
        kernels ? kernels->factorize(m.data(), n) : reference::factorizeCholesky(m.data(), n);
    if (out.failedAt) {
        return out;
    }
    out.factor = m;
    out.y.assign(n, 0.0);
    if (kernels) {
        EXPECT_TRUE(kernels->forwardSubstitute(m.data(), n, system.rhs.data(), out.y.data()));
        kernels->invertFactor(m.data(), n);
    } else {
        reference::forwardSubstitute(m.data(), n, system.rhs.data(), out.y.data());
        reference::invertFactor(m.data(), n);
    }
    out.inverseFactor = m;
    out.x.assign(n, 0.0);
    out.q.assign(n, 0.0);
    if (kernels) {
        kernels->solveFromInverseFactor(m.data(), n, out.y.data(), out.x.data(), out.q.data());
        EXPECT_TRUE(kernels->formFullInverse(m.data(), n));
    } else {
        reference::solveFromInverseFactor(m.data(), n, out.y.data(), out.x.data(), out.q.data());
        reference::formFullInverse(m.data(), n);
    }
    out.fullInverse = m;
    return out;
}

template <class T>
bool sameBits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

std::vector<const SolverKernels*> availableVariants() {
    std::vector<const SolverKernels*> out;
    for (SolverTarget t : {SolverTarget::kPortable, SolverTarget::kAvx2, SolverTarget::kAvx512}) {
        if (const SolverKernels* k = solverKernels(t)) {
            out.push_back(k);
        }
    }
    return out;
}

// N = R^T R for an integer R with diagonal 1 or 2 and small entries in a band: every step of the
// factorisation is exact in float, so a pivot set to exactly zero or below is seen as such.
PackedSystem exactSystem(int n) {
    std::vector<int> r(static_cast<std::size_t>(n) * n, 0);
    for (int i = 0; i < n; ++i) {
        r[static_cast<std::size_t>(i) * n + i] = 1 + i % 2;
        for (int j = i + 1; j < std::min(n, i + 6); ++j) {
            r[static_cast<std::size_t>(i) * n + j] = (i * 7 + j * 3) % 5 - 2;
        }
    }
    PackedSystem out{n, std::vector<float>(static_cast<std::size_t>(n) * (n + 1) / 2),
                     std::vector<double>(n, 1.0)};
    for (int i = 0; i < n; ++i) {
        for (int j = i; j < n; ++j) {
            int s = 0;
            for (int k = 0; k <= i; ++k) {
                s +=
                    r[static_cast<std::size_t>(k) * n + i] * r[static_cast<std::size_t>(k) * n + j];
            }
            out.packed[packedAt(n, i, j)] = static_cast<float>(s);
        }
    }
    return out;
}

// Pivot of unknown m (0-based) of exactSystem, minus `by`.
void lowerPivot(PackedSystem& system, int m, float by) {
    const float diagonal = 1.0f + m % 2;
    system.packed[packedAt(system.n, m, m)] -= diagonal * diagonal + by;
}

TEST(NormalMatrix, PackedIndexWalksTheUpperTriangleRowByRow) {
    for (int n : {1, 2, 7, 1504}) {
        std::size_t expected = 0;
        for (int i = 1; i <= n; ++i) {
            for (int j = i; j <= n; ++j) {
                ASSERT_EQ(packedIndex(i, j, n), expected) << n << " " << i << " " << j;
                ++expected;
            }
        }
        EXPECT_EQ(packedTriangleSize(n), expected);
    }
    EXPECT_EQ(packedTriangleSize(NormalMatrix::kMaxOrder), 1131760u);

    NormalMatrix m;
    ASSERT_TRUE(m.allocate(4));
    EXPECT_EQ(m.capacity(), 4);
    m.setOrder(4);
    m.clear();
    m.setOrder(3);
    m.at(1, 3) = 5.0f;
    m.at(2, 2) = 7.0f;
    EXPECT_EQ(m.data()[2], 5.0f);
    EXPECT_EQ(m.data()[3], 7.0f);
    EXPECT_EQ(m.symmetricAt(3, 1), 5.0f);
    m.data()[6] = 9.0f;  // beyond the triangle of order 3: clear() leaves it
    m.clear();
    EXPECT_EQ(m.at(1, 3), 0.0f);
    EXPECT_EQ(m.data()[6], 9.0f);
    // A smaller order keeps the buffer; a larger one replaces it; beyond the limit none is had.
    const float* buffer = m.data();
    ASSERT_TRUE(m.allocate(2));
    EXPECT_EQ(m.data(), buffer);
    EXPECT_EQ(m.order(), 0);
    ASSERT_TRUE(m.allocate(NormalMatrix::kMaxOrder));
    EXPECT_EQ(m.capacity(), NormalMatrix::kMaxOrder);
    EXPECT_FALSE(m.allocate(NormalMatrix::kMaxOrder + 1));
    EXPECT_FALSE(m.isAllocated());
    ASSERT_TRUE(m.allocate(0));
    EXPECT_TRUE(m.isAllocated());
    m.release();
    EXPECT_FALSE(m.isAllocated());
    EXPECT_EQ(m.capacity(), 0);
}

TEST(CholeskySolve, EmptySystemIsLeftAlone) {
    float untouched = 7.0f;
    double u = 1.0, y = 2.0, x = 3.0, q = 4.0;
    for (int n : {0, -1}) {
        EXPECT_EQ(factorizeCholesky(&untouched, n), 0);
        forwardSubstitute(&untouched, n, &u, &y);
        invertFactor(&untouched, n);
        solveFromInverseFactor(&untouched, n, &y, &x, &q);
        formFullInverse(&untouched, n);
    }
    EXPECT_EQ(untouched, 7.0f);
    EXPECT_EQ(y + x + q, 9.0);
}

TEST(CholeskySolve, SingleUnknownGivesRightHandSideOverTheElement) {
    PackedSystem system{1, {4.0f}, {6.0}};
    SolveStages s = runStages(system, nullptr);
    ASSERT_EQ(s.failedAt, 0);
    EXPECT_EQ(s.factor[0], 2.0f);
    EXPECT_EQ(s.x[0], 1.5);
    EXPECT_EQ(s.q[0], 0.25);
    EXPECT_EQ(s.fullInverse[0], 0.25f);

    system = {1, {3.0f}, {1.0}};
    for (const SolverKernels* k : availableVariants()) {
        s = runStages(system, k);
        ASSERT_EQ(s.failedAt, 0);
        EXPECT_NEAR(s.x[0], 1.0 / 3.0, 1e-7);
        EXPECT_NEAR(std::sqrt(s.q[0]), 1.0 / std::sqrt(3.0), 1e-7);
        EXPECT_NEAR(s.fullInverse[0], 1.0 / 3.0, 1e-7);
    }
}

// The solver against a double-precision solution of the same (float) matrix: results agree to
// what single precision can give at the matrix's condition (about 1e4 for the networks, 4 for
// the dense matrix); the largest errors seen are a tenth of the tolerances.
void expectAgreesWithDouble(const PackedSystem& system, double tolerance) {
    const int n = system.n;
    DoubleSolution exact;
    ASSERT_TRUE(testing::solveInDouble(system, true, exact));
    std::vector<float> m = system.packed;
    ASSERT_EQ(factorizeCholesky(m.data(), n), 0);
    std::vector<double> y(n), x(n), q(n);
    forwardSubstitute(m.data(), n, system.rhs.data(), y.data());
    invertFactor(m.data(), n);
    solveFromInverseFactor(m.data(), n, y.data(), x.data(), q.data());
    formFullInverse(m.data(), n);

    const testing::SolutionErrors e = testing::compareWithDouble(n, exact, x, q, m);
    EXPECT_LT(e.x, tolerance) << "n=" << n;
    EXPECT_LT(e.sigma, tolerance) << "n=" << n;
    EXPECT_LT(e.inverse, tolerance) << "n=" << n;
    // The diagonal of Q is the same sum of squares as q, only accumulated in float.
    for (int i = 0; i < n; ++i) {
        EXPECT_NEAR(m[packedAt(n, i, i)], q[i], (n - i) * 0x1p-24 * q[i]) << "Q diagonal " << i;
    }
}

TEST(CholeskySolve, AgreesWithDoublePrecisionOnSurveyNetworks) {
    expectAgreesWithDouble(testing::makeSurveyNormals(154, 11), 3e-5);
    expectAgreesWithDouble(testing::makeSurveyNormals(301, 12), 3e-5);
}

TEST(CholeskySolve, AgreesWithDoublePrecisionOnDenseMatrix) {
    expectAgreesWithDouble(testing::makeDenseNormals(120, 13), 5e-6);
}

TEST(CholeskyFactor, ReportsTheFirstNonPositivePivot) {
    struct Case {
        const char* what;
        int expected;
        void (*damage)(PackedSystem&);
    };
    const Case cases[] = {
        {"intact", 0, [](PackedSystem&) {}},
        {"first zero", 1, [](PackedSystem& s) { lowerPivot(s, 0, 0.0f); }},
        {"first negative", 1, [](PackedSystem& s) { s.packed[0] = -3.0f; }},
        {"first NaN", 1,
         [](PackedSystem& s) { s.packed[0] = std::numeric_limits<float>::quiet_NaN(); }},
        {"zero in the middle", 58, [](PackedSystem& s) { lowerPivot(s, 57, 0.0f); }},
        {"negative in the middle, zero later", 41,
         [](PackedSystem& s) {
             lowerPivot(s, 40, 1.0f);
             lowerPivot(s, 90, 0.0f);
         }},
        {"last", 130, [](PackedSystem& s) { lowerPivot(s, 129, 0.5f); }},
        {"NaN pivot", 77,
         [](PackedSystem& s) {
             s.packed[packedAt(130, 76, 76)] = std::numeric_limits<float>::quiet_NaN();
         }},
        {"NaN off the diagonal reaches the pivot of its column", 101,
         [](PackedSystem& s) {
             s.packed[packedAt(130, 60, 100)] = std::numeric_limits<float>::quiet_NaN();
         }},
        {"infinite pivot", 12,
         [](PackedSystem& s) {
             s.packed[packedAt(130, 11, 11)] = std::numeric_limits<float>::infinity();
         }},
    };
    for (const Case& c : cases) {
        PackedSystem system = exactSystem(130);
        c.damage(system);
        std::vector<float> m = system.packed;
        EXPECT_EQ(reference::factorizeCholesky(m.data(), 130), c.expected) << c.what;
        for (const SolverKernels* k : availableVariants()) {
            m = system.packed;
            EXPECT_EQ(k->factorize(m.data(), 130), c.expected) << c.what;
        }
    }
}

// The fast loops reorder only which element is worked on when, never the sums: every variant the
// dispatch can choose gives the reference's results bit for bit, at sizes around every tile,
// strip and block edge.
TEST(CholeskyKernels, EveryVariantReproducesTheReferenceBitForBit) {
    std::vector<PackedSystem> systems;
    for (int n : {1, 2, 3, 5, 8, 13, 24, 47, 48, 49, 97, 113, 150}) {
        systems.push_back(testing::makeDenseNormals(n, 100 + n));
    }
    systems.push_back(testing::makeSurveyNormals(211, 5));
    systems.push_back(testing::makeSurveyNormals(307, 6));
    for (const PackedSystem& system : systems) {
        const SolveStages expected = runStages(system, nullptr);
        ASSERT_EQ(expected.failedAt, 0);
        for (SolverTarget t :
             {SolverTarget::kPortable, SolverTarget::kAvx2, SolverTarget::kAvx512}) {
            const SolverKernels* k = solverKernels(t);
            if (!k) {
                continue;
            }
            const SolveStages got = runStages(system, k);
            const std::string where =
                std::string(solverTargetName(t)) + " n=" + std::to_string(system.n);
            EXPECT_EQ(got.failedAt, 0) << where;
            EXPECT_TRUE(sameBits(got.factor, expected.factor)) << where;
            EXPECT_TRUE(sameBits(got.y, expected.y)) << where;
            EXPECT_TRUE(sameBits(got.inverseFactor, expected.inverseFactor)) << where;
            EXPECT_TRUE(sameBits(got.x, expected.x)) << where;
            EXPECT_TRUE(sameBits(got.q, expected.q)) << where;
            EXPECT_TRUE(sameBits(got.fullInverse, expected.fullInverse)) << where;
        }
    }
}

bool holdsSubnormals(const std::vector<float>& values) {
    return std::any_of(values.begin(), values.end(),
                       [](float v) { return std::fpclassify(v) == FP_SUBNORMAL; });
}

// A chain of unknowns each tied to the next by a hundredth of its own weight: the rows of R^-1
// shrink a hundredfold per step and pass below the smallest normal float within twenty columns.
PackedSystem decayingChain(int n) {
    PackedSystem out{n, std::vector<float>(packedTriangleSize(n), 0.0f),
                     std::vector<double>(n, 1.0)};
    for (int i = 0; i < n; ++i) {
        out.packed[packedAt(n, i, i)] = 1.0f + 0.25f * float(i % 3);
        if (i + 1 < n)
            out.packed[packedAt(n, i, i + 1)] = 0.01f;
    }
    return out;
}

// The program takes subnormal numbers as zero for the whole run (float_environment.h). Every
// variant then still gives what the straightforward loops give in that mode, bit for bit.
TEST(CholeskyKernels, WithSubnormalsFlushedEveryVariantStillReproducesTheReference) {
    for (int n : {40, 97, 150}) {
        const PackedSystem system = decayingChain(n);
        EXPECT_TRUE(holdsSubnormals(runStages(system, nullptr).inverseFactor)) << n;
        FloatEnvironmentGuard restore;
        flushSubnormalsToZero();
        ASSERT_TRUE(subnormalsFlushToZero());
        const SolveStages expected = runStages(system, nullptr);
        ASSERT_EQ(expected.failedAt, 0);
        EXPECT_FALSE(holdsSubnormals(expected.inverseFactor)) << n;
        EXPECT_FALSE(holdsSubnormals(expected.fullInverse)) << n;
        for (const SolverKernels* k : availableVariants()) {
            const SolveStages got = runStages(system, k);
            EXPECT_TRUE(sameBits(got.factor, expected.factor)) << n;
            EXPECT_TRUE(sameBits(got.inverseFactor, expected.inverseFactor)) << n;
            EXPECT_TRUE(sameBits(got.x, expected.x)) << n;
            EXPECT_TRUE(sameBits(got.q, expected.q)) << n;
            EXPECT_TRUE(sameBits(got.fullInverse, expected.fullInverse)) << n;
        }
    }
    EXPECT_FALSE(subnormalsFlushToZero());  // the guard has restored the mode
}

// The engine keeps u, y, x and the sigmas in two arrays: y overwrites u's neighbour, x and q
// overwrite y. The solver must give the same answers when its vectors share storage.
TEST(CholeskyKernels, VectorsMayShareStorage) {
    const PackedSystem system = testing::makeSurveyNormals(100, 9);
    const int n = system.n;
    std::vector<float> m = system.packed;
    ASSERT_EQ(factorizeCholesky(m.data(), n), 0);
    std::vector<double> y(n), x(n), q(n);
    forwardSubstitute(m.data(), n, system.rhs.data(), y.data());
    std::vector<double> shared = system.rhs;
    forwardSubstitute(m.data(), n, shared.data(), shared.data());
    EXPECT_TRUE(sameBits(shared, y));

    invertFactor(m.data(), n);
    solveFromInverseFactor(m.data(), n, y.data(), x.data(), q.data());
    std::vector<double> xInPlace = y;
    std::vector<double> qInPlace = y;
    solveFromInverseFactor(m.data(), n, xInPlace.data(), xInPlace.data(), q.data());
    solveFromInverseFactor(m.data(), n, qInPlace.data(), x.data(), qInPlace.data());
    EXPECT_TRUE(sameBits(xInPlace, x));
    EXPECT_TRUE(sameBits(qInPlace, q));
}

}  // namespace
}  // namespace torvek
