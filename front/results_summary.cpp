#include "front/results_summary.h"

#include <cstdio>

#include "front/text_format.h"

namespace torvek::front {
namespace {}  // namespace

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

    out += "\nAdjusted coordinates (standard deviations in mm)\n";
    append(out, "  %-4s  %-19s  %-20s  %11s  %7s %7s %7s\n", "Site", "Latitude", "Longitude",
           "Elevation", "sN", "sE", "sU");
    for (const SiteResult& s : r.sites) {
        if (!s.adjusted) {
            append(out, "  %-4s  not adjusted (not in use)\n", s.name.c_str());
            continue;
        }
        append(out, "  %-4s  %-19s  %-20s  %11.4f  %7.1f %7.1f %7.1f  %s\n", s.name.c_str(),
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
    append(out, "  %-9s  %6s  %8s %8s %8s   %8s %8s %8s\n", "Vector", "record", "wN", "wE", "wU",
           "vN mm", "vE mm", "vU mm");
    for (const VectorResult& v : r.vectors) {
        if (!v.flagged) {
            continue;
        }
        const std::string name = v.from + "-" + v.to;
        append(out, "  %-9s  %6d  %8.2f %8.2f %8.2f   %8.1f %8.1f %8.1f\n", name.c_str(), v.record,
               v.normalized[0], v.normalized[1], v.normalized[2],
               v.residual[0] * kMillimetresPerMetre, v.residual[1] * kMillimetresPerMetre,
               v.residual[2] * kMillimetresPerMetre);
    }
    return out;
}

}  // namespace torvek::front
