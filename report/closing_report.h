#pragma once
#include "report/report_writer.h"

namespace torvek {

/// An adjusted datum bias parameter: its value and standard deviation, in arc seconds for a
/// rotation and in ppm for the scale correction.
struct ReportedBias {
    double value = 0;
    double sigma = 0;
};

/// What the closing parameter report shows: the reference ellipsoid and the adjusted datum bias
/// parameters, with what the adjustment held fixed.
struct ClosingReport {
    double semiMajorAxis = 0;         // metres
    double reciprocalFlattening = 0;  // 1/f
    /// Rotations about the Earth-centred X, Y and Z axes, with the signs of the report.
    ReportedBias geocentricRotations[3];
    /// Rotations about the north, east and up axes of the reference point.
    ReportedBias localRotations[3];
    ReportedBias scale;
    /// A-priori rotations about north, east and up (arc seconds) and scale correction (ppm):
    /// printed for the parameters held fixed.
    double aprioriLocalRotations[3] = {};
    double aprioriScale = 0;
    /// A minimally constrained adjustment holds every bias parameter.
    bool minimallyConstrained = false;
    bool localRotationFixed[3] = {};
    bool scaleFixed = false;
};

/// Prints the closing parameter report; leaves the body style in force. The geocentric rotations
/// read "fixed" when all three local rotations are held, yet show their adjusted values; every
/// other parameter held fixed shows its a-priori value.
void printClosingReport(ReportWriter& report, const ClosingReport& closing);

}  // namespace torvek
