// Results as the front end shows them: read from the output data set, summarised, plotted and
// put on the HTML page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "dataset/adjusted_data_set.h"
#include "front/cli/progress_bar.h"
#include "front/documents/gis_export.h"
#include "front/documents/grid_coordinates.h"
#include "front/documents/html_page.h"
#include "front/documents/network_plot.h"
#include "front/documents/report_document.h"
#include "front/documents/results_document.h"
#include "front/documents/results_rtf.h"
#include "front/documents/results_summary.h"
#include "front/files/file_output.h"
#include "front/results/network_results.h"
#include "front/results/result_reading.h"
#include "front/results/vector_misfit.h"
#include "front/text/text_format.h"
#include "link/stages.h"
#include "support/temp_directory.h"

namespace torvek::front {
namespace {

TEST(FrontPlotScales, ConfidenceFactorMatchesTheChiSquareTable) {
    // Square roots of the chi-square quantiles with two degrees of freedom (5.991 at 95 %,
    // 9.210 at 99 %, 4.605 at 90 %), from the printed tables.
    EXPECT_NEAR(horizontalConfidenceFactor(95.0), std::sqrt(5.9915), 1e-4);
    EXPECT_NEAR(horizontalConfidenceFactor(99.0), std::sqrt(9.2103), 1e-4);
    EXPECT_NEAR(horizontalConfidenceFactor(90.0), std::sqrt(4.6052), 1e-4);
    // The standard ellipse holds 39.35 %.
    EXPECT_NEAR(horizontalConfidenceFactor(100.0 * (1.0 - std::exp(-0.5))), 1.0, 1e-12);
    EXPECT_EQ(horizontalConfidenceFactor(0.0), 1.0);
    EXPECT_EQ(horizontalConfidenceFactor(100.0), 1.0);
    EXPECT_EQ(horizontalConfidenceFactor(std::nan("")), 1.0);
}

TEST(FrontPlotScales, RoundNumbers) {
    EXPECT_DOUBLE_EQ(roundDown125(0.0734), 0.05);
    EXPECT_DOUBLE_EQ(roundDown125(7.0), 5.0);
    EXPECT_DOUBLE_EQ(roundDown125(1.0), 1.0);
    EXPECT_DOUBLE_EQ(roundDown125(19.9), 10.0);
    EXPECT_DOUBLE_EQ(roundDown125(20.0), 20.0);
    EXPECT_DOUBLE_EQ(roundDown125(4321.0), 2000.0);
    EXPECT_EQ(roundDown125(0.0), 1.0);
    EXPECT_EQ(roundDown125(-3.0), 1.0);
}

TEST(FrontResultsFormat, Sexagesimal) {
    EXPECT_EQ(formatSexagesimal(47.0412, "NS", 5), "47 02 28.32000 N");
    EXPECT_EQ(formatSexagesimal(-0.5, "EW", 2), "0 30 00.00 W");
    EXPECT_EQ(formatSexagesimal(8.2208, "EW", 5), "8 13 14.88000 E");
    // Seconds that round up carry into the minutes and degrees instead of showing 60.
    EXPECT_EQ(formatSexagesimal(10.999999999999, "NS", 5), "11 00 00.00000 N");
    EXPECT_EQ(formatSexagesimal(std::nan(""), "NS", 5), "-");
}

// WGS 84 constants, written out here so that the test does not lean on the code under test.
constexpr double kA = 6378137.0;
constexpr double kRf = 298.257223563;

std::array<double, 3> cartesian(double latDeg, double lonDeg, double h) {
    const double e2 = 2 / kRf - 1 / (kRf * kRf);
    const double lat = latDeg * M_PI / 180, lon = lonDeg * M_PI / 180;
    const double n = kA / std::sqrt(1 - e2 * std::sin(lat) * std::sin(lat));
    return {(n + h) * std::cos(lat) * std::cos(lon), (n + h) * std::cos(lat) * std::sin(lon),
            ((1 - e2) * n + h) * std::sin(lat)};
}

// A three-site output data set: two adjusted sites and one fixed, with statistics.
AdjustedDataSet resultDataSet(bool succeeded) {
    AdjustedDataSet ds;
    ds.setReferencePoint(47.0, 8.0);
    EXPECT_TRUE(ds.addSite("BASE"));
    ds.setSitePosition({47.0, 8.0, 500.0, 49.0});
    ds.setSiteFixed(1, 1, 1);
    ds.setAdjustedSite({47.0, 8.0, 500.0, 0, 0, 0});
    EXPECT_TRUE(ds.addSite("NORD"));
    ds.setSitePosition({47.01, 8.0, 600.0, 49.0});
    ds.setAdjustedSite({47.0100001, 8.0000002, 600.012, 0.002, 0.003, 0.006});
    EXPECT_TRUE(ds.addSite("OST"));
    ds.setSitePosition({47.0, 8.02, 550.0, 49.0});
    ds.setAdjustedSite({47.0, 8.02, 550.0, 0.004, 0.0015, 0.008});
    ds.setSiteSigmas(0.01, 0.01, 0);  // constrained control
    EXPECT_TRUE(ds.addVector("BASE", "NORD"));
    ds.setVectorComponents({1, 2, 3, 2});
    const double flagged[12] = {0, 0, 0, 0, 0, 0, 0.011, -0.004, 0.02, 3.6, -1.2, 2.0};
    ds.setVectorTestResults(flagged);
    EXPECT_TRUE(ds.addVector("BASE", "OST"));
    const double quiet[12] = {0, 0, 0, 0, 0, 0, 0.001, 0.002, -0.003, 0.3, -3.2, 0.9};
    ds.setVectorTestResults(quiet);
    EXPECT_TRUE(ds.addVector("NORD", "OST"));
    ds.setVectorInUse(0);
    const double unused[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 9.0, 9.0, 9.0};
    ds.setVectorTestResults(unused);
    ds.setAdjustmentCounts({9, 10, 4, 2});
    ds.setChiSquareTest(5.5, 0.48, 11.1);
    ds.setTauCriticalValue(3.25);
    ds.setUnitWeightStandardError(1.17);
    ds.setAdjustmentSettings({0, 95.0, 1.0});
    ds.setAdjustmentSucceeded(succeeded ? 1 : 0);
    ds.setHeaderText("Test <network>");
    return ds;
}

TEST(FrontResults, ReadsTheOutputAndFlagsVectorsAboveTau) {
    const NetworkResults r = collectResults(resultDataSet(true));
    EXPECT_TRUE(r.succeeded);
    EXPECT_TRUE(r.chiSquarePassed());
    ASSERT_EQ(r.sites.size(), 3u);
    EXPECT_TRUE(r.sites[0].fixedAny());
    EXPECT_TRUE(r.sites[2].control());
    EXPECT_FALSE(r.sites[2].fixedAny());
    EXPECT_FALSE(r.sites[1].control());
    EXPECT_EQ(r.sites[1].sigmaEast, 0.003);
    ASSERT_EQ(r.vectors.size(), 3u);
    EXPECT_TRUE(r.vectors[0].flagged);   // 3.6 > 3.25
    EXPECT_FALSE(r.vectors[1].flagged);  // 3.2 is not above 3.25
    EXPECT_FALSE(r.vectors[2].flagged);  // not in use: no results
    EXPECT_DOUBLE_EQ(r.vectors[0].largestNormalized, 3.6);
    EXPECT_EQ(r.vectors[0].fromIndex, 0);
    EXPECT_EQ(r.vectors[0].toIndex, 1);
    EXPECT_EQ(r.flaggedCount(), 1);

    // Local positions: the Cartesian difference from the reference point projected on its
    // north and east directions, computed here independently.
    const auto origin = cartesian(47.0, 8.0, 0.0);
    const auto nord = cartesian(47.0100001, 8.0000002, 600.012 + 49.0);
    const double lat = 47.0 * M_PI / 180, lon = 8.0 * M_PI / 180;
    const double north[3] = {-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon),
                             std::cos(lat)};
    const double east[3] = {-std::sin(lon), std::cos(lon), 0.0};
    double n = 0, e = 0;
    for (int i = 0; i < 3; ++i) {
        n += north[i] * (nord[i] - origin[i]);
        e += east[i] * (nord[i] - origin[i]);
    }
    EXPECT_NEAR(r.sites[1].north, n, 1e-6);
    EXPECT_NEAR(r.sites[1].east, e, 1e-6);
    EXPECT_NEAR(r.sites[1].north, 1111.0, 5.0);  // about 1.1 km per 0.01 degree

    const NetworkResults failed = collectResults(resultDataSet(false));
    EXPECT_FALSE(failed.succeeded);
    EXPECT_EQ(failed.flaggedCount(), 0);
    EXPECT_FALSE(failed.sites[1].adjusted);
}

TEST(FrontResults, SummaryShowsStatisticsCoordinatesAndFlaggedVectors) {
    const std::string summary = formatResultsSummary(collectResults(resultDataSet(true)));
    EXPECT_NE(summary.find("Over constrained adjustment, 2 iterations"), std::string::npos);
    EXPECT_NE(summary.find("Chi-square test at 95.0 %: passed (5.500; limits 0.480 to 11.100)"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("Tau critical value: 3.250"), std::string::npos);
    EXPECT_NE(summary.find("NORD  47 00 36.00036 N"), std::string::npos) << summary;
    EXPECT_NE(summary.find("600.0120      2.0     3.0     6.0"), std::string::npos) << summary;
    EXPECT_NE(summary.find("BASE-NORD       1      3.60    -1.20     2.00"), std::string::npos)
        << summary;
    EXPECT_EQ(summary.find("BASE-OST "), std::string::npos);

    const std::string failed = formatResultsSummary(collectResults(resultDataSet(false)));
    EXPECT_NE(failed.find("did not succeed"), std::string::npos);
    EXPECT_EQ(failed.find("NORD"), std::string::npos);
}

// Checks that every element is closed in order (the SVG must be well-formed XML) and counts the
// elements by name.
bool wellFormed(const std::string& xml, std::map<std::string, int>& counts, std::string& problem) {
    std::vector<std::string> open;
    std::size_t at = 0;
    while ((at = xml.find('<', at)) != std::string::npos) {
        const std::size_t end = xml.find('>', at);
        if (end == std::string::npos) {
            problem = "unterminated tag";
            return false;
        }
        std::string tag = xml.substr(at + 1, end - at - 1);
        at = end + 1;
        if (tag.empty() || tag[0] == '!' || tag[0] == '?') {
            continue;
        }
        if (tag[0] == '/') {
            if (open.empty() || open.back() != tag.substr(1)) {
                problem =
                    "</" + tag.substr(1) + "> closes " + (open.empty() ? "nothing" : open.back());
                return false;
            }
            open.pop_back();
            continue;
        }
        const bool selfClosing = tag.back() == '/';
        const std::string name = tag.substr(0, tag.find_first_of(" /"));
        ++counts[name];
        if (!selfClosing) {
            open.push_back(name);
        }
    }
    if (!open.empty()) {
        problem = "<" + open.back() + "> is never closed";
        return false;
    }
    if (xml.find('&') != std::string::npos) {
        // Every ampersand starts an entity.
        std::regex bare("&(?!(amp|lt|gt|quot|middot|#39|#215);)");
        if (std::regex_search(xml, bare)) {
            problem = "a bare ampersand";
            return false;
        }
    }
    return true;
}

TEST(FrontPlot, SvgShowsSitesVectorsAndScaledEllipses) {
    AdjustedDataSet ds = resultDataSet(true);
    ds.seekSite("OST");
    ds.currentSite()->name = SiteName("O&<");  // names are escaped
    for (bool more = ds.firstVector(); more; more = ds.nextVector()) {
        if (ds.currentVector()->toSite.toString() == "OST") {
            ds.currentVector()->toSite = SiteName("O&<");
        }
    }
    const NetworkResults r = collectResults(ds);
    const std::string svg = renderNetworkSvg(r);
    std::map<std::string, int> counts;
    std::string problem;
    ASSERT_TRUE(wellFormed(svg, counts, problem)) << problem << "\n" << svg;
    EXPECT_EQ(counts["svg"], 1);
    EXPECT_EQ(counts["line"], 3 + 3 + 2);  // vectors, the legend's three styles, scale bars
    EXPECT_EQ(counts["polygon"], 2 + 2);   // fixed and constrained control, legend
    EXPECT_EQ(counts["circle"], 1 + 2);    // the free site, legend (site, site not adjusted)
    EXPECT_EQ(counts["ellipse"], 2 + 1);   // the fixed site has none; legend
    EXPECT_NE(svg.find("O&amp;&lt;"), std::string::npos);

    // The flagged vector stands out and carries its largest normalized residual with its sign.
    EXPECT_NE(svg.find("class=\"vector flagged\""), std::string::npos);
    EXPECT_NE(svg.find("BASE-NORD w=+3.6"), std::string::npos);
    EXPECT_NE(svg.find("stroke-dasharray"), std::string::npos);  // the vector out of use

    // Ellipse axes keep the ratio of the east and north sigmas (NORD: 3 mm east, 2 mm north),
    // and their labels give the 95 % semi-axes in millimetres.
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(svg, m,
                          std::regex("<ellipse class=\"ellipse\" cx=\"[-0-9.]+\" cy=\"[-0-9.]+\" "
                                     "rx=\"([0-9.]+)\" ry=\"([0-9.]+)\"")));
    EXPECT_NEAR(std::stod(m[1]) / std::stod(m[2]), 1.5, 0.01);
    const double k = std::sqrt(5.9915);
    char label[64];
    std::snprintf(label, sizeof label, "%.1f&#215;%.1f mm", 3 * k, 2 * k);
    EXPECT_NE(svg.find(label), std::string::npos) << label;
    EXPECT_TRUE(std::regex_search(svg, std::regex("95.0 % confidence, enlarged [0-9]+ times")));
}

TEST(FrontPlot, DegenerateNetworksStillGiveAPicture) {
    AdjustedDataSet empty;
    std::map<std::string, int> counts;
    std::string problem;
    EXPECT_TRUE(wellFormed(renderNetworkSvg(collectResults(empty)), counts, problem)) << problem;
    AdjustedDataSet one;
    ASSERT_TRUE(one.addSite("ONLY"));
    one.setSitePosition({std::nan(""), 8.0, 0, 0});
    counts.clear();
    EXPECT_TRUE(wellFormed(renderNetworkSvg(collectResults(one)), counts, problem)) << problem;
}

TEST(FrontHtmlPage, HoldsReportTablesAndPlot) {
    ReportDocument report;
    report.addPiece(2, "Chi-square test: passed <ok>\n ");
    const std::string page =
        renderHtmlPage("Run of a & b", report, collectResults(resultDataSet(true)),
                       "torvek was killed by signal 11");
    EXPECT_EQ(page.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_NE(page.find("<title>Run of a &amp; b</title>"), std::string::npos);
    EXPECT_NE(page.find("Test &lt;network&gt;"), std::string::npos);
    EXPECT_NE(page.find("Chi-square test: passed &lt;ok&gt;"), std::string::npos);
    EXPECT_NE(page.find("<table class=\"statistics\">"), std::string::npos);
    EXPECT_NE(page.find("<table class=\"geodetic\">"), std::string::npos);
    EXPECT_NE(page.find("<table class=\"residuals\">"), std::string::npos);
    EXPECT_NE(page.find("<tr class=\"flagged\">"), std::string::npos);
    EXPECT_NE(page.find("<svg"), std::string::npos);
    EXPECT_NE(page.find("killed by signal 11"), std::string::npos);
    std::map<std::string, int> counts;
    std::string problem;
    EXPECT_TRUE(wellFormed(page.substr(page.find("<html")), counts, problem)) << problem;
    // The document header, statistics, geodetic, precision, geocentric, residuals, left out.
    EXPECT_EQ(counts["table"], 7);
    // On paper: A4, every results section on a page of its own, heading rows repeated.
    EXPECT_NE(page.find("@page{size:A4"), std::string::npos);
    EXPECT_NE(page.find("section.results{break-before:page"), std::string::npos);
    EXPECT_EQ(counts["thead"], 6);
    // The report comes first, then the results.
    EXPECT_LT(page.find("Chi-square test: passed &lt;ok&gt;"), page.find("id=\"statistics\""));
}

// One case per outcome of the chi-square test: the verdict, the plain-words reading, and both in
// the summary and the document.
TEST(FrontResultReading, ChiSquareOutcomesReadInPlainWords) {
    struct Case {
        double chiSquare;
        ChiSquareOutcome outcome;
        const char* summary;  // what the summary's test line says
        const char* reading;  // a phrase of the reading
    };
    const Case cases[] = {
        {0.2, ChiSquareOutcome::kTooLow, "FAILED, too low (0.200;", "too pessimistic"},
        {0.48, ChiSquareOutcome::kWithin, "passed (0.480;", "agree with the a-priori"},
        {5.5, ChiSquareOutcome::kWithin, "passed (5.500;", "agree with the a-priori"},
        {11.1, ChiSquareOutcome::kWithin, "passed (11.100;", "agree with the a-priori"},
        {26.0, ChiSquareOutcome::kTooHigh, "FAILED, too high (26.000;", "blunder"},
    };
    for (const Case& c : cases) {
        AdjustedDataSet ds = resultDataSet(true);
        ds.setChiSquareTest(c.chiSquare, 0.48, 11.1);
        const NetworkResults r = collectResults(ds);
        EXPECT_EQ(chiSquareOutcome(r), c.outcome) << c.chiSquare;
        const std::string summary = formatResultsSummary(r);
        EXPECT_NE(summary.find(std::string("Chi-square test at 95.0 %: ") + c.summary),
                  std::string::npos)
            << summary;
        EXPECT_NE(summary.find(c.reading), std::string::npos) << summary;
        const ResultsDocument d =
            buildResultsDocument("t", makeResultsView(r, DocumentHeader{}, nullptr));
        ASSERT_FALSE(d.tables.empty());
        EXPECT_NE(d.tables[0].notes.at(0).find(c.reading), std::string::npos);
    }
    EXPECT_EQ(chiSquareOutcome(std::nan(""), 1.0, 2.0), ChiSquareOutcome::kNotTested);
    EXPECT_EQ(chiSquareOutcome(collectResults(resultDataSet(false))), ChiSquareOutcome::kNotTested);
}

// The local north, east and up unit vectors at the reference point (47 N, 8 E), for checks.
std::array<std::array<double, 3>, 3> referenceAxes() {
    const double lat = 47.0 * M_PI / 180, lon = 8.0 * M_PI / 180;
    return {{{-std::sin(lat) * std::cos(lon), -std::sin(lat) * std::sin(lon), std::cos(lat)},
             {-std::sin(lon), std::cos(lon), 0.0},
             {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)}}};
}

TEST(FrontResultsDocument, HeaderResidualsBySizeWithSignsAndMisfitsOfVectorsLeftOut) {
    DocumentHeader header;
    header.client = "Canton <Luzern>";
    header.epoch = "2024.35";
    const ResultsDocument d = buildResultsDocument(
        "t", makeResultsView(collectResults(resultDataSet(true)), header, nullptr));
    std::map<std::string, std::string> fields(d.header.begin(), d.header.end());
    EXPECT_EQ(fields["Project"], "Test <network>");  // the data set's title
    EXPECT_EQ(fields["Client"], "Canton <Luzern>");
    EXPECT_EQ(fields["Surveyor"], "not stated");
    EXPECT_EQ(fields["Epoch"], "2024.35");
    EXPECT_NE(fields["Software"].find("torvek-front "), std::string::npos);

    std::map<std::string, const ResultTable*> tables;
    for (const ResultTable& t : d.tables) {
        tables[t.id] = &t;
    }
    ASSERT_EQ(tables.count("grid"), 0u);  // none asked for
    const ResultTable& residuals = *tables.at("residuals");
    ASSERT_EQ(residuals.rows.size(), 2u);  // the vector left out has no residuals
    // Largest first, signs kept: BASE-NORD +3.6 before BASE-OST -3.2.
    EXPECT_EQ(residuals.rows[0].cells[1], "NORD");
    EXPECT_EQ(residuals.rows[0].cells[10], "+3.60");
    EXPECT_EQ(residuals.rows[0].style, RowStyle::kFlagged);
    EXPECT_EQ(residuals.rows[1].cells[1], "OST");
    EXPECT_EQ(residuals.rows[1].cells[10], "-3.20");
    EXPECT_EQ(residuals.rows[1].cells[8], "-3.20");

    // NORD-OST was left out; its record holds no components (a zero vector) and the smallest
    // sigmas the program takes (1 mm), so its misfit is the adjusted difference from NORD to OST
    // along the reference axes, and its normalized misfit that over 1 mm.
    const ResultTable& excluded = *tables.at("excluded");
    ASSERT_EQ(excluded.rows.size(), 1u);
    const auto nord = cartesian(47.0100001, 8.0000002, 600.012 + 49.0);
    const auto ost = cartesian(47.0, 8.02, 550.0 + 49.0);
    const auto axes = referenceAxes();
    for (int k = 0; k < 3; ++k) {
        double along = 0;
        for (int i = 0; i < 3; ++i) {
            along += axes[k][i] * (ost[i] - nord[i]);
        }
        EXPECT_NEAR(std::stod(excluded.rows[0].cells[4 + k]), along * 1000, 0.05) << k;
        EXPECT_NEAR(std::stod(excluded.rows[0].cells[7 + k]), along / 0.001, 0.01) << k;
    }
}

// The RTF document: one well-formed document on A4 with the header, the report and then every
// table with rows, running on without forced pages, read back in order by the report's own RTF
// reader.
TEST(FrontResultsRtf, HeaderThenReportThenEveryTableInOrder) {
    DocumentHeader header;
    header.client = "Office {north} \\ east";
    ReportDocument report;
    report.addPiece(2, "Adjustment Tests\n");
    const ResultsDocument d = buildResultsDocument(
        "Run", makeResultsView(collectResults(resultDataSet(true)), header, nullptr));
    const std::string rtf = renderRtfDocument(d, report, "torvek was killed");
    int depth = 0;
    for (std::size_t i = 0; i < rtf.size(); ++i) {
        if (rtf[i] == '\\') {
            ++i;
        } else {
            depth += rtf[i] == '{' ? 1 : rtf[i] == '}' ? -1 : 0;
            ASSERT_GE(depth, 0);
        }
    }
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
    EXPECT_NE(rtf.find("\\paperw11906\\paperh16838"), std::string::npos);  // A4 in twips
    EXPECT_NE(rtf.find("Office \\{north\\} \\\\ east"), std::string::npos);
    std::size_t pages = 0, headings = 0;
    for (std::size_t at = rtf.find("\\page\n"); at != std::string::npos;
         at = rtf.find("\\page\n", at + 1)) {
        ++pages;
    }
    for (std::size_t at = rtf.find("\\trhdr"); at != std::string::npos;
         at = rtf.find("\\trhdr", at + 1)) {
        ++headings;
    }
    EXPECT_EQ(pages, 0u);  // a page ends where its content fills it
    const auto withRows = std::count_if(d.tables.begin(), d.tables.end(),
                                        [](const ResultTable& t) { return !t.rows.empty(); });
    EXPECT_EQ(headings, static_cast<std::size_t>(withRows));
    ReportDocument back;
    back.addPiece(1, rtf);
    const std::string text = back.plainText();
    const std::size_t client = text.find("Office {north} \\ east");
    const std::size_t killed = text.find("torvek was killed");
    const std::size_t tests = text.find("Adjustment Tests");
    const std::size_t geodetic = text.find("Geodetic coordinates");
    const std::size_t residuals = text.find("Residuals by normalized residual");
    ASSERT_NE(residuals, std::string::npos) << text;
    EXPECT_LT(client, killed);
    EXPECT_LT(killed, tests);
    EXPECT_LT(tests, geodetic);
    EXPECT_LT(geodetic, residuals);
}

// Each row of an RTF table carries its own style, whatever came before it: a flagged row is shaded
// and coloured, a muted one coloured only, a normal one after either neither; a row with fewer
// cells has fewer cell edges, its last cell spanning the rest, aligned left.
TEST(FrontResultsRtf, EveryRowKeepsItsOwnStyle) {
    ResultsDocument d;
    d.title = "Styles";
    ResultTable t;
    t.id = "styles";
    t.title = "Rows";
    t.columns = {leftColumn("Name"), rightColumn("Value"), rightColumn("Other")};
    const RowStyle styles[] = {RowStyle::kNormal, RowStyle::kFlagged, RowStyle::kNormal,
                               RowStyle::kMuted, RowStyle::kNormal};
    for (const RowStyle style : styles) {
        t.rows.push_back({{"n", "1.0", "2.0"}, style});
    }
    t.rows.push_back({{"n", "spanning the rest"}, RowStyle::kNormal});
    d.tables.push_back(t);
    const std::string rtf = renderRtfDocument(d, ReportDocument{}, "");
    std::vector<std::string> rows;
    for (std::size_t at = rtf.find("\\trowd"); at != std::string::npos;) {
        const std::size_t next = rtf.find("\\trowd", at + 1);
        rows.push_back(rtf.substr(at, (next == std::string::npos ? rtf.size() : next) - at));
        at = next;
    }
    ASSERT_EQ(rows.size(), 1 + std::size(styles) + 1);  // the heading, then every row
    const auto count = [](const std::string& text, const std::string& what) {
        std::size_t n = 0;
        for (std::size_t at = text.find(what); at != std::string::npos;
             at = text.find(what, at + 1)) {
            ++n;
        }
        return n;
    };
    for (std::size_t i = 0; i < std::size(styles); ++i) {
        const std::string& row = rows[1 + i];
        const std::string definition = row.substr(0, row.find('\n'));
        SCOPED_TRACE(row);
        EXPECT_EQ(count(definition, "\\clcbpat"), styles[i] == RowStyle::kFlagged ? 3u : 0u);
        EXPECT_EQ(count(row, "\\cf") > 0, styles[i] != RowStyle::kNormal);
        EXPECT_EQ(count(definition, "\\cellx"), 3u);
        EXPECT_EQ(count(row, "\\qr"), 2u);
    }
    const std::string& spanning = rows.back();
    EXPECT_EQ(count(spanning.substr(0, spanning.find('\n')), "\\cellx"), 2u);
    EXPECT_EQ(count(spanning, "\\qr"), 0u) << spanning;
    EXPECT_NE(spanning.find("spanning the rest\\cell"), std::string::npos);
}

TEST(FrontPlot, EllipseEnlargementComparesBetweenRunsAndTheUserMayFixIt) {
    // Two runs of one network (same scale), ellipses of 5 mm and 9 mm: one factor, a round one.
    const double scale = 0.0345, side = 450;  // pixels per metre; pixels
    const double a = chooseEllipseEnlargement(scale, side, 0.005);
    EXPECT_EQ(a, chooseEllipseEnlargement(scale, side, 0.009));
    EXPECT_EQ(a, roundDown125(a));
    // A semi-axis of 1 cm is drawn at no more than 6 % of the side, and more than a third of it.
    EXPECT_LE(0.01 * scale * a, 0.06 * side);
    EXPECT_GT(0.01 * scale * a, 0.06 * side * 0.4);
    // An ellipse that would fill the map takes a smaller round factor, at most a quarter.
    const double b = chooseEllipseEnlargement(scale, side, 2.0);
    EXPECT_LT(b, a);
    EXPECT_EQ(b, roundDown125(b));
    EXPECT_LE(2.0 * scale * b, 0.25 * side);

    AdjustedDataSet ds = resultDataSet(true);
    ds.firstVector();
    const double negative[12] = {0, 0, 0, 0, 0, 0, 0.011, -0.004, -0.02, 1.0, -1.2, -3.6};
    ds.setVectorTestResults(negative);
    PlotOptions plot;
    plot.ellipseEnlargement = 20000.0;
    const std::string svg = renderNetworkSvg(collectResults(ds), plot);
    EXPECT_NE(svg.find("enlarged 20000 times"), std::string::npos);
    EXPECT_NE(svg.find("BASE-NORD w=-3.6"), std::string::npos);
}

// A site joined to neighbours in seven of the eight directions gets its label in the eighth,
// north-west, though the placement tries the east side first: no vector line runs through it.
TEST(FrontPlot, SiteLabelGoesWhereNoVectorLineRuns) {
    AdjustedDataSet ds;
    ds.setReferencePoint(47.0, 8.0);
    EXPECT_TRUE(ds.addSite("CENT"));
    ds.setAdjustedSite({47.0, 8.0, 500.0, 0, 0, 0});
    const double step = 0.01;  // degrees of latitude; longitude steps a little wider
    const double around[7][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}};
    for (int i = 0; i < 7; ++i) {
        const std::string name = "P" + std::to_string(i);
        EXPECT_TRUE(ds.addSite(name.c_str()));
        ds.setAdjustedSite(
            {47.0 + around[i][0] * step, 8.0 + around[i][1] * step * 1.47, 500.0, 0, 0, 0});
        EXPECT_TRUE(ds.addVector("CENT", name.c_str()));
    }
    ds.setAdjustmentSucceeded(1);
    const std::string svg = renderNetworkSvg(collectResults(ds));
    std::smatch label, site;
    ASSERT_TRUE(std::regex_search(
        svg, label,
        std::regex("class=\"site-label\" x=\"([-0-9.]+)\" y=\"([-0-9.]+)\"[^>]*>CENT<")));
    // The first site drawn is CENT.
    ASSERT_TRUE(std::regex_search(
        svg, site, std::regex("<circle class=\"site\" cx=\"([-0-9.]+)\" cy=\"([-0-9.]+)\"")));
    const double labelX = std::stod(label[1]), baseline = std::stod(label[2]);
    const double siteX = std::stod(site[1]), siteY = std::stod(site[2]);
    EXPECT_LT(labelX + 4 * 7.0, siteX) << svg;  // four letters wholly to the west
    EXPECT_LT(baseline, siteY) << svg;          // and above
}

TEST(FrontProgress, NeverGoesBackAndTheSecondIterationFollowsTheFirst) {
    // An over-constrained run: two iterations, then a retry after a singular system.
    const int stages[] = {0,  13, 26, 29, 32, 36, 42, 49, 52, 56, 58, 49, 52, 56,
                          58, 86, 32, 36, 42, 49, 52, 56, 58, 49, 58, 86, 100};
    StageProgress progress;
    std::vector<int> shown;
    for (int stage : stages) {
        shown.push_back(progress.percent(stage));
    }
    EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end()));
    EXPECT_GT(shown[11], shown[10]);  // the second iteration's first stage past the first's last
    EXPECT_EQ(shown[14], 86);         // and its last at the stage after the iterations
    EXPECT_EQ(shown.back(), 100);
    // A minimally constrained run iterates once; its bar still reaches the end.
    StageProgress once;
    int last = 0;
    for (int stage : {0, 29, 42, 49, 58, 86, 100}) {
        const int p = once.percent(stage);
        EXPECT_GE(p, last);
        last = p;
    }
    EXPECT_EQ(last, 100);
}

TEST(FrontProgress, TheSharedStageCodesAreTheDocumentedOnes) {
    // docs/frontend-link.md, "The progress endpoint", in the order a run polls them.
    const std::vector<int> documented = {0, 13, 26, 29, 32, 36, 42, 49, 52, 56, 58, 86, 100};
    const std::vector<int> shared = {stage::kStart,
                                     stage::kGroupsBuilt,
                                     stage::kConnectivityDone,
                                     stage::kBeforeAdjustment,
                                     stage::kMatrixAllocated,
                                     stage::kConstantsSet,
                                     stage::kSitesLoaded,
                                     stage::kEquationsFormed,
                                     stage::kEquationsChecked,
                                     stage::kFactorised,
                                     stage::kSolved,
                                     stage::kInverseFormed,
                                     stage::kFinished};
    EXPECT_EQ(shared, documented);
    // The bar names the phase of each code as the program passes it.
    EXPECT_STREQ(stageDescription(13), "network connectivity test");
    EXPECT_STREQ(stageDescription(29), "preparing the adjustment");
    EXPECT_STREQ(stageDescription(42), "loading vectors");
    EXPECT_STREQ(stageDescription(52), "solving the normal equations");
    EXPECT_STREQ(stageDescription(86), "computing precisions");
    EXPECT_STREQ(stageDescription(100), "adjustment done");
}

TEST(FrontGis, GeoJsonAndKmlHoldEverySiteAndVector) {
    AdjustedDataSet ds = resultDataSet(true);
    ds.seekSite("OST");
    ds.currentSite()->name = SiteName("O&<");
    for (bool more = ds.firstVector(); more; more = ds.nextVector()) {
        if (ds.currentVector()->toSite.toString() == "OST") {
            ds.currentVector()->toSite = SiteName("O&<");
        }
    }
    const ResultsView view = makeResultsView(collectResults(ds), DocumentHeader{}, nullptr);
    const Json geo = Json::parse(renderGeoJson("a & b", view));
    EXPECT_EQ(geo["type"], "FeatureCollection");
    ASSERT_EQ(geo["features"].size(), 3u + 3u);
    const Json& base = geo["features"][0];
    EXPECT_EQ(base["geometry"]["type"], "Point");
    // Longitude first, then latitude and the height above the ellipsoid (500 + 49).
    EXPECT_EQ(base["geometry"]["coordinates"], Json::array({8.0, 47.0, 549.0}));
    EXPECT_EQ(base["properties"]["control"], "fixed");
    const Json& flagged = geo["features"][3];
    EXPECT_EQ(flagged["geometry"]["type"], "LineString");
    EXPECT_EQ(flagged["properties"]["aboveTau"], true);
    EXPECT_EQ(flagged["properties"]["largestNormalized"], 3.6);
    const Json& left = geo["features"][5];
    EXPECT_EQ(left["properties"]["adjusted"], false);
    EXPECT_TRUE(left["properties"]["residualUpMm"].is_null());
    EXPECT_TRUE(left["properties"]["misfitUpMm"].is_number());

    const std::string kml = renderKml("a & b", view);
    std::map<std::string, int> counts;
    std::string problem;
    ASSERT_TRUE(wellFormed(kml.substr(kml.find("<kml")), counts, problem)) << problem;
    EXPECT_EQ(counts["Folder"], 2);
    EXPECT_EQ(counts["Placemark"], 6);
    EXPECT_EQ(counts["Point"], 3);
    EXPECT_EQ(counts["LineString"], 3);
    EXPECT_NE(kml.find("<name>O&amp;&lt;</name>"), std::string::npos);
}

// Unknown values are null (heights above the geoid without geoid heights, residuals of a vector
// left out), known ones numbers; KML types every field in a schema and leaves unknown values out;
// each KML folder, and each GeoJSON file split by layer, holds one geometry type.
TEST(FrontGis, UnknownValuesAreNullAndFieldsKeepTheirTypes) {
    AdjustedDataSet ds = resultDataSet(true);
    for (bool more = ds.firstSite(); more; more = ds.nextSite()) {
        ds.currentSite()->geoidHeight = 0.0;  // no geoid given
    }
    const ResultsView view = makeResultsView(collectResults(ds), DocumentHeader{}, nullptr);
    const Json all = Json::parse(renderGeoJson("t", view));
    const Json& nord = all["features"][1]["properties"];
    EXPECT_TRUE(nord["geoidHeight"].is_null());
    EXPECT_TRUE(nord["orthometricHeight"].is_null());
    EXPECT_TRUE(nord["ellipsoidalHeight"].is_number());
    const Json& left = all["features"][5]["properties"];
    for (const char* key : {"misfitNorthMm", "normalizedMisfitUp", "length"}) {
        EXPECT_TRUE(left[key].is_number()) << key << ": " << left[key];
    }
    EXPECT_TRUE(left["residualNorthMm"].is_null());

    const std::map<GeoJsonLayers, std::pair<std::size_t, const char*>> split = {
        {GeoJsonLayers::kSites, {3, "Point"}}, {GeoJsonLayers::kVectors, {3, "LineString"}}};
    for (const auto& [layers, expected] : split) {
        const Json layer = Json::parse(renderGeoJson("t", view, layers));
        ASSERT_EQ(layer["features"].size(), expected.first);
        for (const Json& feature : layer["features"]) {
            EXPECT_EQ(feature["geometry"]["type"], expected.second);
        }
    }

    const std::string kml = renderKml("t", view);
    for (const char* field : {R"(<SimpleField name="geoidHeight" type="double"/>)",
                              R"(<SimpleField name="adjusted" type="bool"/>)",
                              R"(<SimpleField name="record" type="int"/>)",
                              R"(<SimpleField name="from" type="string"/>)",
                              R"(<SimpleField name="misfitNorthMm" type="double"/>)",
                              R"(<SimpleField name="control" type="string"/>)"}) {
        EXPECT_NE(kml.find(field), std::string::npos) << field;
    }
    EXPECT_EQ(kml.find(R"(<SimpleData name="geoidHeight">)"), std::string::npos);
    EXPECT_NE(kml.find(R"(<SimpleData name="adjusted">0</SimpleData>)"), std::string::npos);
    const std::size_t vectors = kml.find("<Folder><name>Vectors</name>");
    ASSERT_NE(vectors, std::string::npos);
    EXPECT_EQ(kml.find("<LineString>"), kml.find("<LineString>", vectors));
    EXPECT_EQ(kml.find("<Point>", vectors), std::string::npos);
}

// The column at which each field after `name` starts in the line of `text` that begins with it.
std::vector<std::size_t> fieldStarts(const std::string& text, const std::string& name) {
    const std::size_t line = text.find("\n  " + name + " ");
    EXPECT_NE(line, std::string::npos) << name << " in\n" << text;
    if (line == std::string::npos) {
        return {};
    }
    const std::size_t begin = line + 1, end = text.find('\n', begin);
    std::vector<std::size_t> starts;
    for (std::size_t i = begin + 2 + name.size(); i < end; ++i) {
        if (text[i] != ' ' && text[i - 1] == ' ') {
            starts.push_back(i - begin);
        }
    }
    return starts;
}

// Names of 1, 4, 12 and 30 characters: every numeric column of the summary's tables (adjusted and
// grid coordinates, vectors left out) starts at the same column in every row.
TEST(FrontResults, SummaryTablesAlignForNamesOfAnyLength) {
    NetworkResults r = collectResults(resultDataSet(true));
    r.sites.push_back(r.sites[1]);
    const std::vector<std::string> names = {"Q", "NORD", "Twelve chars", std::string(30, 'L')};
    for (std::size_t i = 0; i < names.size(); ++i) {
        r.sites[i].name = names[i];
    }
    // The vector left out, twice more with other ends: names of 6, 17 and 32 characters.
    for (const auto& [from, to] : {std::pair{0, 1}, std::pair{1, 2}, std::pair{0, 3}}) {
        r.vectors.push_back(r.vectors[2]);
        r.vectors.back().from = names[from];
        r.vectors.back().to = names[to];
    }
    GridSystem grid;
    std::string error;
    ASSERT_TRUE(grid.open("EPSG:32632", networkPlace(r), error)) << error;
    const std::string summary = formatResultsSummary(makeResultsView(r, DocumentHeader{}, &grid));
    const std::size_t gridAt = summary.find("\nGrid coordinates");
    ASSERT_NE(gridAt, std::string::npos);
    const std::string coordinates = summary.substr(0, gridAt), gridTable = summary.substr(gridAt);
    for (const std::string* table : {&coordinates, &gridTable}) {
        const std::vector<std::size_t> first = fieldStarts(*table, names[0]);
        ASSERT_GE(first.size(), 5u);
        for (const std::string& name : names) {
            std::vector<std::size_t> starts = fieldStarts(*table, name);
            starts.resize(std::min(starts.size(), first.size()));
            EXPECT_EQ(starts,
                      std::vector<std::size_t>(first.begin(), first.begin() + starts.size()))
                << name << " in\n"
                << *table;
        }
    }
    const std::size_t excludedAt = summary.find("\nVectors left out");
    ASSERT_NE(excludedAt, std::string::npos);
    const std::string excluded = summary.substr(excludedAt);
    const std::vector<std::size_t> shortest = fieldStarts(excluded, "Q-NORD");
    EXPECT_EQ(shortest.size(), 7u) << excluded;
    EXPECT_EQ(fieldStarts(excluded, "NORD-Twelve chars"), shortest) << excluded;
    EXPECT_EQ(fieldStarts(excluded, "Q-" + names[3]), shortest) << excluded;
}

}  // namespace
}  // namespace torvek::front

namespace torvek::front {
namespace {

TEST(FrontResults, VectorEndsFindTheFirstSiteOfTheirNameIgnoringCase) {
    AdjustedDataSet ds;
    ds.setReferencePoint(47.0, 8.0);
    for (const char* name : {"ab01", "CD02", "AB01", "ef03"}) {
        EXPECT_TRUE(ds.addSite(name));
    }
    EXPECT_TRUE(ds.addVector("Cd02", "EF03"));
    EXPECT_TRUE(ds.addVector("AB01", "GONE"));
    const NetworkResults r = collectResults(ds);
    ASSERT_EQ(r.vectors.size(), 2u);
    EXPECT_EQ(r.vectors[0].fromIndex, 1);
    EXPECT_EQ(r.vectors[0].toIndex, 3);
    EXPECT_EQ(r.vectors[1].fromIndex, 0);  // the first of the two that differ only in case
    EXPECT_EQ(r.vectors[1].toIndex, -1);

    // The misfits of an adjusted run find the ends the same way, short names included (up to
    // their first zero byte): the vector between two found sites has one, the other none.
    EXPECT_TRUE(ds.addSite("xy"));
    EXPECT_TRUE(ds.addVector("XY", "ab01"));
    double latitude = 47.0;
    for (bool more = ds.firstSite(); more; more = ds.nextSite(), latitude += 0.01) {
        EXPECT_TRUE(ds.setAdjustedSite({latitude, 8.0, 500, 0, 0, 0}));
    }
    ds.setAdjustmentSucceeded(1);
    const std::vector<VectorMisfit> misfits = vectorMisfits(ds);
    ASSERT_EQ(misfits.size(), 3u);
    EXPECT_TRUE(misfits[0].available);
    EXPECT_FALSE(misfits[1].available);
    EXPECT_TRUE(misfits[2].available);
}

// Vectors by their largest normalized residual, largest first; equal ones keep their order in the
// data set, and vectors without results are left out.
TEST(FrontResults, VectorsByResidualKeepTheOrderOfEqualOnes) {
    NetworkResults r;
    const double residuals[] = {1.5, 3.0, 1.5, 0.2, 3.0, 1.5};
    for (std::size_t i = 0; i < std::size(residuals); ++i) {
        VectorResult v;
        v.adjusted = i != 3;
        v.largestNormalized = residuals[i];
        r.vectors.push_back(v);
    }
    EXPECT_EQ(vectorsByNormalizedResidual(r), (std::vector<std::size_t>{1, 4, 0, 2, 5}));
}

// A dense network of 1,200 sites: names go only where they hide no other name, and the map's
// note says how many were named.
TEST(FrontPlot, ALargeNetworkNamesSitesOnlyWhereThereIsRoom) {
    AdjustedDataSet ds;
    ds.setReferencePoint(47.0, 8.0);
    constexpr int kSide = 40, kRows = 30;
    for (int i = 0; i < kSide * kRows; ++i) {
        const std::string name = "S" + std::to_string(i);
        EXPECT_TRUE(ds.addSite(name.c_str()));
        ds.setAdjustedSite({47.0 + (i / kSide) * 0.002, 8.0 + (i % kSide) * 0.003, 500, 0, 0, 0});
        if (i > 0) {
            EXPECT_TRUE(ds.addVector(("S" + std::to_string(i - 1)).c_str(), name.c_str()));
        }
    }
    ds.setAdjustmentSucceeded(1);
    const std::string svg = renderNetworkSvg(collectResults(ds));
    struct Label {
        double left, bottom, right;
    };
    std::vector<Label> labels;
    const std::regex text("class=\"site-label\" x=\"([-0-9.]+)\" y=\"([-0-9.]+)\"[^>]*>([^<]+)<");
    for (auto m = std::sregex_iterator(svg.begin(), svg.end(), text); m != std::sregex_iterator();
         ++m) {
        const double x = std::stod((*m)[1]), y = std::stod((*m)[2]);
        // 12-pixel bold names, at most 0.62 of the size per character.
        labels.push_back({x, y, x + (*m)[3].length() * 12 * 0.62});
    }
    ASSERT_GT(labels.size(), 20u);
    ASSERT_LT(labels.size(), 1200u);
    for (std::size_t a = 0; a < labels.size(); ++a) {
        for (std::size_t b = a + 1; b < labels.size(); ++b) {
            const bool apart = labels[a].right <= labels[b].left ||
                               labels[b].right <= labels[a].left ||
                               std::fabs(labels[a].bottom - labels[b].bottom) >= 12;
            EXPECT_TRUE(apart) << a << " and " << b;
        }
    }
    EXPECT_NE(svg.find(std::to_string(labels.size()) + " of 1200 sites named where there is room"),
              std::string::npos);
    // Its plain vectors are merged into paths, and no ellipse covers the map.
    EXPECT_NE(svg.find("<path class=\"vectors\""), std::string::npos);
    EXPECT_EQ(svg.find("<ellipse class"), std::string::npos);
    EXPECT_NE(svg.find("ellipses left out at this density"), std::string::npos);
}

// A document of a large network: the statistics, the coordinates, the flagged vectors and the
// largest residuals, with a note of where every row is; a small one keeps every table whole.
TEST(FrontResultsDocument, ALargeNetworkShowsTheWorstRowsAndSaysWhereTheRestIs) {
    const auto network = [](std::size_t sites, std::size_t vectors, std::size_t flagged) {
        NetworkResults r;
        r.succeeded = true;
        r.tauCriticalValue = 3.5;
        r.sites.resize(sites);
        for (std::size_t i = 0; i < vectors; ++i) {
            VectorResult v;
            v.from = "A";
            v.to = "B";
            v.record = static_cast<int>(i + 1);
            v.adjusted = true;
            // Largest normalized residuals grow with the record number: the flagged are the last.
            v.largestNormalized = v.signedLargestNormalized =
                3.0 * i / vectors + (i + flagged >= vectors ? 1.0 : 0.0);
            v.flagged = i + flagged >= vectors;
            r.vectors.push_back(v);
        }
        return buildResultsDocument("t", makeResultsView(r, DocumentHeader{}, nullptr));
    };
    const auto table = [](const ResultsDocument& d, const std::string& id) {
        for (const ResultTable& t : d.tables) {
            if (t.id == id) {
                return &t;
            }
        }
        return static_cast<const ResultTable*>(nullptr);
    };
    const ResultsDocument small = network(1000, 2000, 5);
    ASSERT_NE(table(small, "residuals"), nullptr);
    EXPECT_EQ(table(small, "residuals")->rows.size(), 2000u);
    EXPECT_NE(table(small, "precision"), nullptr);
    // Few sites with many vectors (the national network: 232 sites, 5,589 vectors) is large too.
    EXPECT_EQ(table(network(232, 2001, 5), "residuals")->rows.size(), 200u);

    const ResultsDocument large = network(1001, 12000, 5);
    const ResultTable* residuals = table(large, "residuals");
    ASSERT_NE(residuals, nullptr);
    ASSERT_EQ(residuals->rows.size(), 200u);
    EXPECT_EQ(residuals->rows.front().cells[2], "12000");  // the largest first
    EXPECT_EQ(residuals->rows.front().style, RowStyle::kFlagged);
    ASSERT_FALSE(residuals->notes.empty());
    EXPECT_NE(residuals->notes.back().find("The 200 largest of 12000 rows"), std::string::npos);
    EXPECT_NE(table(large, "geodetic"), nullptr);
    EXPECT_EQ(table(large, "precision"), nullptr);
    EXPECT_EQ(table(large, "geocentric"), nullptr);
    bool said = false;
    for (const auto& [label, value] : large.header) {
        said = said ||
               (label == "Tables" && value.find("1001 sites, 12000 vectors") != std::string::npos);
    }
    EXPECT_TRUE(said);
    // Every flagged vector is shown, up to a thousand.
    EXPECT_EQ(table(network(1001, 12000, 700), "residuals")->rows.size(), 700u);
    EXPECT_EQ(table(network(1001, 12000, 3000), "residuals")->rows.size(), 1000u);
}

}  // namespace
}  // namespace torvek::front

namespace torvek::front {
namespace {

// Flagged vectors criss-crossing twelve sites: up to 100 flagged vectors every one is labelled;
// beyond, the worst first and the rest only where there is room, and the map says how many.
TEST(FrontPlot, ManyFlaggedVectorsAreLabelledWorstFirstWhereThereIsRoom) {
    const auto plot = [](std::size_t flagged) {
        NetworkResults r;
        r.succeeded = true;
        for (int i = 0; i < 12; ++i) {
            SiteResult s;
            s.name = "S" + std::to_string(i);
            s.adjusted = true;
            s.east = 1000.0 * (i % 4);
            s.north = 1000.0 * (i / 4);
            r.sites.push_back(s);
        }
        for (std::size_t k = 0; k < flagged; ++k) {
            VectorResult v;
            v.fromIndex = static_cast<int>(k % 12);
            v.toIndex = static_cast<int>((k * 5 + 1) % 12);
            v.from = r.sites[static_cast<std::size_t>(v.fromIndex)].name;
            v.to = r.sites[static_cast<std::size_t>(v.toIndex)].name;
            v.record = static_cast<int>(k + 1);
            v.adjusted = v.flagged = true;
            v.largestNormalized = v.signedLargestNormalized = 5.0 + 0.1 * static_cast<double>(k);
            r.vectors.push_back(v);
        }
        return renderNetworkSvg(r);
    };
    const auto labels = [](const std::string& svg) {
        std::size_t count = 0;
        for (std::size_t at = svg.find("class=\"flag-label\""); at != std::string::npos;
             at = svg.find("class=\"flag-label\"", at + 1)) {
            ++count;
        }
        return count;
    };
    const std::string few = plot(100);
    EXPECT_EQ(labels(few), 100u);
    EXPECT_EQ(few.find("flagged vectors labelled where there is room"), std::string::npos);

    const std::string many = plot(150);
    const std::size_t shown = labels(many);
    EXPECT_GT(shown, 0u);
    EXPECT_LT(shown, 150u);
    EXPECT_NE(many.find(std::to_string(shown) + " of 150 flagged vectors labelled where there is "
                                                "room"),
              std::string::npos);
    // The worst (the last, w = +19.9) is labelled first, so it always has its place.
    EXPECT_NE(many.find("w=+19.9"), std::string::npos);
}

}  // namespace
}  // namespace torvek::front

namespace torvek::front {
namespace {

// Numbers written for the plot read exactly as printf's "%.*f" writes them: rounding at the last
// place (halves of binary fractions included), signs, zero, large values and every precision used.
TEST(FrontTextFormat, FixedNumbersAreThoseOfPrintf) {
    const double values[] = {0.0,   -0.0,   0.005,    0.015,      0.125, -0.125,     2.675,
                             1.005, 99.995, -12.3456, 1e15 + 0.3, 1e-7,  123456.789, -1e300};
    for (const double v : values) {
        for (const int decimals : {0, 1, 2, 6}) {
            std::string ours;
            appendFixed(ours, v, decimals);
            char theirs[400];
            std::snprintf(theirs, sizeof theirs, "%.*f", decimals, v);
            EXPECT_EQ(ours, theirs) << v << " with " << decimals << " decimals";
            // Padded to a width, and through a pattern, with and without a sign.
            for (const int width : {0, 5, 8, 30}) {
                std::string padded;
                appendFixedWidth(padded, v, width, decimals);
                std::snprintf(theirs, sizeof theirs, "%*.*f", width, decimals, v);
                EXPECT_EQ(padded, theirs) << v << " in " << width;
            }
            for (const std::string& pattern :
                 {"%." + std::to_string(decimals) + "f", "%+." + std::to_string(decimals) + "f"}) {
                std::snprintf(theirs, sizeof theirs, pattern.c_str(), v);
                EXPECT_EQ(formatNumber(pattern.c_str(), v), theirs) << pattern << " " << v;
            }
        }
    }
    // Other patterns go through printf as they are.
    EXPECT_EQ(formatNumber("%8.3f", 2.5), "   2.500");
    EXPECT_EQ(formatNumber("%.12f", 0.1), "0.100000000000");
    EXPECT_EQ(formatNumber("%.2fm", 1.0), "1.00m");
    EXPECT_EQ(formatNumber("%+.1f", -0.04), "-0.0");
}

}  // namespace
}  // namespace torvek::front

namespace torvek::front {
namespace {

// A network beyond the whole documents (2,001 vectors between 30 sites): its GeoJSON still holds
// every site and vector, with the values of the results, and leaves out only the misfits a vector
// has none of; its KML keeps a placemark with attributes for the flagged vector and the one left
// out, and draws the plain ones merged.
TEST(FrontGisFiles, ALargeNetworkKeepsEveryFeatureAndMergesOnlyPlainLines) {
    NetworkResults r;
    r.succeeded = true;
    for (int i = 0; i < 30; ++i) {
        SiteResult site;
        site.name = "S" + std::to_string(i);
        site.adjusted = true;
        site.adjustedLatitude = site.latitude = 47.0 + 0.01 * i;
        site.adjustedLongitude = site.longitude = 8.0 + 0.02 * (i % 7);
        r.sites.push_back(site);
    }
    constexpr int kVectors = 2001;
    for (int k = 0; k < kVectors; ++k) {
        VectorResult v;
        v.fromIndex = k % 30;
        v.toIndex = (k * 7 + 1) % 30;
        v.from = r.sites[static_cast<std::size_t>(v.fromIndex)].name;
        v.to = r.sites[static_cast<std::size_t>(v.toIndex)].name;
        v.record = k + 1;
        v.adjusted = k != 5;  // record 6 left out, with a misfit
        v.flagged = k == 9;   // record 10 above tau
        v.residual = {0.001 * k, -0.0005, 0.002};
        v.hasMisfit = k == 5;
        v.misfit = {0.012, 0.0, -0.004};
        r.vectors.push_back(v);
    }
    const ResultsView view = makeResultsView(r, DocumentHeader{}, nullptr);
    const Json geo = Json::parse(renderGeoJson("big", view));
    ASSERT_EQ(geo["features"].size(), 30u + kVectors);
    const Json& plain = geo["features"][30 + 100]["properties"];
    EXPECT_EQ(plain["record"], 101);
    EXPECT_DOUBLE_EQ(plain["residualNorthMm"].get<double>(), 100.0);  // 0.1 m, 0.1 mm steps
    EXPECT_FALSE(plain.contains("misfitNorthMm"));
    const Json& leftOut = geo["features"][30 + 5]["properties"];
    EXPECT_DOUBLE_EQ(leftOut["misfitNorthMm"].get<double>(), 12.0);
    EXPECT_TRUE(leftOut["residualNorthMm"].is_null());

    const std::string kml = renderKml("big", view);
    EXPECT_NE(kml.find("<name>S9-S4</name><styleUrl>#flagged</styleUrl><ExtendedData>"),
              std::string::npos);
    EXPECT_NE(kml.find("<name>S5-S6</name><styleUrl>#unused</styleUrl><ExtendedData>"),
              std::string::npos);
    std::size_t merged = 0;
    for (std::size_t at = kml.find("<LineString>"); at != std::string::npos;
         at = kml.find("<LineString>", at + 1)) {
        ++merged;
    }
    EXPECT_EQ(merged, static_cast<std::size_t>(kVectors));  // every vector drawn once
    EXPECT_NE(kml.find("<name>Adjusted vectors within tau</name>"), std::string::npos);

    // Written to files, in pieces gathered feature by feature and taken by the file writer
    // without a copy, both files hold exactly the text rendered whole.
    const testing::TempDirectory folder;
    std::string error, written;
    ASSERT_TRUE(writeFileInPieces(
        folder.path() + "/big.geojson",
        [&](const TextSink& sink) {
            writeGeoJson("big", view, GeoJsonLayers::kSitesAndVectors, sink);
        },
        error))
        << error;
    ASSERT_TRUE(readWholeFile(folder.path() + "/big.geojson", 1 << 26, written, error)) << error;
    EXPECT_EQ(written, renderGeoJson("big", view));
    ASSERT_TRUE(writeFileInPieces(
        folder.path() + "/big.kml", [&](const TextSink& sink) { writeKml("big", view, sink); },
        error))
        << error;
    ASSERT_TRUE(readWholeFile(folder.path() + "/big.kml", 1 << 26, written, error)) << error;
    EXPECT_EQ(written, kml);
}

// A file written in pieces holds them in order, whatever their sizes: small ones gathered, large
// ones (from kSinkPieceBytes on) written as they come, between and after small ones, and ones that
// fill the gathering buffer to its brim.
TEST(FrontFileOutput, PiecesOfEverySizeArriveInOrder) {
    const testing::TempDirectory folder;
    std::string expected;
    const std::size_t sizes[] = {1,
                                 10,
                                 kSinkPieceBytes - 1,
                                 kSinkPieceBytes,
                                 3,
                                 kSinkPieceBytes + 1,
                                 (std::size_t{1} << 20) - 7,
                                 2,
                                 5 * kSinkPieceBytes,
                                 0,
                                 1000};
    std::string error, written;
    ASSERT_TRUE(writeFileInPieces(
        folder.path() + "/pieces.txt",
        [&](const TextSink& sink) {
            char letter = 'a';
            for (const std::size_t size : sizes) {
                const std::string piece(size, letter++);
                expected += piece;
                sink(piece);
            }
        },
        error))
        << error;
    ASSERT_TRUE(readWholeFile(folder.path() + "/pieces.txt", 1 << 26, written, error)) << error;
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected);
}

}  // namespace
}  // namespace torvek::front
