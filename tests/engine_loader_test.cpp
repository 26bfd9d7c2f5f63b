// Loading sites and vectors and forming the equations, stage by stage: unknown numbering, control
// classification, tilt axis, program bias constraints, loader messages, equation records.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/adjustment_engine.h"
#include "support/engine_harness.h"
#include "support/in_process_front_end.h"
#include "support/report_markers.h"
#include "support/synthetic_network.h"

namespace torvek::testing {
namespace {

constexpr double kDegree = 3.14159265358979323846 / 180.0;

// An engine on an in-memory data set, with a recording front end.
using EngineHarness = EngineOn<InProcessFrontEnd>;

// Reads every equation record of the current iteration back from the scratch file.
std::vector<EquationRecord> equations(AdjustmentEngine& engine) {
    std::vector<EquationRecord> out;
    ScratchFile& file = engine.scratch().equationScratch;
    file.rewind();
    for (int k = 0; k < engine.state().observationCount; ++k) {
        EquationRecord e;
        readEquation(file, e, k < engine.state().controlConstraintCount);
        out.push_back(e);
    }
    return out;
}

TEST(SiteLoader, NumbersUnknownsSkippingFixedComponentsAndWritesConstraints) {
    SyntheticNetwork net = ringNetwork(4, 50, 8, 1000);
    fixSite(net.sites[0]);
    net.sites[1].fixed[0] = true;  // latitude fixed, longitude weighted: horizontal control
    net.sites[1].sigma[1] = 0.004;
    net.sites[1].fixed[2] = true;
    net.sites[2].sigma[2] = 0.0002;  // below 1 mm: held at 1 mm
    net.simulate(1);
    EngineHarness h(net.toDataSet());
    ASSERT_TRUE(h.engine.beginAttempt());
    ASSERT_TRUE(h.engine.loadSites()) << h.frontEnd.reportText();
    const AdjustmentState& s = h.engine.state();
    EXPECT_EQ(s.loadedSiteCount, 4);
    EXPECT_EQ(s.horizontalControlCount, 2);
    EXPECT_EQ(s.verticalControlCount, 3);
    EXPECT_EQ(s.sites[1].unknownNumber[0], 0);
    EXPECT_EQ(s.sites[1].unknownNumber[2], 0);
    EXPECT_EQ(s.sites[2].unknownNumber[0], 0);
    EXPECT_EQ(s.sites[2].unknownNumber[1], 1);  // the longitude of the second site
    EXPECT_EQ(s.sites[3].unknownNumber[0], 2);
    EXPECT_EQ(s.sites[3].unknownNumber[2], 4);
    EXPECT_EQ(s.sites[4].unknownNumber[0], 5);
    EXPECT_EQ(s.coordinateUnknownCount, 7);
    EXPECT_EQ(s.unknownSite[1].component, 1);
    EXPECT_EQ(std::string(s.unknownSite[1].name, 4), "S002");
    ASSERT_EQ(s.controlConstraintCount, 2);
    ScratchFile& control = h.engine.scratch().controlScratch;
    control.rewind();
    ControlConstraintRecord first, second;
    readRecord(control, first);
    readRecord(control, second);
    EXPECT_EQ(first.siteIndex, 2);
    EXPECT_EQ(first.component, 2);
    EXPECT_STREQ(first.label, "LON.");
    EXPECT_EQ(first.sigma, 0.004);
    EXPECT_EQ(second.unknown, 4);
    EXPECT_STREQ(second.label, "H   ");
    EXPECT_EQ(second.sigma, 0.001);
    EXPECT_NEAR(second.value, net.sites[2].height, 1e-9);
    // Cartesian start coordinates of a control site are its true ones.
    Triple truth = net.trueCartesian(0);
    EXPECT_NEAR(s.sites[1].x, truth[0], 1e-6);
    EXPECT_NEAR(s.sites[1].z, truth[2], 1e-6);
}

TEST(SiteLoader, TiltAxisFollowsTheLineBetweenTwoHeightControls) {
    for (bool eastWest : {true, false}) {
        SyntheticNetwork net = ringNetwork(4, 45, 0, 1000);
        fixSite(net.sites[0]);
        // Site 2 sits north (or east) of site 0 in the ring: 0 at angle 0 (north), 1 east.
        int second = eastWest ? 1 : 2;
        net.sites[second].latitude =
            eastWest ? net.sites[0].latitude : net.sites[0].latitude + 0.02;
        net.sites[second].longitude =
            eastWest ? net.sites[0].longitude + 0.03 : net.sites[0].longitude;
        net.sites[second].fixed[2] = true;
        net.simulate(2);
        EngineHarness h(net.toDataSet());
        ASSERT_TRUE(h.loadAll()) << h.frontEnd.reportText();
        EXPECT_EQ(h.engine.state().tiltConstraintAxis, eastWest ? 2 : 1);
        // One horizontal control: rotation about up and scale held; the tilt of the axis too.
        const auto pairs = h.output.biasApriori();
        EXPECT_EQ(pairs[5], 0.001);
        EXPECT_EQ(pairs[7], 0.001);
        EXPECT_EQ(pairs[1], eastWest ? 0.0 : 0.001);
        EXPECT_EQ(pairs[3], eastWest ? 0.001 : 0.0);
    }
}

TEST(SiteLoader, ReportsMissingSitesGeoidHeightsAndTheSiteLimit) {
    {
        SyntheticNetwork net = ringNetwork(3, 10, 10, 500);
        for (auto& s : net.sites)
            s.inUse = false;
        EngineHarness h(net.toDataSet());
        ASSERT_TRUE(h.engine.beginAttempt());
        EXPECT_FALSE(h.engine.loadSites());
        EXPECT_EQ(h.frontEnd.reportText(), "Error: No sites for adjustment.\n ");
    }
    {
        SyntheticNetwork net = ringNetwork(5, 10, 10, 500);
        fixSite(net.sites[0]);
        net.sites[0].inUse = false;  // the sites in use come after one that is not
        fixSite(net.sites[1]);
        net.sites[1].geoidHeight = 12.5;
        net.sites[3].geoidHeight = 11.0;
        EngineHarness h(net.toDataSet());
        ASSERT_TRUE(h.engine.beginAttempt());
        EXPECT_FALSE(h.engine.loadSites());
        EXPECT_EQ(h.engine.state().loadedSiteCount, 4);
        EXPECT_EQ(h.frontEnd.reportText(), "Error: Geoid height(s) missing at   2 site(s)\n ");
    }
    {
        SyntheticNetwork net = ringNetwork(3, 10, 10, 500);
        EngineHarness h(net.toDataSet());
        ASSERT_TRUE(h.engine.beginAttempt());
        EXPECT_FALSE(h.engine.loadSites());
        EXPECT_EQ(h.frontEnd.reportText(), "Error: No starting horizontal position or elevation. ");
    }
    for (int count : {500, 501}) {
        SyntheticNetwork net = ringNetwork(count, 10, 10, 20000);
        fixSite(net.sites[0]);
        EngineHarness h(net.toDataSet());
        ASSERT_TRUE(h.engine.beginAttempt());
        EXPECT_EQ(h.engine.loadSites(), count == 500);
        EXPECT_EQ(h.frontEnd.reportText(),
                  count == 500 ? "" : "Error: Max number of sites allowed is 500\n ");
    }
}

TEST(SiteLoader, MinimallyConstrainedKeepsOnlyTheFirstFixes) {
    SyntheticNetwork net = ringNetwork(4, 10, 10, 500);
    fixSite(net.sites[0]);
    net.sites[1].fixed[0] = net.sites[1].fixed[1] = true;  // a second horizontal fix: cleared
    net.sites[2].fixed[2] = true;                          // a second vertical fix: cleared
    net.sites[3].sigma[0] = net.sites[3].sigma[1] = 0.01;  // weights are dropped
    EngineHarness h(net.toDataSet(), true);
    ASSERT_TRUE(h.engine.beginAttempt());
    ASSERT_TRUE(h.engine.loadSites());
    const AdjustmentState& s = h.engine.state();
    EXPECT_EQ(s.horizontalControlCount, 1);
    EXPECT_EQ(s.verticalControlCount, 1);
    EXPECT_EQ(s.controlConstraintCount, 0);
    EXPECT_EQ(s.coordinateUnknownCount, 9);
    // The second site kept no fix: its flags in the output are left as they were.
    ASSERT_TRUE(h.output.seekSite("S002"));
    std::uint8_t lat, lon, elevation;
    h.output.getSiteFixed(lat, lon, elevation);
    EXPECT_EQ(lat, 1);
    EXPECT_EQ(lon, 1);
}

TEST(VectorLoader, BiasConstraintRulesFollowTheControl) {
    // One horizontal and one vertical control, not minimally constrained: all four held, noted.
    SyntheticNetwork weak = ringNetwork(4, 30, 30, 800);
    fixSite(weak.sites[0]);
    weak.simulate(3);
    EngineHarness h(weak.toDataSet());
    ASSERT_TRUE(h.loadAll());
    for (bool fixed : h.settings.biasFixed)
        EXPECT_TRUE(fixed);
    EXPECT_NE(h.frontEnd.reportText().find("Note: Bias constraint(s) applied by the program.\n "
                                           "See issue \"Adjusted Datum Bias Parameters\".\n\n "),
              std::string::npos);
    h.engine.formEquations();
    std::vector<EquationRecord> records = equations(h.engine);
    ASSERT_EQ(h.engine.state().biasConstraintCount, 4);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(records[k].termCount, 1);
        EXPECT_EQ(records[k].terms[0].unknown, h.engine.state().coordinateUnknownCount + 1 + k);
        EXPECT_DOUBLE_EQ(records[k].weight, 1e6);
    }

    // Same control in a minimally constrained run: held as well, but no note.
    EngineHarness minimal(weak.toDataSet(), true);
    ASSERT_TRUE(minimal.loadAll());
    EXPECT_EQ(minimal.frontEnd.reportText().find("Note:"), std::string::npos);

    // Two horizontal and three vertical controls: free parameters stay free, no note.
    SyntheticNetwork strong = ringNetwork(6, 30, 30, 800);
    for (int k : {0, 2, 4})
        fixSite(strong.sites[k]);
    strong.simulate(4);
    EngineHarness s(strong.toDataSet());
    ASSERT_TRUE(s.loadAll());
    for (bool fixed : s.settings.biasFixed)
        EXPECT_FALSE(fixed);
    EXPECT_EQ(s.frontEnd.reportText(), "");

    // Forced after a singular system: every free parameter gets the smallest sigma.
    EngineHarness forced(strong.toDataSet());
    forced.settings.forceBiasConstraints = true;
    ASSERT_TRUE(forced.loadAll());
    for (bool fixed : forced.settings.biasFixed)
        EXPECT_TRUE(fixed);
}

TEST(VectorLoader, WeightsFollowLocalSigmasAndTheWeightDivisor) {
    SyntheticNetwork net = ringNetwork(4, 0, 0, 800);
    net.referenceLatitude = net.referenceLongitude = 0;
    fixSite(net.sites[0]);
    net.vectors[0].weightDivisor = 0;  // counts as 2
    net.vectors[1].weightDivisor = 4;  // halves the weights
    net.vectors[2].localSigma = {0.002, 0.005, 0.01};
    net.simulate(5);
    EngineHarness h(net.toDataSet());
    ASSERT_TRUE(h.loadAll());
    ScratchFile& vectors = h.engine.scratch().vectorScratch;
    vectors.rewind();
    BiasGroupRecord group;
    readRecord(vectors, group);
    EXPECT_EQ(group.vectorCount, int(net.vectors.size()));
    VectorObservationRecord v[3];
    for (auto& record : v)
        readRecord(vectors, record);
    const double p = 1 / (0.003 * 0.003);
    EXPECT_NEAR(v[0].pN, p, 1e-6 * p);
    EXPECT_NEAR(v[1].pE, p / 2, 1e-6 * p);
    EXPECT_NEAR(v[2].pN, 1 / (0.002 * 0.002), 1e-2);
    EXPECT_NEAR(v[2].pU, 1 / (0.01 * 0.01), 1e-4);
    EXPECT_STREQ(v[1].label1, "S001          ");  // the second vector: S001 to S003
    EXPECT_STREQ(v[1].label2, "S003     00002");
    // The local sigmas are written into the output vector.
    ASSERT_TRUE(h.output.seekVector(v[2].label1, v[2].label2));
    double sN, sE, sU;
    h.output.getVectorLocalSigmas(sN, sE, sU);
    EXPECT_NEAR(sN, 0.002, 1e-12);
    EXPECT_NEAR(sU, 0.01, 1e-12);
}

TEST(VectorLoader, ReportsVectorsWhoseSitesAreNotLoaded) {
    SyntheticNetwork net = ringNetwork(4, 10, 10, 500);
    fixSite(net.sites[0]);
    net.sites[2].inUse = false;  // its vectors stay in use: the engine meets them
    net.simulate(6);
    EngineHarness h(net.toDataSet());
    ASSERT_TRUE(h.engine.beginAttempt());
    ASSERT_TRUE(h.engine.loadSites());
    h.frontEnd.clearFrames();
    EXPECT_FALSE(h.engine.loadVectors());
    EXPECT_EQ(h.frontEnd.reportText(),
              "Note: Bias constraint(s) applied by the program.\n "
              "See issue \"Adjusted Datum Bias Parameters\".\n\n "
              "Error: Site S003 not found\n ");

    SyntheticNetwork none = ringNetwork(3, 10, 10, 500);
    fixSite(none.sites[0]);
    for (auto& v : none.vectors)
        v.inUse = false;
    EngineHarness n(none.toDataSet());
    ASSERT_TRUE(n.engine.beginAttempt() && n.engine.loadSites());
    n.frontEnd.clearFrames();
    EXPECT_FALSE(n.engine.loadVectors());
    EXPECT_EQ(n.frontEnd.reportText(),
              "Note: Bias constraint(s) applied by the program.\n "
              "See issue \"Adjusted Datum Bias Parameters\".\n\n "
              "Error: There isn't any vector for adjustment.\n ");
}

TEST(ObservationEquations, MisclosuresAtTheTruthAreTheSimulatedNoise) {
    SyntheticNetwork net = ringNetwork(5, 64.1, -21.9, 2000);
    fixSite(net.sites[0]);
    fixSite(net.sites[1]);
    fixSite(net.sites[2]);
    net.simulate(8);
    EngineHarness h(net.toDataSet());
    ASSERT_TRUE(h.loadAll());
    h.engine.formEquations();
    std::vector<EquationRecord> records = equations(h.engine);
    auto axes = localAxes(net.referenceLatitude, net.referenceLongitude);
    const int bias = h.engine.state().biasConstraintCount;
    EXPECT_EQ(bias, 0);
    for (std::size_t v = 0; v < net.vectors.size(); ++v) {
        Triple a = net.trueCartesian(net.vectors[v].from), b = net.trueCartesian(net.vectors[v].to);
        for (int c = 0; c < 3; ++c) {
            // noise along axis c = observed - true difference, projected on the reference axis
            double noise = 0;
            for (int r = 0; r < 3; ++r)
                noise += axes[r][c] * (net.vectors[v].observed[r] - (b[r] - a[r]));
            const EquationRecord& e = records[bias + 3 * v + c];
            EXPECT_NEAR(e.misclosure, -noise, 2e-8) << "vector " << v << " axis " << c;
            EXPECT_EQ(e.termCount, 10);
        }
    }
    // The first vector joins two fixed sites: only its bias terms name unknowns.
    const EquationRecord& fixedPair = records[bias];
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(fixedPair.terms[k].unknown, 0);
    for (int k = 6; k < 10; ++k)
        EXPECT_GT(fixedPair.terms[k].unknown, 0);
}

TEST(ObservationEquations, ControlMisclosureInTheSecondIterationIsTheFirstCorrection) {
    SyntheticNetwork net = ringNetwork(6, 40, 20, 1500);
    fixSite(net.sites[0]);
    fixSite(net.sites[3]);
    net.sites[2].sigma[0] = net.sites[2].sigma[1] = 0.01;
    net.sites[2].sigma[2] = 0.01;
    net.simulate(10);
    EngineHarness h(net.toDataSet());
    ASSERT_TRUE(h.loadAll());
    h.engine.formEquations();
    EXPECT_EQ(equations(h.engine)[0].misclosure, 0.0);  // control value = current latitude
    ASSERT_TRUE(h.engine.solveNormals(SolveStep::kCorrections));
    const AdjustmentState& s = h.engine.state();
    const double correction = s.solution[s.sites[3].unknownNumber[0]];
    h.engine.updateCoordinates();
    h.engine.formEquations();
    std::vector<EquationRecord> second = equations(h.engine);
    EXPECT_STREQ(second[0].label, "LAT.");
    EXPECT_NEAR(second[0].misclosure, correction, 1e-9 + 1e-6 * std::fabs(correction));
    (void)kDegree;
}

}  // namespace
}  // namespace torvek::testing

namespace torvek::testing {
namespace {

TEST(AdjustmentDriver, TooFewObservationsStopBeforeAnySolution) {
    // A site in use that no vector reaches (the connectivity test would have taken it out of use)
    // brings three unknowns and no observation.
    SyntheticNetwork net = ringNetwork(3, 20, 20, 800);
    fixSite(net.sites[0]);
    net.vectors.resize(1);  // S001 -> S002 only; S003 stays in use without a vector
    net.simulate(12);
    EngineHarness h(net.toDataSet());
    EXPECT_FALSE(h.engine.adjust());
    EXPECT_NE(h.frontEnd.styledReport().find(
                  inStyle(style::kError, "Error: 7 obs. not enough to determine 10 unknowns\n ") +
                  marker(style::kBody)),
              std::string::npos)
        << h.frontEnd.styledReport();
    const std::vector<int> stages = h.frontEnd.stages();
    EXPECT_EQ(stages, (std::vector<int>{32, 36, 42}));
    AdjustmentCounts counts;
    EXPECT_FALSE(h.output.getAdjustmentCounts(counts) && counts.iterationCount > 0);
}

}  // namespace
}  // namespace torvek::testing
