// The accumulated normal equations against A^T P A and -A^T P l built independently in double
// precision: A by numerical differentiation of the vector model along each site's own north, east
// and up directions, l from the current coordinates.
#include <gtest/gtest.h>

#include <cmath>

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
    e.accumulateNormals();
    const AdjustmentState& s = e.state();
    const int n = s.unknownCount;
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
        EXPECT_NEAR(s.solution[i], rhs, 1e-6 * std::fabs(rhs) + 1e-3) << "right-hand side " << i;
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

}  // namespace
}  // namespace torvek::testing
