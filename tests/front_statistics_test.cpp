// The rigorous model's statistics in the front end: the engine's file read and refused, the
// relative tolerance, the front end's statistics file, and the tables and oriented ellipses of the
// documents. The fixture tests/data/rigorous-statistics.json is a hand-made file of a four-site
// network (BASE fixed, NORD and OST adjusted, SUED not adjusted).
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>

#include "dataset/adjusted_data_set.h"
#include "front/documents/html_page.h"
#include "front/documents/network_plot.h"
#include "front/documents/results_document.h"
#include "front/documents/results_rtf.h"
#include "front/documents/rigorous_tables.h"
#include "front/files/file_output.h"
#include "front/results/rigorous_statistics.h"
#include "support/temp_directory.h"

namespace torvek::front {
namespace {

using torvek::testing::TempDirectory;

const std::string kFixture =
    std::string(TORVEK_SOURCE_DIR) + "/tests/data/rigorous-statistics.json";

SiteNameTable fullNames() {
    SiteNameTable names;
    names.add("BASE", "Base pillar");
    names.add("NORD", "Nordhang tower");
    names.add("OST ", "Ost & east station");
    names.add("SUED", "Sued");
    return names;
}

std::string fixtureText() {
    std::string text, error;
    EXPECT_TRUE(readWholeFile(kFixture, 1 << 20, text, error)) << error;
    return text;
}

RigorousStatistics fixture() {
    RigorousStatistics s;
    std::string error;
    EXPECT_TRUE(readRigorousStatistics(kFixture, fullNames(), s, error)) << error;
    return s;
}

TEST(FrontStatisticsFile, ReadsTheEngineFileWithFullNames) {
    const RigorousStatistics s = fixture();
    EXPECT_EQ(s.degreesOfFreedom, 9);
    EXPECT_EQ(s.scaledBy, "apriori");
    EXPECT_DOUBLE_EQ(s.alpha0, 0.001);
    ASSERT_EQ(s.sites.size(), 4u);
    EXPECT_EQ(s.sites[2].code, "OST");
    EXPECT_EQ(s.sites[2].name, "Ost & east station");
    // OST's ellipse states no confidence: it is the file's.
    EXPECT_DOUBLE_EQ(s.sites[2].ellipse.confidence, 0.95);
    EXPECT_DOUBLE_EQ(s.sites[1].covarianceNEU[0][1], 1.5e-6);
    EXPECT_FALSE(s.sites[3].adjusted);
    EXPECT_TRUE(std::isnan(s.sites[3].covarianceXYZ[2][2]));
    ASSERT_EQ(s.vectors.size(), 5u);
    EXPECT_EQ(s.vectors[2].to, "Ost & east station");
    EXPECT_TRUE(s.vectors[2].components[1].outlier);
    EXPECT_EQ(s.vectors[2].components[1].axis, 'y');
    // Vectors not in use: null statistics, or null components altogether.
    EXPECT_TRUE(std::isnan(s.vectors[3].components[0].studentized));
    EXPECT_DOUBLE_EQ(s.vectors[3].components[0].observed, 12.0);
    EXPECT_TRUE(std::isnan(s.vectors[4].components[2].residual));
    ASSERT_EQ(s.snooping.size(), 1u);
    EXPECT_EQ(s.snooping[0].from, "Ost & east station");
    EXPECT_EQ(s.snooping[0].record, 5);
}

// The fixture with one change made by `edit`, read; the error (empty when it was read).
template <typename Edit>
std::string readEdited(Edit edit) {
    nlohmann::json d = nlohmann::json::parse(fixtureText());
    edit(d);
    RigorousStatistics s;
    std::string error;
    parseRigorousStatistics(d.dump(), "stats.json", fullNames(), s, error);
    return error;
}

// Numbers in any JSON spelling read as numbers (a whole number where a decimal is expected, an
// exponent), and the edges of what a file may hold are refused with the field that holds them.
TEST(FrontStatisticsFile, ReadsNumbersInAnySpellingAndRefusesTheirEdges) {
    using J = nlohmann::json;
    nlohmann::json d = nlohmann::json::parse(fixtureText());
    d["sites"][1]["ellipse"]["semiMajor"] = 2;              // whole
    d["vectors"][0]["components"][0]["mdb"] = 2.5e-2;       // exponent
    d["vectors"][0]["components"][1]["redundancy"] = -0.0;  // negative zero
    RigorousStatistics s;
    std::string error;
    ASSERT_TRUE(parseRigorousStatistics(d.dump(), "spelt.json", fullNames(), s, error)) << error;
    EXPECT_EQ(s.sites[1].ellipse.semiMajor, 2.0);
    EXPECT_EQ(s.vectors[0].components[0].mdb, 0.025);
    EXPECT_EQ(s.vectors[0].components[1].redundancy, 0.0);

    EXPECT_EQ(readEdited([](J& d) { d["vectors"][2]["record"] = 18446744073709551615ULL; }),
              "stats.json: vectors[2].record: expected a record number from 1");
    EXPECT_EQ(readEdited([](J& d) { d["vectors"][2]["record"] = 3.0; }),
              "stats.json: vectors[2].record: expected a record number from 1");
    EXPECT_EQ(readEdited([](J& d) { d["degreesOfFreedom"] = -1; }),
              "stats.json: degreesOfFreedom: expected a count from 0");
    // Deeper than any field of the file: refused before it is looked at.
    std::string deep = "{\"model\": ";
    for (int k = 0; k < 100; ++k) {
        deep += "[";
    }
    deep += std::string(100, ']') + "}";
    EXPECT_FALSE(parseRigorousStatistics(deep, "deep.json", fullNames(), s, error));
    EXPECT_EQ(error, "deep.json: nested deeper than 64 levels");
    // Bytes after the document are not JSON either.
    EXPECT_FALSE(
        parseRigorousStatistics(fixtureText() + " {}", "tail.json", fullNames(), s, error));
    EXPECT_EQ(error, "tail.json: not JSON");
}

TEST(FrontStatisticsFile, RefusesMalformedFilesNamingTheField) {
    using J = nlohmann::json;
    EXPECT_EQ(readEdited([](J& d) { d["sigma0"].erase("aposteriori"); }),
              "stats.json: sigma0.aposteriori: missing");
    EXPECT_EQ(readEdited([](J& d) { d["vectors"][0]["components"][1]["studentized"] = "4"; }),
              "stats.json: vectors[0].components[1].studentized: expected a number");
    // A vector in use must carry its statistics.
    EXPECT_EQ(readEdited([](J& d) { d["vectors"][1]["components"][2]["mdb"] = nullptr; }),
              "stats.json: vectors[1].components[2].mdb: expected a number");
    EXPECT_EQ(readEdited([](J& d) { d["sites"][1]["ellipse"]["semiMinor"] = -0.001; }),
              "stats.json: sites[1].ellipse.semiMinor: expected a number from 0");
    EXPECT_EQ(readEdited([](J& d) { d["vectors"][2]["record"] = 0; }),
              "stats.json: vectors[2].record: expected a record number from 1");
    EXPECT_EQ(readEdited([](J& d) { d["scaledBy"] = "both"; }),
              "stats.json: scaledBy: expected \"apriori\" or \"aposteriori\"");
    EXPECT_EQ(readEdited([](J& d) { d["confidence"] = 95; }),
              "stats.json: confidence: expected a probability between 0 and 1");
    EXPECT_EQ(readEdited([](J& d) { d["sites"][1]["name"] = "NORDHANG"; }),
              "stats.json: sites[1].name: expected a site code of one to four characters");
    EXPECT_EQ(readEdited([](J& d) {
                  d["sites"][2]["covarianceNEU"][1] = {1, 2};
              }),
              "stats.json: sites[2].covarianceNEU[1]: expected an array of 3");
    EXPECT_EQ(readEdited([](J& d) { d["model"] = "classic"; }),
              "stats.json: model: expected \"rigorous\"");
    EXPECT_EQ(readEdited([](J& d) { d = J::array(); }),
              "stats.json: the document: expected an object");
    // What may be left out: the snooping rounds and the relative precisions.
    EXPECT_EQ(readEdited([](J& d) { d.erase("snooping"), d.erase("relativePrecision"); }), "");

    RigorousStatistics s;
    std::string error;
    EXPECT_FALSE(parseRigorousStatistics("{\"model\": ", "cut.json", {}, s, error));
    EXPECT_EQ(error, "cut.json: not JSON");
    EXPECT_FALSE(parseRigorousStatistics(std::string(kMaximumStatisticsSize + 1, ' '), "big.json",
                                         {}, s, error));
    EXPECT_EQ(error, "big.json: larger than 128 MiB, more than a statistics file holds");
}

// The file is read element by element: one whose head follows its arrays reads the same, what
// the front end writes in pieces is its text, and a file larger than its network allows is refused.
TEST(FrontStatisticsFile, ReadInAnyOrderAndWrittenBackAlike) {
    const RigorousStatistics expected = fixture();
    nlohmann::ordered_json document = nlohmann::ordered_json::parse(fixtureText());
    nlohmann::ordered_json reordered;
    for (const char* key : {"sites", "vectors", "relativePrecision", "snooping"}) {
        reordered[key] = document[key];
        document.erase(key);
    }
    reordered.update(document);  // the head, confidence included, after every array
    RigorousStatistics s;
    std::string error;
    ASSERT_TRUE(parseRigorousStatistics(reordered.dump(), "late-head.json", fullNames(), s, error))
        << error;
    ASSERT_EQ(s.sites.size(), expected.sites.size());
    ASSERT_EQ(s.relativePrecision.size(), expected.relativePrecision.size());
    EXPECT_EQ(s.sites[2].name, expected.sites[2].name);
    EXPECT_DOUBLE_EQ(s.relativePrecision[0].ellipse.confidence,
                     expected.relativePrecision[0].ellipse.confidence);
    EXPECT_EQ(statisticsFileText(s), statisticsFileText(expected));

    const TempDirectory folder;
    const std::string written = folder.path() + "/s.json";
    ASSERT_TRUE(writeStatisticsFile(written, expected, error)) << error;
    std::string bytes;
    ASSERT_TRUE(readWholeFile(written, 1 << 20, bytes, error)) << error;
    EXPECT_EQ(bytes, statisticsFileText(expected));
    RigorousStatistics unread;
    EXPECT_FALSE(readRigorousStatistics(kFixture, fullNames(), unread, error, 100));
    EXPECT_NE(error.find("larger than"), std::string::npos) << error;
    // The limit follows the network: 4 KB a vector and 2 KB a site beyond 128 MiB.
    EXPECT_EQ(statisticsSizeLimit(10, 10), kMaximumStatisticsSize);
    EXPECT_EQ(statisticsSizeLimit(100000, 600000), 600000u * 4096 + 100000u * 2048);
}

TEST(FrontStatisticsFile, CutOrGarbledFilesAreRefusedWithoutHarm) {
    // Every cut of the fixture, and the fixture with one character replaced at each place by
    // one that changes its meaning, is either read whole or refused with a message; none of it
    // may read past the text or crash (the sanitizer build checks).
    const std::string text = fixtureText();
    RigorousStatistics s;
    std::string error;
    for (std::size_t cut = 0; cut < text.size(); cut += 7) {
        error.clear();
        EXPECT_FALSE(
            parseRigorousStatistics(text.substr(0, cut), "cut.json", fullNames(), s, error));
        EXPECT_FALSE(error.empty());
    }
    for (std::size_t at = 0; at < text.size(); at += 5) {
        for (char c : {'9', '"', 'n', '-', '['}) {
            std::string garbled = text;
            garbled[at] = c;
            error.clear();
            if (!parseRigorousStatistics(garbled, "garbled.json", fullNames(), s, error)) {
                EXPECT_EQ(error.rfind("garbled.json: ", 0), 0u) << error;
            }
        }
    }
}

TEST(FrontRelativeTolerance, ReadsLengthAndPartsPerMillion) {
    RelativeTolerance t;
    std::string error;
    ASSERT_TRUE(parseRelativeTolerance("20mm+50ppm", t, error)) << error;
    EXPECT_DOUBLE_EQ(t.horizontal, 0.020);
    EXPECT_DOUBLE_EQ(t.ppm, 50.0);
    EXPECT_DOUBLE_EQ(t.confidence, 0.95);
    ASSERT_TRUE(parseRelativeTolerance(" 0.015 m + 2.5 PPM ", t, error)) << error;
    EXPECT_DOUBLE_EQ(t.horizontal, 0.015);
    EXPECT_DOUBLE_EQ(t.ppm, 2.5);
    ASSERT_TRUE(parseRelativeTolerance("5 mm", t, error));
    EXPECT_EQ(t.ppm, 0.0);
    ASSERT_TRUE(parseRelativeTolerance("1ppm", t, error));
    EXPECT_EQ(t.horizontal, 0.0);

    const std::pair<const char*, const char*> refused[] = {
        {"", "expected a number from 0 at character 1"},
        {"20", "expected the unit mm, m or ppm at character 3"},
        {"20cm+5ppm", "expected the unit mm, m or ppm at character 3"},
        {"-5mm", "expected a number from 0 at character 1"},
        {"20mm+5mm", "two lengths"},
        {"20mm+5ppm+1mm", "unexpected \"+1mm\""},
        {"1.2.3mm", "expected a number from 0 at character 1"}};
    for (const auto& [text, problem] : refused) {
        EXPECT_FALSE(parseRelativeTolerance(text, t, error)) << text;
        EXPECT_NE(error.find(problem), std::string::npos) << text << ": " << error;
    }
}

TEST(FrontRelativeTolerance, ChecksEachPairAgainstHandComputedLimits) {
    // The standard ellipse (39.35 %) carried to 95 %: sqrt(5.9915), the square root of the
    // chi-square quantile with two degrees of freedom, from the printed table.
    EXPECT_NEAR(ellipseAtConfidence(1.0, 1.0 - std::exp(-0.5), 0.95), std::sqrt(5.9915), 1e-4);
    RigorousStatistics s = fixture();
    RelativeTolerance t;
    std::string error;
    ASSERT_TRUE(parseRelativeTolerance("5 mm + 10 ppm", t, error));
    applyRelativeTolerance(t, s);
    ASSERT_EQ(s.relativePrecision.size(), 3u);
    // 1500 m: 5 + 15 = 20 mm allowed, 19.9 mm held.
    EXPECT_EQ(s.relativePrecision[0].withinTolerance, true);
    // 500 m: 10 mm allowed, 10.1 mm held.
    EXPECT_EQ(s.relativePrecision[1].withinTolerance, false);
    // 1000 m: 15 mm allowed; 7.0 mm at 39.35 % is 7.0 x 2.4477 = 17.1 mm at 95 %.
    EXPECT_EQ(s.relativePrecision[2].withinTolerance, false);
    EXPECT_TRUE(withinRelativeTolerance(t, 1000.0, 0.015));
}

TEST(FrontStatisticsFile, WritesFullNamesAndTheToleranceCheck) {
    RigorousStatistics s = fixture();
    RelativeTolerance t;
    std::string error;
    ASSERT_TRUE(parseRelativeTolerance("20mm+50ppm", t, error));
    applyRelativeTolerance(t, s);
    const nlohmann::json out = nlohmann::json::parse(statisticsFileText(s));
    EXPECT_EQ(out["sites"][2]["name"], "Ost & east station");
    EXPECT_EQ(out["sites"][2]["code"], "OST");
    EXPECT_EQ(out["vectors"][2]["to"], "Ost & east station");
    EXPECT_TRUE(out["vectors"][3]["components"][0]["residual"].is_null());
    EXPECT_TRUE(out["sites"][3]["xyz"][0].is_null());
    EXPECT_EQ(out["relativeTolerance"]["text"], "20mm+50ppm");
    EXPECT_DOUBLE_EQ(out["relativeTolerance"]["horizontal"].get<double>(), 0.02);
    EXPECT_EQ(out["relativePrecision"][1]["withinTolerance"], true);  // 10.1 <= 45 mm
    EXPECT_EQ(out["snooping"][0]["record"], 5);
    EXPECT_DOUBLE_EQ(out["criticalValues"]["delta0"].get<double>(), 4.130);
    // Without a tolerance neither appears.
    const nlohmann::json plain = nlohmann::json::parse(statisticsFileText(fixture()));
    EXPECT_FALSE(plain.contains("relativeTolerance"));
    EXPECT_FALSE(plain["relativePrecision"][0].contains("withinTolerance"));
}

// The fixture's network as an output data set: BASE fixed, SUED not in use.
AdjustedDataSet fourSites() {
    AdjustedDataSet ds;
    ds.setReferencePoint(47.0, 8.0);
    const struct {
        const char* code;
        double lat, lon, h;
    } sites[] = {{"BASE", 47.0, 8.0, 500.0},
                 {"NORD", 47.01, 8.0, 600.0},
                 {"OST ", 47.0, 8.02, 550.0},
                 {"SUED", 46.99, 8.01, 540.0}};
    for (const auto& site : sites) {
        EXPECT_TRUE(ds.addSite(site.code));
        ds.setSitePosition({site.lat, site.lon, site.h, 49.0});
        ds.setAdjustedSite({site.lat, site.lon, site.h, 0.002, 0.003, 0.006});
        if (std::string(site.code) == "BASE") {
            EXPECT_TRUE(ds.setSiteFixed(1, 1, 1));
        }
    }
    EXPECT_TRUE(ds.setSiteInUse(0));  // SUED, the last site added
    const char* ends[][2] = {{"BASE", "NORD"}, {"BASE", "OST "}, {"NORD", "OST "}};
    for (const auto& e : ends) {
        EXPECT_TRUE(ds.addVector(e[0], e[1]));
    }
    ds.setAdjustmentCounts({9, 10, 4, 2});
    ds.setChiSquareTest(5.5, 0.48, 11.1);
    ds.setTauCriticalValue(3.25);
    ds.setAdjustmentSettings({0, 95.0, 1.0});
    ds.setAdjustmentSucceeded(1);
    return ds;
}

ResultsView rigorousView() {
    ResultsView view = makeResultsView(collectResults(fourSites(), fullNames()), {}, nullptr);
    RigorousStatistics s = fixture();
    RelativeTolerance t;
    std::string error;
    EXPECT_TRUE(parseRelativeTolerance("5mm+10ppm", t, error));
    applyRelativeTolerance(t, s);
    attachRigorousStatistics(std::move(s), view);
    return view;
}

const ResultTable* tableOf(const ResultsDocument& d, const std::string& id) {
    for (const ResultTable& t : d.tables) {
        if (t.id == id) {
            return &t;
        }
    }
    return nullptr;
}

TEST(FrontRigorousDocuments, TablesWithConventionsFullNamesAndTestsBySize) {
    const ResultsView view = rigorousView();
    const ResultsDocument d = buildResultsDocument("Run", view);
    const ResultTable* tests = tableOf(d, "rigorous-tests");
    ASSERT_NE(tests, nullptr);
    // Nine tested components (vectors 4 and 5 are out of use), largest |studentized| first:
    // 4.04, -2.58, -1.73, 1.67, -1.57, -1.52, 1.25, 1.13, 0.71.
    const char* order[] = {"4.04",  "-2.58", "-1.73", "1.67", "-1.57",
                           "-1.52", "1.25",  "1.13",  "0.71"};
    ASSERT_EQ(tests->rows.size(), 9u);
    for (std::size_t i = 0; i < 9; ++i) {
        EXPECT_EQ(tests->rows[i].cells[7], order[i]) << i;
    }
    EXPECT_EQ(tests->rows[0].cells[0], "Nordhang tower");
    EXPECT_EQ(tests->rows[0].cells[1], "Ost & east station");
    EXPECT_EQ(tests->rows[0].cells[9], "outlier");
    EXPECT_EQ(tests->rows[0].style, RowStyle::kFlagged);
    EXPECT_NE(tests->introduction.find("v = adjusted - observed"), std::string::npos);
    EXPECT_NE(tests->introduction.find("alpha0 = 0.001, power = 0.8"), std::string::npos);

    const ResultTable* relative = tableOf(d, "rigorous-relative");
    ASSERT_NE(relative, nullptr);
    EXPECT_NE(relative->introduction.find("a-priori sigma0"), std::string::npos);
    EXPECT_EQ(relative->rows[0].cells.back(), "pass");
    EXPECT_EQ(relative->rows[1].cells.back(), "fail");
    EXPECT_EQ(relative->rows[0].cells[10], "20.0");  // allowed: 5 mm + 10 ppm of 1500 m
    // The pair at 39.35 %: 7.0 mm carried to 95 % (x 2.4477) is what was compared.
    EXPECT_EQ(relative->rows[2].cells[9], "17.1");
    ASSERT_NE(tableOf(d, "rigorous-snooping"), nullptr);
    EXPECT_EQ(tableOf(d, "rigorous-snooping")->rows[0].cells[4], "5.12");
    const ResultTable* ellipses = tableOf(d, "rigorous-ellipses");
    ASSERT_NE(ellipses, nullptr);
    // NORD: sN = sqrt(4e-6) = 2.0 mm, sE = 3.0 mm, sU = 6.0 mm; the ellipse 7.6 x 4.5 mm at 73.
    EXPECT_EQ(ellipses->rows[1].cells,
              (std::vector<std::string>{"Nordhang tower", "2.0", "3.0", "6.0", "7.6", "4.5", "73",
                                        "6.0"}));

    const std::string html = renderHtmlPage("Run", ReportDocument{}, view, "");
    const std::string rtf = renderRtfDocument(d, ReportDocument{}, "");
    for (const char* title :
         {"Rigorous model: observation tests", "Rigorous model: data snooping",
          "Rigorous model: relative precisions", "Rigorous model: adjusted vectors"}) {
        EXPECT_NE(html.find(title), std::string::npos) << title;
        EXPECT_NE(rtf.find(title), std::string::npos) << title;
    }
    EXPECT_NE(html.find("<td>Ost &amp; east station</td>"), std::string::npos);
    EXPECT_NE(rtf.find("Nordhang tower"), std::string::npos);
}

TEST(FrontRigorousDocuments, ClassicDocumentsKeepTheirTablesWithoutStatistics) {
    ResultsView view = makeResultsView(collectResults(fourSites(), fullNames()), {}, nullptr);
    const ResultsDocument classic = buildResultsDocument("Run", view);
    std::vector<std::string> ids;
    for (const ResultTable& t : classic.tables) {
        ids.push_back(t.id);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"statistics", "geodetic", "precision", "geocentric",
                                             "residuals", "excluded"}));
    const std::string svg = renderNetworkSvg(view.results, view.plot);
    EXPECT_EQ(svg.find("oriented"), std::string::npos);
    EXPECT_EQ(svg.find("rotate("), std::string::npos);
}

TEST(FrontRigorousPlot, EllipsesTurnToTheirAzimuth) {
    const ResultsView view = rigorousView();
    const std::string svg = renderNetworkSvg(view.results, view.plot);
    const std::regex ellipse(
        "<ellipse class=\"ellipse oriented\" cx=\"([-0-9.]+)\" cy=\"([-0-9.]+)\" rx=\"([0-9.]+)\" "
        "ry=\"([0-9.]+)\" transform=\"rotate\\(([-0-9.]+) ([-0-9.]+) ([-0-9.]+)\\)\"");
    std::vector<std::smatch> found;
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), ellipse);
         it != std::sregex_iterator(); ++it) {
        found.push_back(*it);
    }
    // BASE is fixed (no ellipse) and SUED not adjusted: NORD at 73 degrees, OST at 172.
    ASSERT_EQ(found.size(), 2u);
    const double azimuths[] = {73.0, 172.0};
    const double axes[][2] = {{7.6, 4.5}, {9.9, 3.4}};
    for (std::size_t i = 0; i < 2; ++i) {
        const double rx = std::stod(found[i][3]), ry = std::stod(found[i][4]);
        const double turn = std::stod(found[i][5]);
        EXPECT_EQ(found[i][1], found[i][6]);  // turned about its own centre
        EXPECT_EQ(found[i][2], found[i][7]);
        EXPECT_NEAR(rx / ry, axes[i][0] / axes[i][1], 0.01);
        // The end of the semi-major axis, (rx, 0) before the turn, turned on the screen (y down)
        // and read as an azimuth from north (up), clockwise.
        const double phi = turn * M_PI / 180.0;
        const double east = rx * std::cos(phi), down = rx * std::sin(phi);
        double azimuth = std::atan2(east, -down) * 180.0 / M_PI;
        azimuth += azimuth < 0 ? 360.0 : 0.0;
        EXPECT_NEAR(std::fmod(azimuth, 180.0), azimuths[i], 0.01) << i;
    }
    EXPECT_NE(svg.find("7.6&#215;4.5 mm"), std::string::npos);
    EXPECT_NE(svg.find("(95.0 % confidence"), std::string::npos);
}

// The components of the vectors in use by the size of their studentized residual, largest first
// whatever its sign; equal sizes keep the components' order, and components without a test or of
// vectors out of use are left out.
TEST(FrontRigorousTables, ComponentsBySizeOfTheirStudentizedResidual) {
    RigorousStatistics s;
    const double t[4][3] = {{1.0, -3.0, 2.0}, {3.0, NAN, -1.0}, {9.0, 9.0, 9.0}, {-2.0, 0.5, 3.0}};
    for (int v = 0; v < 4; ++v) {
        RigorousVector vector;
        vector.inUse = v != 2;
        for (int i = 0; i < 3; ++i) {
            vector.components[static_cast<std::size_t>(i)].studentized = t[v][i];
        }
        s.vectors.push_back(vector);
    }
    const std::vector<std::pair<std::size_t, int>> expected = {{0, 1}, {1, 0}, {3, 2}, {0, 2},
                                                               {3, 0}, {0, 0}, {1, 2}, {3, 1}};
    EXPECT_EQ(componentsByStudentized(s), expected);
}

}  // namespace
}  // namespace torvek::front
