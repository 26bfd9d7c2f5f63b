#include "report/adjustment_tests_section.h"

namespace torvek {

void printAdjustmentTests(ReportWriter& report, const AdjustmentTestsSection& section) {
    report.setStyle(style::kHeading);
    report.print("Adjustment Tests\n");
    report.setStyle(style::kIndented);
    report.print("Confidence level: %3.1f%%\n", section.confidenceLevel);
    report.setStyle(style::kIndented);
    report.print("Number of\n");
    report.setStyle(style::kDoublyIndented);
    report.print("obs. equations %d\n", section.observationCount);
    report.setStyle(style::kDoublyIndented);
    report.print("unknowns %d\n", section.unknownCount);
    report.setStyle(style::kDoublyIndented);
    report.print("degrees of freedom %d\n", section.degreesOfFreedom);
    report.setStyle(style::kIndented);
    report.print("Chi-square test: ");
    if (section.chiSquarePassed) {
        report.setStyle(style::kPassed);
        report.print("passed\n");
    } else {
        report.setStyle(style::kFailed);
        report.print("failed\n");
    }
    report.setStyle(style::kDoublyIndented);
    report.print("Lower limit: %f\n", section.lowerLimit);
    report.setStyle(style::kDoublyIndented);
    report.print("Upper limit: %f\n", section.upperLimit);
    report.setStyle(style::kDoublyIndented);
    report.print("Chi-square: %f\n", section.chiSquare);
    report.setStyle(style::kIndented);
    report.print("Variance of Unit Weight: %f\n",
                 section.unitWeightStandardError * section.unitWeightStandardError);
    report.setStyle(style::kIndented);
    report.print("Standard Error of Unit Weight: %f\n", section.unitWeightStandardError);
    report.setStyle(style::kIndented);
    report.print("Critical value for Tau-test: %f\n", section.tauCriticalValue);
    report.setStyle(style::kIndented);
    report.print("Scale factor for a-priori vector sigmas: %6.2f\n", section.vectorSigmaScale);
}

}  // namespace torvek
