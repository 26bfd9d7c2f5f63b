#include "front/documents/results_document.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

#include "front/documents/rigorous_tables.h"
#include "front/project/project_json.h"
#include "front/results/result_reading.h"
#include "front/text/text_format.h"

#ifndef TORVEK_VERSION
#define TORVEK_VERSION "unversioned"
#endif

namespace torvek::front {

namespace {

// Decimals shown: seconds of arc to 0.1 mm, decimal degrees to 0.1 mm, metres to 0.1 mm,
// standard deviations and residuals to 0.1 mm, normalized residuals to 0.01.
constexpr int kSecondsDecimals = 5;
constexpr int kConvergenceSecondsDecimals = 2;
constexpr const char* kDegreesFormat = "%.9f";
constexpr const char* kMetresFormat = "%.4f";
constexpr const char* kMillimetresFormat = "%.1f";
constexpr const char* kNormalizedFormat = "%.2f";
constexpr const char* kScaleFactorFormat = "%.9f";
std::string given(const std::string& text) {
    return text.empty() ? kNotStated : text;
}

std::string ellipsoidName(const NetworkResults& r) {
    const std::string numbers =
        formatText("a = %.3f m, 1/f = %.9f", r.semiMajorAxis, r.inverseFlattening);
    for (const NamedEllipsoid& e : namedEllipsoids()) {
        if (r.semiMajorAxis == e.semiMajorAxis && r.inverseFlattening == e.inverseFlattening) {
            return std::string(e.name) + " (" + numbers + ")";
        }
    }
    return numbers;
}

std::string outcomeLine(const NetworkResults& r) {
    if (!r.hasAdjustmentRecord || !r.succeeded) {
        return "the adjustment did not succeed";
    }
    const ChiSquareOutcome outcome = chiSquareOutcome(r);
    std::string text = std::string("adjusted; chi-square test ") +
                       (chiSquareTestPassed(outcome) ? "passed" : "failed") + " (" +
                       chiSquareVerdict(outcome) + ")";
    const int flagged = r.flaggedCount();
    text += flagged == 0 ? "; no vector above the tau critical value"
                         : formatText("; %d vector%s above the tau critical value", flagged,
                                      flagged == 1 ? "" : "s");
    return text;
}

ResultTable statisticsTable(const NetworkResults& r) {
    ResultTable t;
    t.id = "statistics";
    t.title = "Outcome and statistics";
    t.columns = {leftColumn("Quantity"), rightColumn("Value")};
    auto row = [&](const std::string& name, const std::string& value) {
        t.rows.push_back({{name, value}});
    };
    row("Adjustment", r.succeeded ? "succeeded" : "did not succeed");
    const ChiSquareOutcome outcome = chiSquareOutcome(r);
    if (r.succeeded) {
        row("Type", r.minimallyConstrained ? "minimally constrained" : "over constrained");
        row("Iterations", std::to_string(r.iterations));
        row("Observations", std::to_string(r.observations));
        row("Unknowns", std::to_string(r.unknowns));
        row("Degrees of freedom", std::to_string(r.degreesOfFreedom));
        row("Confidence level", formatText("%.1f %%", r.confidenceLevel));
        const bool passed = chiSquareTestPassed(outcome);
        t.rows.push_back({{"Chi-square test", std::string(passed ? "passed" : "failed") + ": " +
                                                  chiSquareVerdict(outcome)},
                          passed ? RowStyle::kPassed : RowStyle::kFailed});
        row("Chi-square", numberCell("%.3f", r.chiSquare));
        row("Limits",
            numberCell("%.3f", r.chiSquareLower) + " to " + numberCell("%.3f", r.chiSquareUpper));
        row("Standard error of unit weight", numberCell("%.3f", r.unitWeightStandardError));
        row("Tau critical value", numberCell("%.3f", r.tauCriticalValue));
        row("Vectors above tau", std::to_string(r.flaggedCount()));
        row("Vectors left out", std::to_string(excludedVectors(r).size()));
    }
    t.notes.push_back(chiSquareReading(outcome));
    return t;
}

// The row of one site that the run adjusted, from its results and coordinates.
using SiteRow = std::function<TableRow(const SiteResult&, const SiteCoordinates&)>;

// Fills `table` (its heading and columns already set) with one row per site of the view, in the
// results' order: `row` for a site that was adjusted, a muted row saying so for one that was not.
ResultTable siteTable(const ResultsView& v, ResultTable table, const SiteRow& row) {
    const NetworkResults& r = v.results;
    for (std::size_t i = 0; i < r.sites.size(); ++i) {
        const SiteResult& s = r.sites[i];
        const SiteCoordinates& c = v.coordinates[i];
        if (!c.available) {
            table.rows.push_back({{s.name, "not adjusted (not in use)"}, RowStyle::kMuted});
            continue;
        }
        table.rows.push_back(row(s, c));
    }
    return table;
}

ResultTable geodeticTable(const ResultsView& v) {
    const NetworkResults& r = v.results;
    ResultTable t;
    t.id = "geodetic";
    t.title = "Geodetic coordinates";
    t.introduction = "Adjusted latitudes and longitudes on the " + ellipsoidName(r) +
                     " ellipsoid; h is the height above the ellipsoid, N the geoid height and "
                     "H = h - N the height above the geoid.";
    t.columns = {leftColumn("Site"),
                 rightColumn("Latitude"),
                 rightColumn("Longitude"),
                 rightColumn("Latitude (deg)"),
                 rightColumn("Longitude (deg)"),
                 rightColumn("h (m)"),
                 rightColumn("N (m)"),
                 rightColumn("H (m)"),
                 leftColumn("Control")};
    t = siteTable(v, std::move(t), [](const SiteResult& s, const SiteCoordinates& c) -> TableRow {
        return {{s.name, formatSexagesimal(s.adjustedLatitude, "NS", kSecondsDecimals),
                 formatSexagesimal(s.adjustedLongitude, "EW", kSecondsDecimals),
                 numberCell(kDegreesFormat, s.adjustedLatitude),
                 numberCell(kDegreesFormat, s.adjustedLongitude),
                 numberCell(kMetresFormat, c.ellipsoidalHeight),
                 c.geoidHeight != 0.0 ? numberCell(kMetresFormat, c.geoidHeight) : kMissingCell,
                 numberCell(kMetresFormat, c.orthometricHeight), controlDescription(s)}};
    });
    if (!hasGeoidHeights(r)) {
        t.notes.push_back(
            "The project gives no geoid heights: h and H are the same numbers, the heights as "
            "the project gave them.");
    }
    return t;
}

// An ellipse whose semi-axes agree to the 0.1 mm shown is a circle: it has no direction.
bool circular(const SiteCoordinates& c) {
    constexpr double kShownMetres = 0.00005;
    return c.ellipseSemiMajor - c.ellipseSemiMinor < kShownMetres;
}

ResultTable precisionTable(const ResultsView& v) {
    const NetworkResults& r = v.results;
    ResultTable t;
    t.id = "precision";
    t.title = "Standard deviations and confidence ellipses";
    t.introduction = formatText(
        "Standard deviations as the run stores them (scaled by the standard error of unit "
        "weight). The horizontal confidence ellipses hold %.1f %% (semi-axes %.3f times the "
        "standard deviations); the data set keeps no north-east correlation, so their axes point "
        "north and east.",
        r.confidenceLevel, horizontalConfidenceFactor(r.confidenceLevel));
    t.columns = sitePrecisionColumns();
    t.columns.push_back(rightColumn("Azimuth of semi-major (deg)"));
    return siteTable(
        v, std::move(t), [](const SiteResult& s, const SiteCoordinates& c) -> TableRow {
            return {{s.name, millimetresCell(s.sigmaNorth), millimetresCell(s.sigmaEast),
                     millimetresCell(s.sigmaUp), millimetresCell(c.ellipseSemiMajor),
                     millimetresCell(c.ellipseSemiMinor),
                     circular(c) ? kMissingCell : numberCell("%.0f", c.ellipseAzimuth)}};
        });
}

ResultTable geocentricTable(const ResultsView& v) {
    const NetworkResults& r = v.results;
    ResultTable t;
    t.id = "geocentric";
    t.title = "Geocentric coordinates";
    t.introduction = "Earth-centred Cartesian coordinates on the " + ellipsoidName(r) +
                     " ellipsoid, from the adjusted latitude, longitude and height h, with their "
                     "standard deviations.";
    t.columns = {leftColumn("Site"),    rightColumn("X (m)"),   rightColumn("Y (m)"),
                 rightColumn("Z (m)"),  rightColumn("sX (mm)"), rightColumn("sY (mm)"),
                 rightColumn("sZ (mm)")};
    return siteTable(
        v, std::move(t), [](const SiteResult& s, const SiteCoordinates& c) -> TableRow {
            return {{s.name, numberCell(kMetresFormat, c.geocentric[0]),
                     numberCell(kMetresFormat, c.geocentric[1]),
                     numberCell(kMetresFormat, c.geocentric[2]),
                     millimetresCell(c.geocentricSigmas[0]), millimetresCell(c.geocentricSigmas[1]),
                     millimetresCell(c.geocentricSigmas[2])}};
        });
}

std::string gridIntroduction(const GridSystemDescription& g) {
    std::string text = "Projected by " + g.library + " into " +
                       (g.code.empty() ? std::string() : g.code + ", ") + g.name + ".";
    if (g.chosenZone) {
        text += " The UTM zone is the one of the network's middle.";
    }
    text += " " + transformationStatement(g);
    text +=
        " The scale factor and the convergence (the angle from true north to grid north, "
        "clockwise; a grid bearing is the azimuth minus it) belong to each point; H is the "
        "height above the geoid.";
    return text;
}

ResultTable gridTable(const ResultsView& v) {
    const GridSystemDescription& g = v.grid;
    ResultTable t;
    t.id = "grid";
    t.title = "Grid coordinates, " + (g.code.empty() ? g.name : g.code);
    t.introduction = gridIntroduction(g);
    t.columns = {
        leftColumn("Site"),   rightColumn(g.eastAxis + " (m)"), rightColumn(g.northAxis + " (m)"),
        rightColumn("H (m)"), rightColumn("Scale factor"),      rightColumn("Convergence (d m s)")};
    return siteTable(
        v, std::move(t), [](const SiteResult& s, const SiteCoordinates& c) -> TableRow {
            if (!c.grid.valid) {
                return {{s.name, "outside what the grid system can show"}, RowStyle::kMuted};
            }
            return {{s.name, numberCell(kMetresFormat, c.grid.easting),
                     numberCell(kMetresFormat, c.grid.northing),
                     numberCell(kMetresFormat, c.orthometricHeight),
                     numberCell(kScaleFactorFormat, c.grid.scaleFactor),
                     formatSignedAngle(c.grid.convergence, kConvergenceSecondsDecimals)}};
        });
}

std::string signedNormalized(double value) {
    return numberCell("%+.2f", value);
}

ResultTable residualTable(const NetworkResults& r, const DocumentScope& scope) {
    ResultTable t;
    t.id = "residuals";
    t.title = "Residuals by normalized residual";
    t.introduction = formatText(
        "Every vector of the adjustment, largest normalized residual first. Residuals are "
        "adjusted minus measured, along north, east and up of the reference point; a normalized "
        "residual w is the residual divided by its a-priori standard deviation. Rows above the "
        "tau critical value %.3f are marked.",
        r.tauCriticalValue);
    t.columns = {leftColumn("From"),        leftColumn("To"),         rightColumn("Record"),
                 rightColumn("Length (m)"), rightColumn("vN (mm)"),   rightColumn("vE (mm)"),
                 rightColumn("vU (mm)"),    rightColumn("wN"),        rightColumn("wE"),
                 rightColumn("wU"),         rightColumn("Largest w"), leftColumn("Test")};
    const std::vector<std::size_t> order = vectorsByNormalizedResidual(r);
    const std::size_t shown =
        std::min(order.size(), scope.rowsShown(static_cast<std::size_t>(r.flaggedCount())));
    for (std::size_t k = 0; k < shown; ++k) {
        const VectorResult& vr = r.vectors[order[k]];
        t.rows.push_back(
            {{vr.from, vr.to, std::to_string(vr.record), numberCell("%.3f", vr.length),
              millimetresCell(vr.residual[0]), millimetresCell(vr.residual[1]),
              millimetresCell(vr.residual[2]), numberCell(kNormalizedFormat, vr.normalized[0]),
              numberCell(kNormalizedFormat, vr.normalized[1]),
              numberCell(kNormalizedFormat, vr.normalized[2]),
              signedNormalized(vr.signedLargestNormalized), vr.flagged ? "above tau" : ""},
             vr.flagged ? RowStyle::kFlagged : RowStyle::kNormal});
    }
    if (t.rows.empty()) {
        t.notes.push_back("No vector was adjusted.");
    }
    keepWorstRows(t, shown, order.size());
    return t;
}

ResultTable excludedTable(const NetworkResults& r, const DocumentScope& scope) {
    ResultTable t;
    t.id = "excluded";
    t.title = "Vectors left out";
    t.introduction =
        "Vectors that took no part in the adjustment (switched off, or cut off by the "
        "connectivity test), with their misfit against the adjusted positions of their sites: "
        "what their residuals would be, computed the same way, so that they can be compared with "
        "the tau critical value before a vector goes back in.";
    t.columns = {leftColumn("From"),
                 leftColumn("To"),
                 rightColumn("Record"),
                 rightColumn("Length (m)"),
                 rightColumn("Misfit N (mm)"),
                 rightColumn("Misfit E (mm)"),
                 rightColumn("Misfit U (mm)"),
                 rightColumn("wN"),
                 rightColumn("wE"),
                 rightColumn("wU")};
    const std::vector<std::size_t> excluded = excludedVectors(r);
    const std::size_t shown = std::min(excluded.size(), scope.rowsShown(0));
    for (std::size_t k = 0; k < shown; ++k) {
        const VectorResult& vr = r.vectors[excluded[k]];
        if (!vr.hasMisfit) {
            t.rows.push_back({{vr.from, vr.to, std::to_string(vr.record),
                               numberCell("%.3f", vr.length), "no misfit: a site was not adjusted"},
                              RowStyle::kMuted});
            continue;
        }
        t.rows.push_back(
            {{vr.from, vr.to, std::to_string(vr.record), numberCell("%.3f", vr.length),
              millimetresCell(vr.misfit[0]), millimetresCell(vr.misfit[1]),
              millimetresCell(vr.misfit[2]), numberCell(kNormalizedFormat, vr.normalizedMisfit[0]),
              numberCell(kNormalizedFormat, vr.normalizedMisfit[1]),
              numberCell(kNormalizedFormat, vr.normalizedMisfit[2])},
             RowStyle::kMuted});
    }
    if (t.rows.empty()) {
        t.notes.push_back("Every vector took part in the adjustment.");
    }
    keepWorstRows(t, shown, excluded.size());
    return t;
}

}  // namespace

std::string softwareVersion() {
    return std::string("torvek-front ") + TORVEK_VERSION;
}

std::string formatSignedAngle(double degrees, int decimals) {
    if (!std::isfinite(degrees)) {
        return kMissingCell;
    }
    // The hemisphere letter of formatSexagesimal stands for the sign here.
    std::string text = formatSexagesimal(std::fabs(degrees), "+-", decimals);
    text.resize(text.size() - 2);
    const bool zero = text.find_first_not_of("0 .") == std::string::npos;
    return (degrees < 0 && !zero ? "-" : "") + text;
}

DocumentHeader readDocumentHeader(const Json& project) {
    DocumentHeader header;
    if (!project.is_object()) {
        return header;
    }
    const std::pair<const char*, std::string*> fields[] = {{"title", &header.project},
                                                           {"client", &header.client},
                                                           {"surveyor", &header.surveyor},
                                                           {"datum", &header.datum},
                                                           {"epoch", &header.epoch}};
    for (const auto& [key, text] : fields) {
        const auto found = project.find(key);
        if (found != project.end() && found->is_string()) {
            *text = found->get<std::string>();
        }
    }
    return header;
}

ResultsView makeResultsView(NetworkResults results, DocumentHeader header, const GridSystem* grid,
                            PlotOptions plot) {
    ResultsView view;
    const bool withGrid = grid != nullptr && grid->isOpen();
    view.coordinates = siteCoordinates(results, withGrid ? grid : nullptr);
    view.results = std::move(results);
    view.header = std::move(header);
    view.hasGrid = withGrid;
    if (withGrid) {
        view.grid = grid->description();
    }
    view.plot = plot;
    return view;
}

ResultsDocument buildResultsDocument(const std::string& title, const ResultsView& v) {
    const NetworkResults& r = v.results;
    ResultsDocument d;
    d.title = title;
    d.header = {{"Project", given(v.header.project.empty() ? r.title : v.header.project)},
                {"Client", given(v.header.client)},
                {"Surveyor", given(v.header.surveyor)},
                {"Datum", given(v.header.datum)},
                {"Epoch", given(v.header.epoch)},
                {"Ellipsoid", ellipsoidName(r)}};
    if (v.hasGrid) {
        d.header.emplace_back("Grid system",
                              (v.grid.code.empty() ? "" : v.grid.code + ", ") + v.grid.name);
    }
    // A pre-analysis observed nothing: it has no chi-square test and no residuals to show.
    const bool preanalysis = v.rigorous && v.rigorous->preanalysis;
    d.header.emplace_back("Outcome", preanalysis && r.succeeded
                                         ? "pre-analysis of planned vectors (no observations; "
                                           "precisions at the a-priori sigma0)"
                                         : outcomeLine(r));
    d.header.emplace_back("Software", softwareVersion() + " with torvek" +
                                          (v.hasGrid ? ", " + v.grid.library : std::string()));
    const DocumentScope scope = documentScope(r);
    if (!scope.whole) {
        d.header.emplace_back(
            "Tables",
            formatText("a large network (%zu sites, %zu vectors): the statistics, the coordinates, "
                       "the flagged observations and the largest residuals; every row is in the "
                       "CSV export, the GeoJSON and KML files and the statistics file",
                       scope.sites, scope.vectors));
    }
    if (!preanalysis) {
        d.tables.push_back(statisticsTable(r));
    }
    if (!r.succeeded) {
        return d;
    }
    d.tables.push_back(geodeticTable(v));
    if (scope.whole) {
        d.tables.push_back(precisionTable(v));
        d.tables.push_back(geocentricTable(v));
    }
    if (v.hasGrid) {
        d.tables.push_back(gridTable(v));
    }
    if (!preanalysis) {
        d.tables.push_back(residualTable(r, scope));
    }
    d.tables.push_back(excludedTable(r, scope));
    if (v.rigorous) {
        for (ResultTable& t : rigorousTables(*v.rigorous, scope)) {
            d.tables.push_back(std::move(t));
        }
    }
    return d;
}

std::size_t DocumentScope::rowsShown(std::size_t flagged) const {
    return whole ? std::numeric_limits<std::size_t>::max()
                 : std::max(kWorstRowsShown, std::min(flagged, kMostFlaggedRowsShown));
}

DocumentScope documentScope(const NetworkResults& results) {
    DocumentScope scope;
    scope.sites = results.sites.size();
    scope.vectors = results.vectors.size();
    scope.whole = scope.sites <= kWholeDocumentSites && scope.vectors <= kWholeDocumentVectors;
    return scope;
}

void keepWorstRows(ResultTable& table, std::size_t shown, std::size_t total, const char* kept) {
    if (table.rows.size() > shown) {
        table.rows.resize(shown);
    }
    if (shown < total) {
        table.notes.push_back(formatText(
            "The %zu %s of %zu rows; every row is in the CSV export, the GeoJSON and KML files "
            "and the statistics file.",
            shown, kept, total));
    }
}

std::vector<TableColumn> sitePrecisionColumns() {
    return {leftColumn("Site"),     rightColumn("sN (mm)"),         rightColumn("sE (mm)"),
            rightColumn("sU (mm)"), rightColumn("Semi-major (mm)"), rightColumn("Semi-minor (mm)")};
}

TableColumn leftColumn(const std::string& heading) {
    return {heading, CellAlignment::kLeft};
}

TableColumn rightColumn(const std::string& heading) {
    return {heading, CellAlignment::kRight};
}

std::string numberCell(const char* format, double value) {
    return std::isfinite(value) ? formatNumber(format, value) : kMissingCell;
}

std::string millimetresCell(double metres) {
    return numberCell(kMillimetresFormat, metres * kMillimetresPerMetre);
}

}  // namespace torvek::front
