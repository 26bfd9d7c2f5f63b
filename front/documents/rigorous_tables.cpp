#include "front/documents/rigorous_tables.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <tuple>

#include "front/text/text_format.h"

namespace torvek::front {
namespace {

// Decimals shown: metres and millimetres to 0.1 mm, test quantities to 0.01, redundancy numbers
// to 0.001, azimuths of vectors to 0.1 mm at 20 km (1e-4 degrees is 35 mm there: 1e-6 degrees).
constexpr const char* kMetresFormat = "%.4f";
constexpr const char* kTestFormat = "%.2f";
constexpr const char* kRedundancyFormat = "%.3f";
constexpr const char* kVectorAzimuthFormat = "%.6f";
constexpr const char* kEllipseAzimuthFormat = "%.0f";

std::string percent(double probability) {
    return formatText("%.1f %%", probability * 100.0);
}

// What the ellipses and relative precisions are scaled by, in words, with its value.
std::string scaleWords(const RigorousStatistics& s) {
    return s.scaledBy == "aposteriori"
               ? formatText("the a-posteriori sigma0 (%.4f)", s.sigma0Aposteriori)
               : formatText("the a-priori sigma0 (%.4f)", s.sigma0Apriori);
}

std::string testWords(const RigorousStatistics& s) {
    return formatText("alpha0 = %g, power = %g (delta0 = %.3f), critical studentized value %.3f",
                      s.alpha0, s.power, s.delta0, s.studentizedCritical);
}

ResultTable modelTable(const RigorousStatistics& s) {
    ResultTable t;
    t.id = "rigorous-statistics";
    t.title = "Rigorous model: statistics";
    t.introduction =
        "Full 3x3 covariances per vector; ellipses and relative precisions are "
        "scaled by " +
        scaleWords(s) + " at " + percent(s.confidence) + " confidence; tests with " + testWords(s) +
        ".";
    t.columns = {leftColumn("Quantity"), rightColumn("Value")};
    auto row = [&](const std::string& name, const std::string& value) {
        t.rows.push_back({{name, value}});
    };
    row("Degrees of freedom", std::to_string(s.degreesOfFreedom));
    row("Sigma0 a priori", numberCell("%.4f", s.sigma0Apriori));
    row("Sigma0 a posteriori", numberCell("%.4f", s.sigma0Aposteriori));
    t.rows.push_back({{"Chi-square test", s.chiSquarePassed ? "passed" : "failed"},
                      s.chiSquarePassed ? RowStyle::kPassed : RowStyle::kFailed});
    row("Chi-square", numberCell("%.3f", s.chiSquare));
    row("Limits",
        numberCell("%.3f", s.chiSquareLower) + " to " + numberCell("%.3f", s.chiSquareUpper));
    row("Ellipses scaled by",
        s.scaledBy == "aposteriori" ? "a-posteriori sigma0" : "a-priori sigma0");
    row("Confidence level", percent(s.confidence));
    row("Critical studentized residual", numberCell("%.3f", s.studentizedCritical));
    row("Significance level alpha0", numberCell("%g", s.alpha0));
    row("Power of the test", numberCell("%g", s.power));
    row("Non-centrality delta0", numberCell("%.3f", s.delta0));
    return t;
}

std::string axisName(char axis);

// A pre-analysis: what it is, and the statistics that do not depend on observations.
ResultTable preanalysisTable(const RigorousStatistics& s) {
    ResultTable t;
    t.id = "rigorous-statistics";
    t.title = "Pre-analysis of planned vectors: statistics";
    t.introduction =
        "A pre-analysis: no observed value was used, so there are no residuals, no chi-square "
        "test and no outliers. Precisions, redundancy numbers and minimal detectable biases "
        "depend only on the geometry and the weights; they are given at the a-priori sigma0 of " +
        numberCell("%.4f", s.sigma0Apriori) + " and " + percent(s.confidence) + " confidence.";
    t.columns = {leftColumn("Quantity"), rightColumn("Value")};
    auto row = [&](const std::string& name, const std::string& value) {
        t.rows.push_back({{name, value}});
    };
    row("Degrees of freedom", std::to_string(s.degreesOfFreedom));
    row("Sigma0 (a priori, used)", numberCell("%.4f", s.sigma0Apriori));
    row("Confidence level", percent(s.confidence));
    row("Significance level alpha0", numberCell("%g", s.alpha0));
    row("Power of the test", numberCell("%g", s.power));
    row("Non-centrality delta0", numberCell("%.3f", s.delta0));
    return t;
}

// The reliability of every planned component in record order: redundancy number and MDB.
ResultTable reliabilityTable(const RigorousStatistics& s) {
    ResultTable t;
    t.id = "rigorous-tests";
    t.title = "Pre-analysis: reliability of the planned vectors";
    t.introduction =
        "r the redundancy number (0 to 1; near 0 an error goes unseen); MDB the "
        "minimal detectable bias with " +
        testWords(s) + ".";
    t.columns = {leftColumn("From"),      leftColumn("To"), rightColumn("Record"),
                 leftColumn("Component"), rightColumn("r"), rightColumn("MDB (mm)")};
    for (const RigorousVector& v : s.vectors) {
        if (!v.inUse) {
            continue;
        }
        for (const ComponentTest& c : v.components) {
            t.rows.push_back(
                {{v.from, v.to, std::to_string(v.record), axisName(c.axis),
                  numberCell(kRedundancyFormat, c.redundancy), millimetresCell(c.mdb)}});
        }
    }
    if (t.rows.empty()) {
        t.notes.push_back("No vector was planned.");
    }
    return t;
}

// An ellipse whose semi-axes agree to the 0.1 mm shown is a circle: it has no direction.
bool circular(const OrientedEllipse& e) {
    constexpr double kShownMetres = 0.00005;
    return e.semiMajor - e.semiMinor < kShownMetres;
}

ResultTable siteTable(const RigorousStatistics& s) {
    ResultTable t;
    t.id = "rigorous-ellipses";
    t.title = "Rigorous model: site precisions and oriented ellipses";
    t.introduction = "Scaled by " + scaleWords(s) + "; " + percent(s.confidence) +
                     " confidence ellipses, azimuth of the semi-major axis from north, "
                     "clockwise; sN, sE, sU and the height sigma are one standard deviation.";
    t.columns = sitePrecisionColumns();
    t.columns.push_back(rightColumn("Azimuth (deg)"));
    t.columns.push_back(rightColumn("Height sigma (mm)"));
    // The covariances are at the a-priori sigma0; the standard deviations shown take the scale
    // of the ellipses so that the columns of a row agree.
    const double scale = s.scaledBy == "aposteriori" && s.sigma0Apriori > 0
                             ? s.sigma0Aposteriori / s.sigma0Apriori
                             : 1.0;
    for (const RigorousSite& site : s.sites) {
        if (!site.adjusted) {
            t.rows.push_back({{site.name, "not adjusted"}, RowStyle::kMuted});
            continue;
        }
        std::vector<std::string> cells{site.name};
        for (int i = 0; i < 3; ++i) {
            cells.push_back(millimetresCell(scale * std::sqrt(site.covarianceNEU[i][i])));
        }
        cells.push_back(millimetresCell(site.ellipse.semiMajor));
        cells.push_back(millimetresCell(site.ellipse.semiMinor));
        cells.push_back(circular(site.ellipse)
                            ? kMissingCell
                            : numberCell(kEllipseAzimuthFormat, site.ellipse.azimuth));
        cells.push_back(millimetresCell(site.heightSigma));
        t.rows.push_back({cells});
    }
    return t;
}

std::string axisName(char axis) {
    return std::string(1, static_cast<char>(axis - 'a' + 'A'));
}

ResultTable vectorTable(const RigorousStatistics& s) {
    ResultTable t;
    t.id = "rigorous-vectors";
    t.title = "Rigorous model: adjusted vectors";
    t.introduction =
        "Earth-centred components; residual v = adjusted - observed, its sigma one "
        "standard deviation; length, azimuth (from north, clockwise) and height "
        "difference of the adjusted vector.";
    t.columns = {leftColumn("From"),          leftColumn("To"),
                 rightColumn("Record"),       leftColumn("Component"),
                 rightColumn("Observed (m)"), rightColumn("Adjusted (m)"),
                 rightColumn("v (mm)"),       rightColumn("Sigma v (mm)"),
                 rightColumn("Length (m)"),   rightColumn("Azimuth (deg)"),
                 rightColumn("dh (m)")};
    for (const RigorousVector& v : s.vectors) {
        for (int i = 0; i < 3; ++i) {
            const ComponentTest& c = v.components[static_cast<std::size_t>(i)];
            const bool first = i == 0;
            TableRow row{{first ? v.from : "", first ? v.to : "",
                          first ? std::to_string(v.record) : "", axisName(c.axis),
                          numberCell(kMetresFormat, c.observed)}};
            if (!v.inUse) {
                row.cells.push_back(first ? "not in use" : "");
                row.style = RowStyle::kMuted;
                t.rows.push_back(row);
                continue;
            }
            for (const std::string& cell :
                 {numberCell(kMetresFormat, c.adjusted), millimetresCell(c.residual),
                  millimetresCell(c.residualSigma),
                  first ? numberCell(kMetresFormat, v.length) : std::string(),
                  first ? numberCell(kVectorAzimuthFormat, v.azimuth) : std::string(),
                  first ? numberCell(kMetresFormat, v.heightDifference) : std::string()}) {
                row.cells.push_back(cell);
            }
            t.rows.push_back(row);
        }
    }
    return t;
}

ResultTable testTable(const RigorousStatistics& s, const DocumentScope& scope) {
    ResultTable t;
    t.id = "rigorous-tests";
    t.title = "Rigorous model: observation tests";
    t.introduction =
        "Largest |studentized residual| first; v = adjusted - observed; r the "
        "redundancy number; " +
        testWords(s) + "; MDB the minimal detectable bias.";
    t.columns = {leftColumn("From"),          leftColumn("To"),           rightColumn("Record"),
                 leftColumn("Component"),     rightColumn("v (mm)"),      rightColumn("r"),
                 rightColumn("Standardized"), rightColumn("Studentized"), rightColumn("MDB (mm)"),
                 leftColumn("Test")};
    const std::vector<std::pair<std::size_t, int>> order = componentsByStudentized(s);
    const std::size_t outliers =
        static_cast<std::size_t>(std::count_if(order.begin(), order.end(), [&](const auto& p) {
            return s.vectors[p.first].components[static_cast<std::size_t>(p.second)].outlier;
        }));
    const std::size_t shown = std::min(order.size(), scope.rowsShown(outliers));
    for (std::size_t k = 0; k < shown; ++k) {
        const auto& [index, i] = order[k];
        const RigorousVector& v = s.vectors[index];
        const ComponentTest& c = v.components[static_cast<std::size_t>(i)];
        t.rows.push_back(
            {{v.from, v.to, std::to_string(v.record), axisName(c.axis), millimetresCell(c.residual),
              numberCell(kRedundancyFormat, c.redundancy), numberCell(kTestFormat, c.standardized),
              numberCell(kTestFormat, c.studentized), millimetresCell(c.mdb),
              c.outlier ? "outlier" : ""},
             c.outlier ? RowStyle::kFlagged : RowStyle::kNormal});
    }
    if (t.rows.empty()) {
        t.notes.push_back("No vector was tested.");
    }
    keepWorstRows(t, shown, order.size());
    return t;
}

std::string toleranceWords(const RelativeTolerance& tol) {
    return formatText(
        "checked with the tolerance %s (%.1f mm + %g ppm of the distance): the "
        "semi-major axis at %.1f %% must not exceed what it allows",
        tol.text.c_str(), tol.horizontal * kMillimetresPerMetre, tol.ppm, tol.confidence * 100.0);
}

// Whether a pair's ellipse holds another confidence than the file's.
bool ownConfidence(const RigorousStatistics& s) {
    return std::any_of(
        s.relativePrecision.begin(), s.relativePrecision.end(),
        [&](const RelativePrecision& p) { return p.ellipse.confidence != s.confidence; });
}

// The tolerance's cells of a pair: the semi-major axis compared, what is allowed, the outcome.
void toleranceCells(const RelativeTolerance& tol, const RelativePrecision& p, TableRow& row) {
    if (!p.withinTolerance) {
        return;
    }
    row.cells.push_back(millimetresCell(
        ellipseAtConfidence(p.ellipse.semiMajor, p.ellipse.confidence, tol.confidence)));
    row.cells.push_back(millimetresCell(tol.horizontal + tol.ppm * 1e-6 * p.distance));
    row.cells.push_back(*p.withinTolerance ? "pass" : "fail");
    row.style = *p.withinTolerance ? RowStyle::kPassed : RowStyle::kFailed;
}

// The pairs a table shows, those that fail their tolerance first when the table is cut.
std::vector<const RelativePrecision*> pairsShown(const RigorousStatistics& s,
                                                 const DocumentScope& scope) {
    std::vector<const RelativePrecision*> pairs;
    for (const RelativePrecision& p : s.relativePrecision) {
        pairs.push_back(&p);
    }
    if (scope.whole) {
        return pairs;
    }
    const auto fails = [](const RelativePrecision* p) {
        return p->withinTolerance && !*p->withinTolerance;
    };
    std::stable_partition(pairs.begin(), pairs.end(), fails);
    const auto failing = static_cast<std::size_t>(std::count_if(pairs.begin(), pairs.end(), fails));
    pairs.resize(std::min(pairs.size(), scope.rowsShown(failing)));
    return pairs;
}

ResultTable relativeTable(const RigorousStatistics& s, const DocumentScope& scope) {
    ResultTable t;
    t.id = "rigorous-relative";
    t.title = "Rigorous model: relative precisions";
    const bool own = ownConfidence(s);
    t.introduction = "Relative ellipses of pairs of sites, scaled by " + scaleWords(s) + " at " +
                     (own ? "the confidence of each row" : percent(s.confidence) + " confidence") +
                     ", azimuth from north, clockwise; ppm is the semi-major axis per distance" +
                     (s.tolerance ? "; " + toleranceWords(*s.tolerance) : "") + ".";
    t.columns = {leftColumn("From"),
                 leftColumn("To"),
                 rightColumn("Distance (m)"),
                 rightColumn("Semi-major (mm)"),
                 rightColumn("Semi-minor (mm)"),
                 rightColumn("Azimuth (deg)"),
                 rightColumn("Vertical sigma (mm)"),
                 rightColumn("ppm")};
    if (own) {
        t.columns.push_back(rightColumn("Confidence"));
    }
    if (s.tolerance) {
        t.columns.push_back(
            rightColumn(formatText("Semi-major at %.0f %% (mm)", s.tolerance->confidence * 100.0)));
        t.columns.push_back(rightColumn("Allowed (mm)"));
        t.columns.push_back(leftColumn("Check"));
    }
    const std::vector<const RelativePrecision*> shown = pairsShown(s, scope);
    for (const RelativePrecision* pair : shown) {
        const RelativePrecision& p = *pair;
        TableRow row{{p.from, p.to, numberCell("%.3f", p.distance),
                      millimetresCell(p.ellipse.semiMajor), millimetresCell(p.ellipse.semiMinor),
                      numberCell(kEllipseAzimuthFormat, p.ellipse.azimuth),
                      millimetresCell(p.verticalSigma), numberCell("%.2f", p.ppm)}};
        if (own) {
            row.cells.push_back(percent(p.ellipse.confidence));
        }
        if (s.tolerance) {
            toleranceCells(*s.tolerance, p, row);
        }
        t.rows.push_back(row);
    }
    if (t.rows.empty()) {
        t.notes.push_back("The run gave no relative precisions.");
    }
    keepWorstRows(t, shown.size(), s.relativePrecision.size(),
                  "pairs, those that fail their tolerance first,");
    return t;
}

ResultTable snoopingTable(const RigorousStatistics& s) {
    ResultTable t;
    t.id = "rigorous-snooping";
    t.title = "Rigorous model: data snooping";
    t.introduction =
        "Vectors taken out one per round, in order, each with the largest "
        "studentized residual of its round; " +
        testWords(s) + ".";
    t.columns = {rightColumn("Round"), leftColumn("From"), leftColumn("To"), rightColumn("Record"),
                 rightColumn("Studentized")};
    for (std::size_t i = 0; i < s.snooping.size(); ++i) {
        const SnoopingRound& r = s.snooping[i];
        t.rows.push_back({{std::to_string(i + 1), r.from, r.to, std::to_string(r.record),
                           numberCell(kTestFormat, r.studentized)}});
    }
    return t;
}

}  // namespace

std::vector<std::pair<std::size_t, int>> componentsByStudentized(const RigorousStatistics& s) {
    // Sorted with each component's size beside it, rather than looked up in the large vector
    // records at every comparison (a hundred thousand sites have a million components); equal
    // sizes keep the components' order.
    struct Keyed {
        double size;
        std::size_t vector;
        int component;
    };
    std::vector<Keyed> keyed;
    for (std::size_t v = 0; v < s.vectors.size(); ++v) {
        for (int i = 0; i < 3; ++i) {
            const double t = s.vectors[v].components[static_cast<std::size_t>(i)].studentized;
            if (s.vectors[v].inUse && std::isfinite(t)) {
                keyed.push_back({std::fabs(t), v, i});
            }
        }
    }
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        return a.size > b.size || (a.size == b.size && std::tie(a.vector, a.component) <
                                                           std::tie(b.vector, b.component));
    });
    std::vector<std::pair<std::size_t, int>> order;
    order.reserve(keyed.size());
    for (const Keyed& k : keyed) {
        order.emplace_back(k.vector, k.component);
    }
    return order;
}

std::vector<ResultTable> rigorousTables(const RigorousStatistics& s, const DocumentScope& scope) {
    if (s.preanalysis) {
        return {preanalysisTable(s), siteTable(s), reliabilityTable(s), relativeTable(s, scope)};
    }
    std::vector<ResultTable> tables{modelTable(s)};
    if (scope.whole) {
        tables.push_back(siteTable(s));
        tables.push_back(vectorTable(s));
    }
    tables.push_back(testTable(s, scope));
    tables.push_back(relativeTable(s, scope));
    if (!s.snooping.empty()) {
        tables.push_back(snoopingTable(s));
    }
    return tables;
}

void attachRigorousStatistics(RigorousStatistics statistics, ResultsView& view) {
    std::vector<OrientedEllipse>& ellipses = view.plot.siteEllipses;
    const double none = std::numeric_limits<double>::quiet_NaN();
    ellipses.assign(view.results.sites.size(),
                    OrientedEllipse{none, none, none, statistics.confidence});
    std::map<std::string, std::size_t> byName;
    for (std::size_t i = 0; i < view.results.sites.size(); ++i) {
        byName.emplace(view.results.sites[i].name, i);
    }
    for (const RigorousSite& site : statistics.sites) {
        const auto found = byName.find(site.name);
        if (site.adjusted && found != byName.end()) {
            ellipses[found->second] = site.ellipse;
        }
    }
    view.rigorous = std::move(statistics);
}

}  // namespace torvek::front
