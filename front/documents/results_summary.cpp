#include "front/documents/results_summary.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "front/results/result_reading.h"
#include "front/text/text_format.h"
#include "front/text/unicode_text.h"

namespace torvek::front {
namespace {

// The narrowest site and vector columns: as wide as their headings and four-character names.
constexpr std::size_t kSiteColumn = 4;
constexpr std::size_t kVectorColumn = 9;

std::string vectorName(const VectorResult& v) {
    return v.from + "-" + v.to;
}

constexpr std::size_t kSummaryWidth = 96;
constexpr int kConvergenceDecimals = 2;

// The width of a name column: its heading's, widened to the longest of `names` (in columns of
// the terminal, so that names of any length and script keep the numbers after them in line).
template <typename Names>
std::size_t columnWidth(std::size_t narrowest, const Names& names) {
    std::size_t width = narrowest;
    for (const std::string& name : names) {
        width = std::max(width, displayWidth(name));
    }
    return width;
}

std::vector<std::string> siteNames(const NetworkResults& r) {
    std::vector<std::string> names;
    for (const SiteResult& s : r.sites) {
        names.push_back(s.name);
    }
    return names;
}

void appendGrid(std::string& out, const ResultsView& v) {
    const GridSystemDescription& g = v.grid;
    append(out, "\nGrid coordinates in %s%s%s%s\n", g.code.c_str(), g.code.empty() ? "" : ", ",
           g.name.c_str(), g.chosenZone ? " (the UTM zone of the network's middle)" : "");
    out += wrapText(transformationStatement(g), "  ", kSummaryWidth);
    const std::size_t siteWidth = columnWidth(kSiteColumn, siteNames(v.results));
    out += "  " + padToWidth("Site", siteWidth);
    append(out, "  %14s  %14s  %11s  %12s  %14s\n", g.eastAxis.c_str(), g.northAxis.c_str(), "H",
           "scale factor", "convergence");
    for (std::size_t i = 0; i < v.results.sites.size(); ++i) {
        const SiteResult& s = v.results.sites[i];
        const SiteCoordinates& c = v.coordinates[i];
        out += "  " + padToWidth(s.name, siteWidth);
        if (!c.available || !c.grid.valid) {
            append(out, "  %s\n",
                   c.available ? "outside what the grid system can show" : "not adjusted");
            continue;
        }
        append(out, "  %14.4f  %14.4f  %11.4f  %12.9f  %14s\n", c.grid.easting, c.grid.northing,
               c.orthometricHeight, c.grid.scaleFactor,
               formatSignedAngle(c.grid.convergence, kConvergenceDecimals).c_str());
    }
}

void appendExcluded(std::string& out, const NetworkResults& r) {
    const std::vector<std::size_t> excluded = excludedVectors(r);
    if (excluded.empty()) {
        return;
    }
    out +=
        "\nVectors left out of the adjustment, with their misfits against the adjusted "
        "positions\n";
    std::vector<std::string> names;
    for (std::size_t i : excluded) {
        names.push_back(vectorName(r.vectors[i]));
    }
    const std::size_t vectorWidth = columnWidth(kVectorColumn, names);
    out += "  " + padToWidth("Vector", vectorWidth);
    append(out, "  %6s  %8s %8s %8s   %8s %8s %8s\n", "record", "wN", "wE", "wU", "vN mm", "vE mm",
           "vU mm");
    for (std::size_t i : excluded) {
        const VectorResult& v = r.vectors[i];
        out += "  " + padToWidth(vectorName(v), vectorWidth);
        if (!v.hasMisfit) {
            append(out, "  %6d  no misfit: a site was not adjusted\n", v.record);
            continue;
        }
        append(out, "  %6d  %8.2f %8.2f %8.2f   %8.1f %8.1f %8.1f\n", v.record,
               v.normalizedMisfit[0], v.normalizedMisfit[1], v.normalizedMisfit[2],
               v.misfit[0] * kMillimetresPerMetre, v.misfit[1] * kMillimetresPerMetre,
               v.misfit[2] * kMillimetresPerMetre);
    }
}

void appendStatistics(std::string& out, const NetworkResults& r) {
    append(out, "  %s adjustment, %d iteration%s\n",
           r.minimallyConstrained ? "Minimally constrained" : "Over constrained", r.iterations,
           r.iterations == 1 ? "" : "s");
    append(out, "  Observations %d, unknowns %d, degrees of freedom %d\n", r.observations,
           r.unknowns, r.degreesOfFreedom);
    const ChiSquareOutcome outcome = chiSquareOutcome(r);
    const std::string verdict = chiSquareTestPassed(outcome)
                                    ? std::string("passed")
                                    : std::string("FAILED, ") + chiSquareVerdict(outcome);
    append(out, "  Chi-square test at %.1f %%: %s (%.3f; limits %.3f to %.3f)\n", r.confidenceLevel,
           verdict.c_str(), r.chiSquare, r.chiSquareLower, r.chiSquareUpper);
    out += wrapText(chiSquareReading(outcome), "    ", kSummaryWidth);
    append(out, "  Standard error of unit weight: %.3f\n", r.unitWeightStandardError);
    append(out, "  Tau critical value: %.3f\n", r.tauCriticalValue);
}

void appendCoordinates(std::string& out, const NetworkResults& r) {
    // Full names widen their column to the longest; the names go in outside the formatted
    // parts, whatever their length.
    const std::size_t siteWidth = columnWidth(kSiteColumn, siteNames(r));
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
}

void appendFlagged(std::string& out, const NetworkResults& r) {
    append(out,
           "\nVectors whose normalized residuals exceed the tau critical value %.3f, largest "
           "first\n",
           r.tauCriticalValue);
    if (r.flaggedCount() == 0) {
        out += "  none\n";
        return;
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
    for (std::size_t i : vectorsByNormalizedResidual(r)) {
        const VectorResult& v = r.vectors[i];
        if (!v.flagged) {
            continue;
        }
        out += "  " + padToWidth(vectorName(v), vectorWidth);
        // "  %6d  %8.2f %8.2f %8.2f   %8.1f %8.1f %8.1f\n", number by number: a large network
        // lists thousands of rows.
        const std::string record = std::to_string(v.record);
        out.append(2 + (record.size() < 6 ? 6 - record.size() : 0), ' ');
        out += record;
        for (int k = 0; k < 3; ++k) {
            out += k == 0 ? "  " : " ";
            appendFixedWidth(out, v.normalized[k], 8, 2);
        }
        for (int k = 0; k < 3; ++k) {
            out += k == 0 ? "   " : " ";
            appendFixedWidth(out, v.residual[k] * kMillimetresPerMetre, 8, 1);
        }
        out += '\n';
    }
}

}  // namespace

std::string wrapText(const std::string& text, const std::string& indent, std::size_t width) {
    std::string out, line;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string word = text.substr(start, end - start);
        start = end + 1;
        if (word.empty()) {
            continue;
        }
        if (!line.empty() && indent.size() + line.size() + 1 + word.size() > width) {
            out += indent + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty()) {
        out += indent + line + "\n";
    }
    return out;
}

std::string formatResultsSummary(const NetworkResults& results) {
    return formatResultsSummary(makeResultsView(results, DocumentHeader{}, nullptr));
}

std::string formatResultsSummary(const ResultsView& view) {
    const NetworkResults& r = view.results;
    std::string out = "Results\n";
    if (!r.hasAdjustmentRecord || !r.succeeded) {
        out +=
            "  The adjustment did not succeed: the output data set holds no adjusted "
            "coordinates.\n  The report says why.\n";
        return out;
    }
    // A pre-analysis observed nothing: no chi-square, residuals or outliers to read.
    const bool preanalysis = view.rigorous && view.rigorous->preanalysis;
    if (preanalysis) {
        out += formatText(
            "  Pre-analysis of planned vectors: no observed value was used; the standard "
            "deviations\n  are at the a-priori sigma0 of %.4f. There are no residuals, no "
            "chi-square test and no\n  outliers; the redundancy numbers and MDBs are in the "
            "statistics file.\n",
            view.rigorous->sigma0Apriori);
    } else {
        appendStatistics(out, r);
    }
    appendCoordinates(out, r);
    if (view.hasGrid) {
        appendGrid(out, view);
    }
    if (!preanalysis) {
        appendFlagged(out, r);
    }
    appendExcluded(out, r);
    return out;
}

}  // namespace torvek::front
