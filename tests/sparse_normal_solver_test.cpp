// The sparse solver against a dense double-precision solution and inverse of the same normal
// equations, under both orderings, through repeated assemblies of one order (the structure kept)
// and with a pattern that changes under the same order; the dense single-precision solver against
// the same solution; the assembly's columns through assemblies whose equations change.
#ifdef TORVEK_LARGE_BINARY
#include "engine/sparse/sparse_normal_solver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "engine/dense_normal_solver.h"
#include "engine/sparse/normal_assembly.h"
#include "support/engine_harness.h"
#include "support/in_process_front_end.h"
#include "support/synthetic_network.h"

namespace torvek {
namespace {

constexpr int kBias = 4;  // trailing unknowns shared by every vector equation

// A planar grid of `side` x `side` sites, three unknowns each, then the bias unknowns; vector
// equations between neighbours and the pairs `extra` (ten terms, random coefficients), and a
// constraint on every site unknown (strong on site 0).
std::vector<EquationRecord> gridEquations(int side, unsigned seed,
                                          const std::vector<std::pair<int, int>>& extra = {}) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> coefficient(-1.0, 1.0);
    const int sites = side * side;
    std::vector<std::pair<int, int>> pairs = extra;
    for (int r = 0; r < side; ++r)
        for (int c = 0; c < side; ++c) {
            if (c + 1 < side)
                pairs.push_back({r * side + c, r * side + c + 1});
            if (r + 1 < side)
                pairs.push_back({r * side + c, (r + 1) * side + c});
        }
    std::vector<EquationRecord> equations;
    for (const auto& [from, to] : pairs)
        for (int component = 0; component < 3; ++component) {
            EquationRecord e;
            e.termCount = 10;
            for (int k = 0; k < 3; ++k) {
                e.terms[k] = {3 * from + k + 1, -1.0 + 0.3 * coefficient(random)};
                e.terms[3 + k] = {3 * to + k + 1, 1.0 + 0.3 * coefficient(random)};
            }
            for (int b = 0; b < kBias; ++b)
                e.terms[6 + b] = {3 * sites + b + 1, coefficient(random)};
            e.weight = 1.0 + 0.5 * coefficient(random);
            e.misclosure = 0.01 * coefficient(random);
            equations.push_back(e);
        }
    for (int k = 1; k <= 3 * sites; ++k) {
        EquationRecord e;
        e.termCount = 1;
        e.terms[0] = {k, 1.0};
        e.weight = k <= 3 ? 100 : 0.01;
        e.misclosure = 0.02;
        equations.push_back(e);
    }
    return equations;
}

struct Dense {
    int n;
    std::vector<double> a, u;  // n x n, row-major; right-hand side
    double& at(int i, int j) { return a[static_cast<std::size_t>(i) * n + j]; }
};

Dense denseNormals(const std::vector<EquationRecord>& equations, int n) {
    Dense d{n, std::vector<double>(static_cast<std::size_t>(n) * n, 0.0), std::vector<double>(n)};
    for (const EquationRecord& e : equations)
        for (int r = 0; r < e.termCount; ++r) {
            const int i = e.terms[r].unknown - 1;
            d.u[i] -= e.terms[r].coefficient * e.weight * e.misclosure;
            for (int c = 0; c < e.termCount; ++c)
                d.at(i, e.terms[c].unknown - 1) +=
                    e.terms[r].coefficient * e.terms[c].coefficient * e.weight;
        }
    return d;
}

// Gauss-Jordan on [N | I | u]: N^-1 in `a` and the solution in `u`.
void invertDense(Dense& d) {
    const int n = d.n;
    std::vector<double> inv(static_cast<std::size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i)
        inv[static_cast<std::size_t>(i) * n + i] = 1;
    for (int p = 0; p < n; ++p) {
        const double pivot = d.at(p, p);
        for (int j = 0; j < n; ++j) {
            d.at(p, j) /= pivot;
            inv[static_cast<std::size_t>(p) * n + j] /= pivot;
        }
        d.u[p] /= pivot;
        for (int i = 0; i < n; ++i) {
            const double f = d.at(i, p);
            if (i == p || f == 0)
                continue;
            for (int j = 0; j < n; ++j) {
                d.at(i, j) -= f * d.at(p, j);
                inv[static_cast<std::size_t>(i) * n + j] -=
                    f * inv[static_cast<std::size_t>(p) * n + j];
            }
            d.u[i] -= f * d.u[p];
        }
    }
    d.a = inv;
}

// Assembles, factorises and solves with the inverse, and checks the solution and every element
// of the inverse the solver holds (it must hold the diagonal and every pair of one equation) to
// within `tolerance` relative to the element.
void expectMatchesDense(NormalSolver& solver, const std::vector<EquationRecord>& equations, int n,
                        const char* what, double tolerance = 1e-9) {
    ASSERT_TRUE(solver.start(n, kBias)) << what;
    EquationFeed feed(solver, n);
    for (const EquationRecord& e : equations)
        feed.add(e);
    ASSERT_TRUE(solver.finish()) << what;
    const NormalSolver::Factorisation f = solver.factorise();
    ASSERT_EQ(f.badPivot, 0) << what;
    std::vector<double> x(static_cast<std::size_t>(n) + 1);
    ASSERT_TRUE(solver.solve(x.data(), true)) << what;
    ASSERT_TRUE(solver.completeInverse()) << what;
    Dense d = denseNormals(equations, n);
    invertDense(d);
    for (int i = 0; i < n; ++i)
        EXPECT_NEAR(x[i + 1], d.u[i], tolerance * (1 + std::fabs(d.u[i])))
            << what << " unknown " << i;
    std::vector<char> shared(static_cast<std::size_t>(n) * n, 0);
    for (const EquationRecord& e : equations)
        for (int r = 0; r < e.termCount; ++r)
            for (int c = 0; c < e.termCount; ++c)
                shared[static_cast<std::size_t>(e.terms[r].unknown - 1) * n + e.terms[c].unknown -
                       1] = 1;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const double z = solver.inverse(i + 1, j + 1);
            const double expected = d.at(i, j);
            if (i == j || shared[static_cast<std::size_t>(i) * n + j] || z != 0) {
                ASSERT_NEAR(z, expected, tolerance * (1 + std::fabs(expected)))
                    << what << " (" << i + 1 << ", " << j + 1 << ")";
            }
        }
}

TEST(SparseNormalSolver, SolvesAndInvertsAsADenseSolution) {
    struct Case {
        const char* name;
        int side;
        int nestedDissectionFrom;
    };
    const Case cases[] = {
        {"2 x 2 grid", 2, kNestedDissectionFrom},
        {"minimum degree, 6 x 6 grid", 6, kNestedDissectionFrom},
        {"nested dissection, 6 x 6 grid", 6, 1},
        {"nested dissection, 11 x 11 grid", 11, 1},
    };
    for (const Case& c : cases) {
        const int n = 3 * c.side * c.side + kBias;
        auto solver = makeSparseNormalSolver(c.nestedDissectionFrom);
        // Two iterations of one pattern (the second reuses the structure), then another pattern
        // of the same order, then a smaller system.
        expectMatchesDense(*solver, gridEquations(c.side, 1), n, c.name);
        expectMatchesDense(*solver, gridEquations(c.side, 2), n, c.name);
        if (c.side > 2) {
            expectMatchesDense(*solver, gridEquations(c.side, 3, {{0, c.side * c.side - 1}}), n,
                               c.name);
            expectMatchesDense(*solver, gridEquations(c.side, 4), n, c.name);
        }
        expectMatchesDense(*solver, gridEquations(2, 5), 3 * 4 + kBias, c.name);
    }
}

// The dense single-precision solver behind the same interface: through repeated systems of one
// order and a smaller one, its solution and full inverse agree with the double-precision ones to
// the accuracy of single precision on these well-conditioned systems.
TEST(DenseNormalSolver, SolvesAndInvertsAsADoubleSolution) {
    constexpr double kSinglePrecision = 2e-4;
    auto solver = makeDenseNormalSolver();
    const int n = 3 * 36 + kBias;
    expectMatchesDense(*solver, gridEquations(6, 1), n, "6 x 6 grid", kSinglePrecision);
    expectMatchesDense(*solver, gridEquations(6, 3, {{0, 35}}), n, "6 x 6 grid, diagonal pair",
                       kSinglePrecision);
    expectMatchesDense(*solver, gridEquations(2, 5), 3 * 4 + kBias, "2 x 2 grid", kSinglePrecision);
}

// Both solvers take the engine's term plan: an unknown named twice (a vector between two ends of
// one site) has its coefficients summed, a fixed component (0) and a number beyond the system
// are left out. The values are exact in single precision, so both solvers must give them exactly.
TEST(DenseNormalSolver, TakesTheTermPlanAsTheSparseSolverDoes) {
    EquationRecord e;
    e.termCount = 5;
    e.terms[0] = {1, 1.5};
    e.terms[1] = {2, -2.0};
    e.terms[2] = {1, 0.25};
    e.terms[3] = {0, 8.0};
    e.terms[4] = {4, 3.0};
    e.weight = 4;
    e.misclosure = 0.5;
    const int n = 3;
    std::unique_ptr<NormalSolver> solvers[] = {makeDenseNormalSolver(), makeSparseNormalSolver()};
    for (const auto& solver : solvers) {
        ASSERT_TRUE(solver->start(n, 0));
        EquationFeed feed(*solver, n);
        feed.add(e);
        ASSERT_TRUE(solver->finish());
        const char* name = solver->name();
        EXPECT_EQ(solver->element(1, 1), 1.75 * 1.75 * 4) << name;
        EXPECT_EQ(solver->element(2, 1), 1.75 * -2.0 * 4) << name;
        EXPECT_EQ(solver->element(2, 2), 16.0) << name;
        EXPECT_EQ(solver->element(3, 3), 0.0) << name;
        EXPECT_EQ(solver->rightHandSide(1), -1.75 * 4 * 0.5) << name;
        EXPECT_EQ(solver->rightHandSide(2), 4.0) << name;
        EXPECT_EQ(solver->rightHandSide(3), 0.0) << name;
    }
}

// An unknown without a term: its pivot is zero, and the factorisation names it, not its place
// in the fill-reducing order.
TEST(SparseNormalSolver, NamesTheUnknownOfAZeroPivot) {
    for (int from : {kNestedDissectionFrom, 1})
        for (int missing : {1, 40, 75}) {
            std::vector<EquationRecord> equations = gridEquations(5, 6);
            const int n = 3 * 25 + kBias;
            for (EquationRecord& e : equations)
                for (int k = 0; k < e.termCount; ++k)
                    if (e.terms[k].unknown == missing)
                        e.terms[k].unknown = 0;
            auto solver = makeSparseNormalSolver(from);
            ASSERT_TRUE(solver->start(n, kBias));
            EquationFeed feed(*solver, n);
            for (const EquationRecord& e : equations)
                feed.add(e);
            ASSERT_TRUE(solver->finish());
            EXPECT_EQ(solver->element(missing, missing), 0.0);
            EXPECT_EQ(solver->factorise().badPivot, missing) << from;
        }
}

// Equations as the assembly takes them: 0-based unknowns, ascending.
struct AssemblyEquation {
    std::vector<int> unknown;
    std::vector<double> coefficient;
    double weight;
};

// A network of `sites` sites and the bias unknowns for the assembly: three unknowns a site, but
// site 3's second component fixed (its rows are not consecutive); each pair of `pairs` a vector of
// three equations on one set of unknowns, then a constraint on every site unknown.
std::vector<AssemblyEquation> assemblyEquations(int sites,
                                                const std::vector<std::pair<int, int>>& pairs) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    const int n = 3 * sites + kBias;
    auto siteUnknowns = [](int s, std::vector<int>& out) {
        for (int k = 0; k < 3; ++k)
            if (s != 3 || k != 1)
                out.push_back(3 * s + k);
    };
    std::vector<AssemblyEquation> equations;
    for (const auto& [a, b] : pairs)
        for (int component = 0; component < 3; ++component) {
            AssemblyEquation e{{}, {}, 1.0 + 0.5 * value(random)};
            siteUnknowns(std::min(a, b), e.unknown);
            siteUnknowns(std::max(a, b), e.unknown);
            for (int k = n - kBias; k < n; ++k)
                e.unknown.push_back(k);
            for (std::size_t k = 0; k < e.unknown.size(); ++k)
                e.coefficient.push_back(value(random));
            equations.push_back(e);
        }
    for (int s = 0; s < sites; ++s) {
        std::vector<int> own;
        siteUnknowns(s, own);
        for (int u : own)
            equations.push_back({{u}, {1.0}, 0.01});
    }
    return equations;
}

// The columns of the upper triangle summed element by element in the order the equations come,
// each product formed as the assembly documents it.
NormalAssembly::Columns summedColumns(const std::vector<AssemblyEquation>& equations, int n) {
    std::map<std::pair<int, int>, double> sums;  // (column, row)
    for (const AssemblyEquation& e : equations)
        for (std::size_t c = 0; c < e.unknown.size(); ++c)
            for (std::size_t r = 0; r <= c; ++r)
                sums[{e.unknown[c], e.unknown[r]}] +=
                    e.coefficient[r] * (e.coefficient[c] * e.weight);
    NormalAssembly::Columns columns;
    columns.start.assign(static_cast<std::size_t>(n) + 1, 0);
    for (const auto& [element, sum] : sums) {
        ++columns.start[element.first + 1];
        columns.rows.push_back(element.second);
        columns.values.push_back(sum);
    }
    for (int c = 0; c < n; ++c)
        columns.start[c + 1] += columns.start[c];
    return columns;
}

// Assemblies of one order whose equations change between them keep giving the columns of a
// fresh assembly, exactly, and say when the pattern changed: each product still meets its
// element in the order of the equations, whether its place was kept, searched or new.
TEST(NormalAssembly, RepeatedAssembliesGiveTheColumnsOfAFreshOne) {
    const int sites = 12, n = 3 * sites + kBias;
    std::vector<std::pair<int, int>> pairs;
    for (int s = 0; s + 1 < sites; ++s)
        pairs.push_back({(5 * s) % sites, (5 * s + 5) % sites});  // scattered numbers
    pairs.push_back({2, 9});
    const std::vector<AssemblyEquation> base = assemblyEquations(sites, pairs);
    std::vector<std::pair<int, int>> added = pairs, leftOut = pairs, reordered = pairs;
    added.push_back({0, 11});
    leftOut.erase(leftOut.begin() + 4);
    std::reverse(reordered.begin(), reordered.end());
    struct Case {
        const char* name;
        std::vector<AssemblyEquation> changed;
        bool patternChanges;
    };
    const Case cases[] = {
        {"the same equations", base, false},
        {"a vector added", assemblyEquations(sites, added), true},
        {"a vector left out", assemblyEquations(sites, leftOut), true},
        {"the vectors in another order", assemblyEquations(sites, reordered), false},
    };
    for (const Case& c : cases) {
        NormalAssembly assembly;
        const std::vector<AssemblyEquation>* order[] = {&base, &c.changed, &c.changed, &base};
        const bool expectChanged[] = {true, c.patternChanges, false, c.patternChanges};
        for (int k = 0; k < 4; ++k) {
            assembly.start(n, kBias);
            for (const AssemblyEquation& e : *order[k])
                assembly.addEquation(e.unknown.data(), e.coefficient.data(),
                                     static_cast<int>(e.unknown.size()), e.weight);
            NormalAssembly::Columns got;
            EXPECT_EQ(assembly.finish(got), expectChanged[k]) << c.name << ", assembly " << k;
            const NormalAssembly::Columns want = summedColumns(*order[k], n);
            EXPECT_EQ(got.start, want.start) << c.name << ", assembly " << k;
            EXPECT_EQ(got.rows, want.rows) << c.name << ", assembly " << k;
            EXPECT_EQ(got.values, want.values) << c.name << ", assembly " << k;
        }
    }
}

// Too few observations stop both engines alike, before any solution. The connectivity test takes
// a site that no vector reaches out of use, so only the engine on its own meets one.
TEST(SparseNormalSolver, TooFewObservationsStopTheEngineAsWithTheDenseSolver) {
    testing::SyntheticNetwork net = testing::ringNetwork(3, 20, 20, 800);
    testing::fixSite(net.sites[0]);
    net.vectors.resize(1);
    net.simulate(12);
    testing::EngineOn<testing::InProcessFrontEnd> dense(net.toDataSet());
    testing::EngineOn<testing::InProcessFrontEnd> sparse(net.toDataSet(), false,
                                                         makeSparseNormalSolver);
    EXPECT_FALSE(dense.engine.adjust());
    EXPECT_FALSE(sparse.engine.adjust());
    EXPECT_NE(dense.frontEnd.styledReport().find("not enough to determine"), std::string::npos);
    EXPECT_EQ(sparse.frontEnd.styledReport(), dense.frontEnd.styledReport());
    EXPECT_EQ(sparse.frontEnd.stages(), dense.frontEnd.stages());
}

}  // namespace
}  // namespace torvek
#endif
