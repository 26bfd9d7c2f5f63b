#pragma once
#include "report/report_writer.h"

namespace torvek {

/// One residual component that the tau test flags.
struct FlaggedComponent {
    int record = 0;  // vector's record number in the data set
    char from[4] = {}, to[4] = {};
    char axis = 'x';      // 'x', 'y' or 'z'
    double residual = 0;  // metres, adjusted minus observed
    double studentized = 0;
    double mdb = 0;  // metres
};

/// What the report's "Rigorous Model" section shows: the model's conventions and its tests.
struct RigorousModelSection {
    double confidenceLevel = 95.0;   // percent
    bool scaledByPosterior = false;  // ellipses scaled by the a-posteriori sigma0
    double aprioriSigma0 = 1.0, posteriorSigma0 = 0;
    double alpha0 = 0, power = 0, delta0 = 0;  // of the minimal detectable bias; fractions
    double criticalValue = 0;                  // of the studentized residuals
    double redundancySum = 0;
    int degreesOfFreedom = 0;
    /// A pre-analysis: no observation was used, so no residual, chi-square or outlier exists.
    bool preanalysis = false;
    double ellipseFactor = 0, heightFactor = 0;  // sqrt(chi2_2(p)), sqrt(chi2_1(p))
    const FlaggedComponent* flagged = nullptr;
    int flaggedCount = 0;
};

/// Prints the "Rigorous Model" section; leaves the body style in force.
void printRigorousModel(ReportWriter& report, const RigorousModelSection& section);

/// Prints the line of a vector taken out by data snooping in round `round` (1-based).
void printSnoopedVector(ReportWriter& report, int round, const FlaggedComponent& vector);
/// Prints the line saying that snooping stopped: no flagged vector left (`clean`), or the rounds
/// ran out, or every flagged vector holds the network together.
void printSnoopingEnd(ReportWriter& report, int rounds, bool clean, bool blocked);

}  // namespace torvek
