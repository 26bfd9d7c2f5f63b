#pragma once
#include "report/report_writer.h"

namespace torvek {

/// What the report's "Adjustment Tests" section shows of one adjustment.
struct AdjustmentTestsSection {
    double confidenceLevel = 95.0;  // percent, (0, 100)
    int observationCount = 0;
    int unknownCount = 0;
    int degreesOfFreedom = 0;
    bool chiSquarePassed = false;
    double lowerLimit = 1.0;  // of the chi-square test
    double upperLimit = 1.0;
    double chiSquare = 0;                  // weighted sum of squared residuals
    double unitWeightStandardError = 1.0;  // its square is printed as the variance
    double tauCriticalValue = 0;
    double vectorSigmaScale = 1.0;  // scale factor applied to the a-priori vector sigmas
};

/// Prints the "Adjustment Tests" section; leaves the indented style in force.
void printAdjustmentTests(ReportWriter& report, const AdjustmentTestsSection& section);

}  // namespace torvek
