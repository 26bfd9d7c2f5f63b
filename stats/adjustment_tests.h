#pragma once

namespace torvek {

/// The statistics of one adjustment: the two-sided chi-square test of the weighted sum of squared
/// residuals and the critical value of the tau test.
struct AdjustmentTestResult {
    int observationCount = 0;
    int unknownCount = 0;
    int degreesOfFreedom = 0;
    double chiSquare = 0;  // sum of p v^2
    double lowerLimit = 1.0;
    double upperLimit = 1.0;
    double unitWeightStandardError = 1.0;  // sqrt(chiSquare / degreesOfFreedom), 1 without any
    double tauCriticalValue = 0;
    bool passed = false;  // lower <= chiSquare <= upper
};

/// Evaluates the tests for `chiSquare` (the weighted sum of squared residuals), the counts and the
/// confidence level in percent, (0, 100).
AdjustmentTestResult evaluateAdjustmentTests(double chiSquare, int observationCount,
                                             int unknownCount, double confidenceLevel);

}  // namespace torvek
