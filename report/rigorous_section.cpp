#include "report/rigorous_section.h"

namespace torvek {
namespace {

// Percent of a fraction.
constexpr double kPercent = 100.0;

void printFlagged(ReportWriter& report, const FlaggedComponent& c) {
    report.setStyle(style::kOutlier);
    report.print("#%05d %4.4s-%4.4s %c: v %+.4f m, studentized %+.2f, MDB %.4f m\n", c.record,
                 c.from, c.to, c.axis, c.residual, c.studentized, c.mdb);
}

}  // namespace

void printRigorousModel(ReportWriter& report, const RigorousModelSection& section) {
    report.setStyle(style::kHeading);
    report.print("Rigorous Model\n");
    report.setStyle(style::kIndented);
    report.print("Vectors weighted by their full Earth-centred covariance\n");
    report.setStyle(style::kIndented);
    if (section.preanalysis) {
        report.print(
            "Pre-analysis of planned vectors: no observed value is used, so there are no "
            "residuals, chi-square test or outliers\n");
        report.setStyle(style::kIndented);
        report.print("Sigma0: a-priori %.4f (used for every precision)\n", section.aprioriSigma0);
    } else {
        report.print("Residuals v = adjusted - observed, per X, Y, Z component\n");
        report.setStyle(style::kIndented);
        report.print("Sigma0: a-priori %.4f, a-posteriori %.4f\n", section.aprioriSigma0,
                     section.posteriorSigma0);
    }
    report.setStyle(style::kIndented);
    report.print("Sum of redundancy numbers: %.4f (degrees of freedom %d)\n", section.redundancySum,
                 section.degreesOfFreedom);
    report.setStyle(style::kIndented);
    report.print(
        "Ellipses at %3.1f%% (factor %.4f), height sigmas at %3.1f%% (factor %.4f), "
        "scaled by the %s sigma0\n",
        section.confidenceLevel, section.ellipseFactor, section.confidenceLevel,
        section.heightFactor, section.scaledByPosterior ? "a-posteriori" : "a-priori");
    report.setStyle(style::kIndented);
    report.print("Minimal detectable bias: alpha0 %.1f%%, power %.0f%%, delta0 %.4f\n",
                 section.alpha0 * kPercent, section.power * kPercent, section.delta0);
    if (section.preanalysis) {
        report.setStyle(style::kBody);
        return;
    }
    report.setStyle(style::kIndented);
    report.print("Critical value of the studentized residuals: %.4f\n", section.criticalValue);
    report.setStyle(style::kIndented);
    report.print("Flagged components: %d\n", section.flaggedCount);
    for (int k = 0; k < section.flaggedCount; ++k)
        printFlagged(report, section.flagged[k]);
    report.setStyle(style::kBody);
}

void printSnoopedVector(ReportWriter& report, int round, const FlaggedComponent& vector) {
    report.setStyle(style::kHeading);
    report.print(
        "Data snooping, round %d: vector #%05d %4.4s-%4.4s taken out (studentized "
        "%.4f, component %c)\n",
        round, vector.record, vector.from, vector.to, vector.studentized, vector.axis);
    report.setStyle(style::kBody);
}

void printSnoopingEnd(ReportWriter& report, int rounds, bool clean, bool blocked) {
    report.setStyle(style::kHeading);
    if (clean)
        report.print("Data snooping: no flagged vector left after %d round(s)\n", rounds);
    else if (blocked)
        report.print(
            "Data snooping: every flagged vector holds the network together; stopped "
            "after %d round(s)\n",
            rounds);
    else
        report.print("Data snooping: stopped after the last of %d round(s)\n", rounds);
    report.setStyle(style::kBody);
}

}  // namespace torvek
