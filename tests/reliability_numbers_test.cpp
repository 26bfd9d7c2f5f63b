// Whole runs on data sets with one number damaged: NaN, infinite or absurd coordinates, vector
// components, sigmas, correlations, ellipsoid, reference point, confidence level and a-priori
// bias values. Each run must end, name what is wrong in an error line, fail the attempt and
// leave no NaN or infinite number among the results.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "support/network_run.h"
#include "support/report_markers.h"
#include "support/result_fields.h"

namespace torvek::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct Damage {
    const char* what;
    std::function<void(ProjectDataSet&)> apply;
    std::string expectedError;  // found in the styled report, red style included
};

SiteRecord& site(ProjectDataSet& ds, const char* name) {
    EXPECT_TRUE(ds.seekSite(name)) << name;
    return *ds.currentSite();
}

// The third vector of the ring, S002 -> S003, record number 3.
VectorRecord& thirdVector(ProjectDataSet& ds) {
    ds.firstVector();
    ds.nextVector();
    ds.nextVector();
    return *ds.currentVector();
}

AdjustmentRecord& settingsRecord(ProjectDataSet& ds) {
    return ds.currentAdjustmentRecord()
               ? *ds.currentAdjustmentRecord()
               : (ds.setBiasApriori(std::array<double, 8>{}.data()), *ds.currentAdjustmentRecord());
}

const std::string kSiteError =
    inStyle(style::kError, "Error: Site S002 has an invalid position or sigma\n");
const std::string kVectorError =
    inStyle(style::kError, "Error: The vector #00003:S002-S003 has invalid components or sigmas\n");

class DamagedNumbers : public NetworkRun {
  protected:
    // Six sites in a ring, the first fixed: a minimally constrained network.
    static SyntheticNetwork ring() {
        SyntheticNetwork net = ringNetwork(6, 52.0, 5.0, 2000);
        fixSite(net.sites[0]);
        net.simulate(3);
        return net;
    }
    // Three fixed sites and constrained bias parameters: every a-priori value enters.
    static SyntheticNetwork overConstrainedRing() {
        SyntheticNetwork net = ringNetwork(9, 52.0, 5.0, 2000);
        fixSite(net.sites[0]);
        fixSite(net.sites[3]);
        fixSite(net.sites[6]);
        for (int k = 0; k < 4; ++k)
            net.biasApriori[2 * k + 1] = 0.5;
        net.simulate(5);
        return net;
    }
    void expectFailedWithoutNonFiniteResults(const SyntheticNetwork& net, const Damage& damage) {
        SCOPED_TRACE(damage.what);
        ProjectDataSet ds = net.toDataSet();
        damage.apply(ds);
        ASSERT_TRUE(ds.writeFile(input));
        RunResult result = runInput();
        const std::string styled = result.styledReport();
        EXPECT_NE(styled.find(damage.expectedError), std::string::npos) << styled;
        // The attempt ends as a failed adjustment, reported as such, and the run goes on to
        // its trailer and closing report.
        EXPECT_NE(styled.find(inStyle(style::kError, "Error: Adjustment was not sucessful\n")),
                  std::string::npos);
        EXPECT_NE(styled.find("Reference Ellipsoid Parameters"), std::string::npos);
        EXPECT_EQ(adjusted.adjustmentSucceeded(), 0);
        std::string where;
        EXPECT_TRUE(resultFieldsAreFinite(adjusted, where)) << where;
    }
};

TEST_F(DamagedNumbers, UndamagedNetworksAdjustWithFiniteResults) {
    for (const SyntheticNetwork& net : {ring(), overConstrainedRing()}) {
        run(net);
        EXPECT_EQ(adjusted.adjustmentSucceeded(), 1);
        std::string where;
        EXPECT_TRUE(resultFieldsAreFinite(adjusted, where)) << where;
    }
}

TEST_F(DamagedNumbers, SitePositionsAndSigmasAreRefusedByName) {
    const Damage damages[] = {
        {"NaN latitude", [](ProjectDataSet& ds) { site(ds, "S002").latitude = kNaN; }, kSiteError},
        {"infinite longitude", [](ProjectDataSet& ds) { site(ds, "S002").longitude = kInfinity; },
         kSiteError},
        {"latitude beyond 90", [](ProjectDataSet& ds) { site(ds, "S002").latitude = 90.5; },
         kSiteError},
        {"negative infinite elevation",
         [](ProjectDataSet& ds) { site(ds, "S002").elevation = -kInfinity; }, kSiteError},
        {"absurd elevation", [](ProjectDataSet& ds) { site(ds, "S002").elevation = 1e300; },
         kSiteError},
        {"NaN geoid height", [](ProjectDataSet& ds) { site(ds, "S002").geoidHeight = kNaN; },
         kSiteError},
        {"NaN sigma", [](ProjectDataSet& ds) { site(ds, "S002").latitudeSigma = kNaN; },
         kSiteError},
        {"infinite sigma", [](ProjectDataSet& ds) { site(ds, "S002").elevationSigma = kInfinity; },
         kSiteError},
    };
    for (const Damage& damage : damages)
        expectFailedWithoutNonFiniteResults(ring(), damage);
}

TEST_F(DamagedNumbers, VectorComponentsSigmasAndCorrelationsAreRefusedByName) {
    const Damage damages[] = {
        {"NaN component", [](ProjectDataSet& ds) { thirdVector(ds).deltaX = kNaN; }, kVectorError},
        {"infinite component", [](ProjectDataSet& ds) { thirdVector(ds).deltaY = -kInfinity; },
         kVectorError},
        {"component beyond the Earth", [](ProjectDataSet& ds) { thirdVector(ds).deltaZ = 4e12; },
         kVectorError},
        {"NaN sigma", [](ProjectDataSet& ds) { thirdVector(ds).sigmaX = kNaN; }, kVectorError},
        // Held at 100 m by the usual sigma rule, an infinite sigma would pass unnoticed.
        {"infinite sigma", [](ProjectDataSet& ds) { thirdVector(ds).sigmaZ = kInfinity; },
         kVectorError},
        // Taken for a correlation outside [-1, 1] and set to 0 by the usual rule, likewise.
        {"NaN correlation", [](ProjectDataSet& ds) { thirdVector(ds).correlationXZ = kNaN; },
         kVectorError},
        {"infinite correlation",
         [](ProjectDataSet& ds) { thirdVector(ds).correlationYZ = kInfinity; }, kVectorError},
    };
    for (const Damage& damage : damages)
        expectFailedWithoutNonFiniteResults(ring(), damage);
}

TEST_F(DamagedNumbers, EllipsoidReferencePointAndConfidenceLevelAreRefused) {
    const std::string ellipsoid = inStyle(style::kError, "Error: Invalid reference ellipsoid: ");
    const std::string reference = inStyle(style::kError, "Error: Invalid reference point: ");
    const std::string confidence = inStyle(style::kError, "Error: Invalid confidence level: ");
    const Damage damages[] = {
        {"reciprocal flattening 0",
         [](ProjectDataSet& ds) { ds.headerRecord().inverseFlattening = 0; }, ellipsoid},
        {"semi-major axis 0", [](ProjectDataSet& ds) { ds.headerRecord().semiMajorAxis = 0; },
         ellipsoid},
        {"NaN semi-major axis", [](ProjectDataSet& ds) { ds.headerRecord().semiMajorAxis = kNaN; },
         ellipsoid},
        {"reference latitude beyond 90",
         [](ProjectDataSet& ds) { ds.headerRecord().referenceLatitude = -91; }, reference},
        {"NaN reference longitude",
         [](ProjectDataSet& ds) { ds.headerRecord().referenceLongitude = kNaN; }, reference},
        // The chi-square quantile of a probability above 1 would never end; these must not
        // reach it.
        {"NaN confidence", [](ProjectDataSet& ds) { ds.headerRecord().confidenceLevel = kNaN; },
         confidence},
        {"confidence 0", [](ProjectDataSet& ds) { ds.headerRecord().confidenceLevel = 0; },
         confidence},
        {"confidence 100", [](ProjectDataSet& ds) { ds.headerRecord().confidenceLevel = 100; },
         confidence},
        {"confidence 250", [](ProjectDataSet& ds) { ds.headerRecord().confidenceLevel = 250; },
         confidence},
        {"negative confidence", [](ProjectDataSet& ds) { ds.headerRecord().confidenceLevel = -5; },
         confidence},
    };
    for (const Damage& damage : damages)
        expectFailedWithoutNonFiniteResults(ring(), damage);
}

TEST_F(DamagedNumbers, AprioriBiasValuesAreRefusedOrCaughtBeforeTheyBecomeResults) {
    const Damage damages[] = {
        {"NaN a-priori rotation",
         [](ProjectDataSet& ds) { settingsRecord(ds).aprioriBias[0] = kNaN; },
         inStyle(style::kError, "Error: Invalid a-priori datum bias parameter 1\n")},
        {"infinite a-priori scale sigma",
         [](ProjectDataSet& ds) { settingsRecord(ds).aprioriBias[7] = kInfinity; },
         inStyle(style::kError, "Error: Invalid a-priori datum bias parameter 4\n")},
        // Finite, so no loader refuses it, but its constraint overflows the solution: the guard
        // on the corrections stops it before anything is stored; the overflow spreads through the
        // whole solution, so it shows at the first bias parameter.
        {"absurd a-priori rotation",
         [](ProjectDataSet& ds) { settingsRecord(ds).aprioriBias[2] = 1e300; },
         inStyle(style::kError, "Error: Datum bias parameter 1 has no finite adjusted value\n")},
    };
    for (const Damage& damage : damages)
        expectFailedWithoutNonFiniteResults(overConstrainedRing(), damage);
}

}  // namespace
}  // namespace torvek::testing
