// The accumulated normal equations against A^T P A and -A^T P l built independently in double
// precision: A by numerical differentiation of the vector model along each site's own north, east
// and up directions, l from the current coordinates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "engine/adjustment_engine.h"
#include "support/engine_harness.h"
#include "support/synthetic_network.h"

namespace torvek::testing {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;
constexpr double kRho = 180.0 * 3600.0 / 3.14159265358979323846;

// Earth-centred position of a site moved by (north, east, up) metres along its own local axes.
Triple moved(const Triple& xyz, const std::array<Triple, 3>& axes, int component, double metres) {
    Triple out = xyz;
    for (int r = 0; r < 3; ++r)
        out[r] += axes[r][component] * metres;
    return out;
}

TEST(NormalEquations, AccumulationEqualsIndependentDenseProduct) {
    SyntheticNetwork net = ringNetwork(6, -33.9, 151.2, 2500);
    net.sites[0].fixed[0] = net.sites[0].fixed[1] = net.sites[0].fixed[2] = true;
    net.sites[3].sigma[0] = net.sites[3].sigma[1] = 0.01;  // weighted horizontal control
    net.sites[3].sigma[2] = 0.02;
    net.sites[2].fixed[2] = true;  // a second and third height control
    net.sites[4].fixed[2] = true;
    net.sites[2].sigma[0] = net.sites[2].sigma[1] = 0.005;
    net.vectors[3].weightDivisor = 4;  // halves that vector's weights
    for (auto& s : net.sites)
        s.startOffset = {0.02, -0.01, 0.03};
    net.sites[0].startOffset = {0, 0, 0};
    net.simulate(11);
    QuietEngine q(net.toDataSet());
    AdjustmentEngine& e = q.engine;
    ASSERT_TRUE(e.beginAttempt());
    ASSERT_TRUE(e.loadSites());
    ASSERT_TRUE(e.loadVectors());
    e.formEquations();
    const AdjustmentState& s = e.state();
    const int n = s.unknownCount;
    // Forming the equations has added them up already; reading them back gives the same bits.
    std::vector<float> formed;
    for (int i = 1; i <= n; ++i)
        for (int j = i; j <= n; ++j)
            formed.push_back(e.normalElement(i, j));
    std::vector<double> formedRhs(static_cast<std::size_t>(n) + 1);
    for (int i = 1; i <= n; ++i)
        formedRhs[i] = e.normalRightHandSide(i);
    ASSERT_TRUE(e.accumulateNormals());
    std::size_t at = 0;
    for (int i = 1; i <= n; ++i) {
        ASSERT_EQ(e.normalRightHandSide(i), formedRhs[i]) << i;
        for (int j = i; j <= n; ++j)
            ASSERT_EQ(e.normalElement(i, j), formed[at++]) << i << "," << j;
    }
    ASSERT_EQ(s.coordinateUnknownCount, 6 * 3 - 3 - 2);
    ASSERT_EQ(n, s.coordinateUnknownCount + 4);

    // Independent design matrix in double precision.
    std::vector<std::vector<double>> rows;
    std::vector<double> misclosure, weight;
    auto refAxes = localAxes(net.referenceLatitude, net.referenceLongitude);
    auto toReference = [&](const Triple& d) {
        Triple out{};
        for (int c = 0; c < 3; ++c)
            for (int r = 0; r < 3; ++r)
                out[c] += refAxes[r][c] * d[r];
        return out;
    };
    // Control constraints first, in site order, then the bias constraints, then the vectors.
    for (int k = 1; k <= s.loadedSiteCount; ++k) {
        const SyntheticSite& site = net.sites[k - 1];
        for (int c = 0; c < 3; ++c) {
            if (site.fixed[c] || site.sigma[c] == 0)
                continue;
            std::vector<double> row(n + 1, 0.0);
            row[s.sites[k].unknownNumber[c]] = 1.0;
            rows.push_back(row);
            misclosure.push_back(0.0);  // the start position is the control value
            weight.push_back(1.0 / (site.sigma[c] * site.sigma[c]));
        }
    }
    // Two horizontal and three vertical controls: no bias constraint is added by the program.
    ASSERT_EQ(s.biasConstraintCount, 0);
    for (const SyntheticVector& v : net.vectors) {
        const SiteState& from = s.sites[v.from + 1];
        const SiteState& to = s.sites[v.to + 1];
        Triple xi = {from.x, from.y, from.z}, xj = {to.x, to.y, to.z};
        auto axesI = localAxes(from.latitude / kDegree, from.longitude / kDegree);
        auto axesJ = localAxes(to.latitude / kDegree, to.longitude / kDegree);
        Triple t = toReference(v.observed);
        Triple l = toReference({xj[0] - xi[0] - v.observed[0], xj[1] - xi[1] - v.observed[1],
                                xj[2] - xi[2] - v.observed[2]});
        for (int a = 0; a < 3; ++a) {
            std::vector<double> row(n + 1, 0.0);
            for (int c = 0; c < 3; ++c) {
                const double h = 1e-3;
                auto along = [&](const Triple& pi, const Triple& pj) {
                    return toReference({pj[0] - pi[0], pj[1] - pi[1], pj[2] - pi[2]})[a];
                };
                if (from.unknownNumber[c])
                    row[from.unknownNumber[c]] +=
                        (along(moved(xi, axesI, c, h), xj) - along(moved(xi, axesI, c, -h), xj)) /
                        (2 * h);
                if (to.unknownNumber[c])
                    row[to.unknownNumber[c]] +=
                        (along(xi, moved(xj, axesJ, c, h)) - along(xi, moved(xj, axesJ, c, -h))) /
                        (2 * h);
            }
            // Small rotations omega (arc seconds) and scale (ppm): -(omega x t)/rho - s t/1e6.
            const int b = s.coordinateUnknownCount;
            Triple unit[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
            for (int k = 0; k < 3; ++k) {
                Triple w = unit[k];
                Triple cross = {w[1] * t[2] - w[2] * t[1], w[2] * t[0] - w[0] * t[2],
                                w[0] * t[1] - w[1] * t[0]};
                row[b + 1 + k] = -cross[a] / kRho;
            }
            row[b + 4] = -t[a] / 1e6;
            rows.push_back(row);
            misclosure.push_back(l[a]);
            double scale = 2.0 / std::max(v.weightDivisor, 2);
            weight.push_back(scale / (v.localSigma[a] * v.localSigma[a]));
        }
    }
    ASSERT_EQ(int(rows.size()), s.observationCount);
    for (int i = 1; i <= n; ++i) {
        double rhs = 0;
        for (std::size_t r = 0; r < rows.size(); ++r)
            rhs -= rows[r][i] * weight[r] * misclosure[r];
        EXPECT_NEAR(e.normalRightHandSide(i), rhs, 1e-6 * std::fabs(rhs) + 1e-3)
            << "right-hand side " << i;
        for (int j = i; j <= n; ++j) {
            double expected = 0;
            for (std::size_t r = 0; r < rows.size(); ++r)
                expected += rows[r][i] * weight[r] * rows[r][j];
            double scale =
                std::sqrt(std::fabs(e.normalElement(i, i)) * std::fabs(e.normalElement(j, j)));
            EXPECT_NEAR(e.normalElement(i, j), expected, 2e-6 * scale + 1e-9) << i << "," << j;
        }
    }
    e.endAttempt();
}

// The accumulation as the equations describe it, one equation after the other: terms in stable
// order of their unknown numbers, coefficients of a number named twice added in that order, each
// product of the unknowns of this solve added to its float element in turn.
struct PlainAccumulation {
    explicit PlainAccumulation(int n) : n(n), matrix(packedTriangleSize(n), 0.0f), u(n + 1, 0.0) {}
    void add(EquationRecord e) {
        if (e.weight == 0)
            return;
        std::stable_sort(
            e.terms, e.terms + e.termCount,
            [](const EquationTerm& a, const EquationTerm& b) { return a.unknown < b.unknown; });
        std::vector<EquationTerm> merged;
        for (int k = 0; k < e.termCount; ++k) {
            if (!merged.empty() && e.terms[k].unknown != 0 &&
                merged.back().unknown == e.terms[k].unknown)
                merged.back().coefficient += e.terms[k].coefficient;
            else
                merged.push_back(e.terms[k]);
        }
        for (std::size_t r = 0; r < merged.size(); ++r) {
            if (merged[r].unknown < 1 || merged[r].unknown > n)
                continue;
            for (std::size_t c = r; c < merged.size(); ++c) {
                if (merged[c].unknown < 1 || merged[c].unknown > n)
                    continue;
                float& element = matrix[packedIndex(merged[r].unknown, merged[c].unknown, n)];
                element = static_cast<float>(element + merged[r].coefficient *
                                                           merged[c].coefficient * e.weight);
            }
            u[merged[r].unknown] -= merged[r].coefficient * (e.weight * e.misclosure);
        }
    }
    int n;
    std::vector<float> matrix;
    std::vector<double> u;
};

TEST(NormalEquations, AccumulationAddsEveryEquationInTurnBitForBit) {
    // Written straight into the equation file: vectors' threes (north, east, up) with their
    // unknowns in the order a vector names them, ends reversed, a site at both ends, fixed (0)
    // and foreign numbers, zero weights, single-term constraints between them.
    SyntheticNetwork net = ringNetwork(4, 10, 10, 500);
    fixSite(net.sites[0]);
    net.simulate(1);
    QuietEngine q(net.toDataSet());
    AdjustmentEngine& e = q.engine;
    ASSERT_TRUE(e.beginAttempt());
    constexpr int n = 40;
    std::mt19937 random(9);
    std::uniform_real_distribution<double> value(-2.0, 2.0);
    auto randomUnknown = [&] {
        const int pick = int(random() % 20);
        return pick == 0 ? 0 : pick == 1 ? n + 1 : pick == 2 ? -3 : 1 + int(random() % n);
    };
    PlainAccumulation plain(n);
    int records = 0;
    ScratchFile& file = e.scratch().equationScratch;
    file.rewind();
    for (int k = 0; k < 600; ++k) {
        EquationRecord written;
        const bool vector = random() % 4 != 0;
        written.termCount = vector ? kVectorEquationTerms : 1;
        for (int t = 0; t < written.termCount; ++t)
            written.terms[t].unknown = randomUnknown();
        if (vector && random() % 3 == 0)
            written.terms[3].unknown = written.terms[0].unknown;  // a site at both ends
        const int equations = vector ? 3 : 1;
        for (int a = 0; a < equations; ++a) {
            for (int t = 0; t < written.termCount; ++t)
                written.terms[t].coefficient = value(random);
            written.misclosure = value(random);
            written.weight = random() % 10 == 0 ? 0.0 : std::fabs(value(random)) * 1e4;
            ASSERT_TRUE(writeEquation(file, written, false));
            plain.add(written);
            ++records;
        }
    }
    AdjustmentState& s = e.state();
    s.unknownCount = n;
    s.observationCount = records;
    s.controlConstraintCount = 0;
    ASSERT_TRUE(e.accumulateNormals());
    for (int i = 1; i <= n; ++i) {
        ASSERT_EQ(e.normalRightHandSide(i), plain.u[i]) << i;
        for (int j = i; j <= n; ++j)
            ASSERT_EQ(e.normalElement(i, j), plain.matrix[packedIndex(i, j, n)]) << i << "," << j;
    }
    e.endAttempt();
}

}  // namespace
}  // namespace torvek::testing
