// The report's sections printed from their structs: which line of the closing report shows a
// parameter as held or adjusted, and which value it shows; the verdict and the derived variance
// of the adjustment tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/adjustment_tests_section.h"
#include "report/closing_report.h"
#include "support/in_process_front_end.h"
#include "support/report_markers.h"

namespace torvek::testing {
namespace {

// The lines of `text` (pieces joined by "\n ") that begin with one of the parameter names.
std::vector<std::string> parameterLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line[0] == ' ')
            line.erase(0, 1);  // the blank that every print appends
        for (const char* name :
             {"  X", "  Y", "  Z", "  Northing", "  Easting", "  Height", "Scale correction"}) {
            if (line.rfind(name, 0) == 0)
                lines.push_back(line);
        }
    }
    return lines;
}

ClosingReport sampleClosing() {
    ClosingReport closing;
    closing.semiMajorAxis = 6378137.0;
    closing.reciprocalFlattening = 298.257223563;
    closing.geocentricRotations[0] = {1.111, 0.011};
    closing.geocentricRotations[1] = {-2.222, 0.022};
    closing.geocentricRotations[2] = {3.333, 0.033};
    closing.localRotations[0] = {4.444, 0.044};
    closing.localRotations[1] = {5.555, 0.055};
    closing.localRotations[2] = {-6.666, 0.066};
    closing.scale = {7.777, 0.077};
    closing.aprioriLocalRotations[0] = 0.1;
    closing.aprioriLocalRotations[1] = -0.2;
    closing.aprioriLocalRotations[2] = 0.3;
    closing.aprioriScale = 0.4;
    return closing;
}

TEST(ClosingReportSection, EachParameterLineShowsHeldOrAdjustedValues) {
    struct Case {
        const char* what;
        bool minimal;
        bool rotationFixed[3];
        bool scaleFixed;
        std::vector<std::string> lines;  // X, Y, Z, scale, Northing, Easting, Height, scale
    } cases[] = {
        {"nothing held",
         false,
         {false, false, false},
         false,
         {"  X                        1.111    0.011", "  Y                       -2.222    0.022",
          "  Z                        3.333    0.033", "Scale correction (ppm)     7.777    0.077",
          "  Northing                 4.444    0.044", "  Easting                  5.555    0.055",
          "  Height                  -6.666    0.066",
          "Scale correction (ppm)     7.777    0.077"}},
        {"north rotation held",
         false,
         {true, false, false},
         false,
         {"  X                        1.111    0.011", "  Y                       -2.222    0.022",
          "  Z                        3.333    0.033", "Scale correction (ppm)     7.777    0.077",
          "  Northing                 0.100    fixed", "  Easting                  5.555    0.055",
          "  Height                  -6.666    0.066",
          "Scale correction (ppm)     7.777    0.077"}},
        // All three rotations held: the Earth-centred ones read fixed with their adjusted values.
        {"rotations held, scale free",
         false,
         {true, true, true},
         false,
         {"  X                        1.111    fixed", "  Y                       -2.222    fixed",
          "  Z                        3.333    fixed", "Scale correction (ppm)     7.777    0.077",
          "  Northing                 0.100    fixed", "  Easting                 -0.200    fixed",
          "  Height                   0.300    fixed",
          "Scale correction (ppm)     7.777    0.077"}},
        {"scale held",
         false,
         {false, false, false},
         true,
         {"  X                        1.111    0.011", "  Y                       -2.222    0.022",
          "  Z                        3.333    0.033", "Scale correction (ppm)     0.400    fixed",
          "  Northing                 4.444    0.044", "  Easting                  5.555    0.055",
          "  Height                  -6.666    0.066",
          "Scale correction (ppm)     0.400    fixed"}},
        {"minimally constrained",
         true,
         {false, false, false},
         false,
         {"  X                        1.111    fixed", "  Y                       -2.222    fixed",
          "  Z                        3.333    fixed", "Scale correction (ppm)     0.400    fixed",
          "  Northing                 0.100    fixed", "  Easting                 -0.200    fixed",
          "  Height                   0.300    fixed",
          "Scale correction (ppm)     0.400    fixed"}},
    };
    for (const Case& c : cases) {
        InProcessFrontEnd frontEnd;
        frontEnd.clearFrames();
        ClosingReport closing = sampleClosing();
        closing.minimallyConstrained = c.minimal;
        for (int k = 0; k < 3; ++k)
            closing.localRotationFixed[k] = c.rotationFixed[k];
        closing.scaleFixed = c.scaleFixed;
        printClosingReport(frontEnd.report(), closing);
        EXPECT_EQ(parameterLines(frontEnd.reportText()), c.lines) << c.what;
    }
}

TEST(AdjustmentTestsSection, VerdictWordAndVarianceOfUnitWeight) {
    for (bool passed : {true, false}) {
        InProcessFrontEnd frontEnd;
        frontEnd.clearFrames();
        AdjustmentTestsSection section;
        section.confidenceLevel = 99.5;
        section.chiSquarePassed = passed;
        section.unitWeightStandardError = 1.5;
        section.vectorSigmaScale = 2.0;
        printAdjustmentTests(frontEnd.report(), section);
        const std::string styled = frontEnd.styledReport();
        const std::string verdict =
            passed ? inStyle(style::kPassed, "passed\n ") : inStyle(style::kFailed, "failed\n ");
        EXPECT_NE(styled.find(inStyle(style::kIndented, "Chi-square test:  ") + verdict),
                  std::string::npos)
            << styled;
        EXPECT_NE(styled.find("Confidence level: 99.5%\n "), std::string::npos);
        EXPECT_NE(styled.find("Variance of Unit Weight: 2.250000\n "), std::string::npos);
        EXPECT_NE(styled.find("Scale factor for a-priori vector sigmas:   2.00\n "),
                  std::string::npos);
    }
}

}  // namespace
}  // namespace torvek::testing
