#include "stats/adjustment_test_report.h"

#include <cmath>

#include "stats/distributions.h"

namespace torvek {

AdjustmentTestResult evaluateAdjustmentTests(double chiSquare, int observationCount,
                                             int unknownCount, double confidenceLevel) {
    AdjustmentTestResult result;
    result.observationCount = observationCount;
    result.unknownCount = unknownCount;
    result.degreesOfFreedom = observationCount - unknownCount;
    result.chiSquare = chiSquare;
    result.unitWeightStandardError =
        result.degreesOfFreedom != 0 ? std::sqrt(chiSquare / result.degreesOfFreedom) : 1.0;
    const double alpha = 1 - confidenceLevel / 100;
    result.lowerLimit = ChiSquareQuantile(result.degreesOfFreedom, alpha / 2);
    result.upperLimit = ChiSquareQuantile(result.degreesOfFreedom, 1 - alpha / 2);
    result.tauCriticalValue = TauCriticalValue(result.degreesOfFreedom, observationCount, alpha);
    result.passed = result.lowerLimit <= chiSquare && chiSquare <= result.upperLimit;
    return result;
}

void printAdjustmentTests(ReportWriter& report, const AdjustmentTestResult& result,
                          double confidenceLevel, double vectorSigmaScale) {
    report.setStyle(style::kHeading);
    report.print("Adjustment Tests\n");
    report.setStyle(style::kIndented);
    report.print("Confidence level: %3.1f%%\n", confidenceLevel);
    report.setStyle(style::kIndented);
    report.print("Number of\n");
    report.setStyle(style::kDoublyIndented);
    report.print("obs. equations %d\n", result.observationCount);
    report.setStyle(style::kDoublyIndented);
    report.print("unknowns %d\n", result.unknownCount);
    report.setStyle(style::kDoublyIndented);
    report.print("degrees of freedom %d\n", result.degreesOfFreedom);
    report.setStyle(style::kIndented);
    report.print("Chi-square test: ");
    if (result.passed) {
        report.setStyle(style::kPassed);
        report.print("passed\n");
    } else {
        report.setStyle(style::kFailed);
        report.print("failed\n");
    }
    report.setStyle(style::kDoublyIndented);
    report.print("Lower limit: %f\n", result.lowerLimit);
    report.setStyle(style::kDoublyIndented);
    report.print("Upper limit: %f\n", result.upperLimit);
    report.setStyle(style::kDoublyIndented);
    report.print("Chi-square: %f\n", result.chiSquare);
    report.setStyle(style::kIndented);
    report.print("Variance of Unit Weight: %f\n",
                 result.unitWeightStandardError * result.unitWeightStandardError);
    report.setStyle(style::kIndented);
    report.print("Standard Error of Unit Weight: %f\n", result.unitWeightStandardError);
    report.setStyle(style::kIndented);
    report.print("Critical value for Tau-test: %f\n", result.tauCriticalValue);
    report.setStyle(style::kIndented);
    report.print("Scale factor for a-priori vector sigmas: %6.2f\n", vectorSigmaScale);
}

}  // namespace torvek
