#include "front/results_summary.h"

#include <algorithm>
#include <cstdio>

#include "front/text_format.h"
#include "front/unicode_text.h"

namespace torvek::front {
namespace {

// The narrowest site and vector columns: as wide as their headings and four-character names.
constexpr std::size_t kSiteColumn = 4;
constexpr std::size_t kVectorColumn = 9;

std::string vectorName(const VectorResult& v) {
    return v.from + "-" + v.to;
}

}  // namespace

std::string formatResultsSummary(const NetworkResults& r) {
    std::string out = "Results\n";
    if (!r.hasAdjustmentRecord || !r.succeeded) {
        out +=
            "  The adjustment did not succeed: the output data set holds no adjusted "
            "coordinates.\n  The report says why.\n";
        return out;
    }
    append(out, "  %s adjustment, %d iteration%s\n",
           r.minimallyConstrained ? "Minimally constrained" : "Over constrained", r.iterations,
           r.iterations == 1 ? "" : "s");
    append(out, "  Observations %d, unknowns %d, degrees of freedom %d\n", r.observations,
           r.unknowns, r.degreesOfFreedom);
    append(out, "  Chi-square test at %.1f %%: %s (%.3f; limits %.3f to %.3f)\n", r.confidenceLevel,
           r.chiSquarePassed() ? "passed" : "FAILED", r.chiSquare, r.chiSquareLower,
           r.chiSquareUpper);
    append(out, "  Standard error of unit weight: %.3f\n", r.unitWeightStandardError);
    append(out, "  Tau critical value: %.3f\n", r.tauCriticalValue);

    // Full names widen their column to the longest; the names go in outside the formatted
    // parts, whatever their length.
    std::size_t siteWidth = kSiteColumn;
    for (const SiteResult& s : r.sites) {
        siteWidth = std::max(siteWidth, displayWidth(s.name));
    }
    out += "\nAdjusted coordinates (standard deviations in mm)\n";
    out += "  " + padToWidth("Site", siteWidth);
    append(out, "  %-19s  %-20s  %11s  %7s %7s %7s\n", "Latitude", "Longitude", "Elevation", "sN",
           "sE", "sU");
    for (const SiteResult& s : r.sites) {
        out += "  " + padToWidth(s.name, siteWidth);
        if (!s.adjusted) {
            out += "  not adjusted (not in use)\n";
            continue;
        }
        append(out, "  %-19s  %-20s  %11.4f  %7.1f %7.1f %7.1f  %s\n",
               formatSexagesimal(s.adjustedLatitude, "NS", 5).c_str(),
               formatSexagesimal(s.adjustedLongitude, "EW", 5).c_str(), s.adjustedElevation,
               s.sigmaNorth * kMillimetresPerMetre, s.sigmaEast * kMillimetresPerMetre,
               s.sigmaUp * kMillimetresPerMetre, controlDescription(s).c_str());
    }

    append(out, "\nVectors whose normalized residuals exceed the tau critical value %.3f\n",
           r.tauCriticalValue);
    if (r.flaggedCount() == 0) {
        out += "  none\n";
        return out;
    }
    std::size_t vectorWidth = kVectorColumn;
    for (const VectorResult& v : r.vectors) {
        if (v.flagged) {
            vectorWidth = std::max(vectorWidth, displayWidth(vectorName(v)));
        }
    }
    out += "  " + padToWidth("Vector", vectorWidth);
    append(out, "  %6s  %8s %8s %8s   %8s %8s %8s\n", "record", "wN", "wE", "wU", "vN mm", "vE mm",
           "vU mm");
    for (const VectorResult& v : r.vectors) {
        if (!v.flagged) {
            continue;
        }
        out += "  " + padToWidth(vectorName(v), vectorWidth);
        append(out, "  %6d  %8.2f %8.2f %8.2f   %8.1f %8.1f %8.1f\n", v.record, v.normalized[0],
               v.normalized[1], v.normalized[2], v.residual[0] * kMillimetresPerMetre,
               v.residual[1] * kMillimetresPerMetre, v.residual[2] * kMillimetresPerMetre);
    }
    return out;
}

}  // namespace torvek::front
