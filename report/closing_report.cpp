#include "report/closing_report.h"

namespace torvek {
namespace {

// One row per axis: the line of a held parameter, then that of an adjusted one.
struct AxisLines {
    const char* fixed;
    const char* adjusted;
};

constexpr AxisLines kGeocentricLines[3] = {
    {"  X                      %7.3f    fixed\n", "  X                      %7.3f  %7.3f\n"},
    {"  Y                      %7.3f    fixed\n", "  Y                      %7.3f  %7.3f\n"},
    {"  Z                      %7.3f    fixed\n", "  Z                      %7.3f  %7.3f\n"}};
constexpr AxisLines kLocalLines[3] = {
    {"  Northing               %7.3f    fixed\n", "  Northing               %7.3f  %7.3f\n"},
    {"  Easting                %7.3f    fixed\n", "  Easting                %7.3f  %7.3f\n"},
    {"  Height                 %7.3f    fixed\n", "  Height                 %7.3f  %7.3f\n"}};
constexpr AxisLines kScaleLines = {"Scale correction (ppm)   %7.3f    fixed\n",
                                   "Scale correction (ppm)   %7.3f  %7.3f\n"};

// A held line shows `heldValue`; an adjusted one the estimate and its sigma.
void printParameter(ReportWriter& report, const AxisLines& lines, bool fixed, double heldValue,
                    const ReportedBias& estimate) {
    report.setStyle(style::kIndented);
    if (fixed)
        report.print(lines.fixed, heldValue);
    else
        report.print(lines.adjusted, estimate.value, estimate.sigma);
}

void printScale(ReportWriter& report, const ClosingReport& closing) {
    printParameter(report, kScaleLines, closing.minimallyConstrained || closing.scaleFixed,
                   closing.aprioriScale, closing.scale);
}

void printTableHead(ReportWriter& report, const char* title) {
    report.setStyle(style::kSubheading);
    report.print("%s", title);
    report.setStyle(style::kIndented);
    report.print("Rotation angle (seconds)   Value    Sigma\n");
}

}  // namespace

void printClosingReport(ReportWriter& report, const ClosingReport& closing) {
    report.setStyle(style::kHeading);
    report.print("Reference Ellipsoid Parameters\n");
    report.setStyle(style::kIndented);
    report.print("Equatorial radius (semi-major axis): %11.3f\n", closing.semiMajorAxis);
    report.setStyle(style::kIndented);
    report.print("Reciprocal of flattening: %13.9f\n", closing.reciprocalFlattening);
    report.setStyle(style::kHeading);
    report.print("\n");
    report.print("Adjusted Datum Bias Parameters\n");

    printTableHead(report, "Bias Parameters In Geocentric Cartesian System\n");
    const bool allRotationsFixed = closing.localRotationFixed[0] && closing.localRotationFixed[1] &&
                                   closing.localRotationFixed[2];
    for (int k = 0; k < 3; ++k) {
        const ReportedBias& rotation = closing.geocentricRotations[k];
        printParameter(report, kGeocentricLines[k],
                       closing.minimallyConstrained || allRotationsFixed, rotation.value, rotation);
    }
    printScale(report, closing);

    printTableHead(report, "Bias Parameters In Mapping Plane Horizontal System\n");
    for (int k = 0; k < 3; ++k) {
        printParameter(report, kLocalLines[k],
                       closing.minimallyConstrained || closing.localRotationFixed[k],
                       closing.aprioriLocalRotations[k], closing.localRotations[k]);
    }
    printScale(report, closing);
    report.print("\n");
    report.setStyle(style::kBody);
}

}  // namespace torvek
