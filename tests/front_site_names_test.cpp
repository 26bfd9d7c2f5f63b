// Full site names: the four-character codes the data set needs (unique, the same on every run,
// kept in a project), and the full names put back where the program's report prints codes.
#include <gtest/gtest.h>

#include <set>

#include "front/documents/csv_export.h"
#include "front/documents/report_site_names.h"
#include "front/project/project_json.h"
#include "front/project/site_name_mapping.h"

namespace torvek::front {
namespace {

// Each site as "NAME" or "NAME=CODE" (a code the project gives).
std::vector<SiteNaming> naming(const std::vector<std::string>& sites) {
    std::vector<SiteNaming> out;
    for (const std::string& site : sites) {
        const std::size_t equals = site.find('=');
        if (equals == std::string::npos) {
            out.push_back({site, std::nullopt});
        } else {
            out.push_back({site.substr(0, equals), site.substr(equals + 1)});
        }
    }
    return out;
}

TEST(FrontSiteCodes, EverySiteGetsAUniqueCodeOfFourCharacters) {
    const struct {
        std::vector<std::string> sites;
        std::vector<std::string> codes;
    } cases[] = {
        {{"A", "B2", "BIRK"}, {"A   ", "B2  ", "BIRK"}},
        {{"STATION9"}, {"STAT"}},
        // Cut names that read alike, also ignoring case, get made codes.
        {{"NORTH1", "NORTH2", "North3"}, {"NORT", "NOR0", "Nor1"}},
        {{"Nort", "NORTHERN"}, {"Nort", "NOR0"}},
        {{"16140260", "16140250", "1614"}, {"1610", "1611", "1614"}},
        // Names beyond ASCII keep their ASCII letters and digits.
        {{"K\u00f6ln", "\u00c6r\u00f8 7", "\u5317\u4eac"}, {"Kln0", "r700", "0000"}},
        // A code the project gives is kept, and a name that is its own code yields to it.
        {{"NORTH1", "NORTH2=NORT"}, {"NOR0", "NORT"}},
        {{"ABCD", "LONGNAME=abcd"}, {"ABC0", "abcd"}},
        {{"X=Q"}, {"Q   "}},
    };
    for (const auto& c : cases) {
        SiteCodes codes;
        SiteNamingError error;
        ASSERT_TRUE(assignSiteCodes(naming(c.sites), codes, error)) << error.what;
        EXPECT_EQ(codes.codes, c.codes) << c.sites[0];
    }
}

TEST(FrontSiteCodes, NamesAndCodesThatCannotBeUsedAreRefused) {
    const struct {
        std::vector<std::string> sites;
        std::size_t site;
        const char* field;
        const char* what;
    } cases[] = {
        {{"ab", "AB"}, 1, "name", "used twice"},
        {{""}, 0, "name", "empty"},
        {{" AB"}, 0, "name", "blank"},
        {{"A\tB"}, 0, "name", "control character"},
        {{"A\xff"}, 0, "name", "not UTF-8"},
        {{"NORTH1=NORTH"}, 0, "code", "one to four characters"},
        {{"NORTH1=N\u00d6"}, 0, "code", "printable ASCII"},
        {{"NORTH1=N ", "B"}, 0, "code", "blank"},
        {{"NORTH1=NORT", "NORTH2=nort"}, 1, "code", "given to \"NORTH1\" too"},
    };
    for (const auto& c : cases) {
        SiteCodes codes;
        SiteNamingError error;
        EXPECT_FALSE(assignSiteCodes(naming(c.sites), codes, error)) << c.sites[0];
        EXPECT_EQ(error.site, c.site) << c.sites[0];
        EXPECT_EQ(error.field, c.field) << c.sites[0];
        EXPECT_NE(error.what.find(c.what), std::string::npos) << error.what;
    }
}

// Thousands of names that all cut to one prefix stay unique, and a site added to a project with
// its codes kept takes a new code without moving any other.
TEST(FrontSiteCodes, ManySimilarNamesAndAddedSites) {
    std::vector<std::string> names;
    for (int i = 0; i < 3000; ++i) {
        names.push_back("POINT" + std::to_string(i));
    }
    SiteCodes codes;
    SiteNamingError error;
    ASSERT_TRUE(assignSiteCodes(naming(names), codes, error)) << error.what;
    std::set<std::string> folded;
    for (const std::string& code : codes.codes) {
        ASSERT_EQ(code.size(), 4u);
        folded.insert(foldAsciiCase(code));
    }
    EXPECT_EQ(folded.size(), names.size());

    std::vector<std::string> kept = {"NEW POINT"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        kept.push_back(names[i] + "=" + codes.codes[i]);
    }
    SiteCodes again;
    ASSERT_TRUE(assignSiteCodes(naming(kept), again, error)) << error.what;
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(again.codes[i + 1], codes.codes[i]);
    }
    EXPECT_EQ(folded.count(foldAsciiCase(again.codes[0])), 0u);
}

// A report as the program sends it: plain pieces, one per print.
ReportDocument reportOf(const std::vector<std::string>& pieces) {
    ReportDocument document;
    for (const std::string& piece : pieces) {
        document.addPiece(2, piece);  // plain text, inserted at the end
    }
    return document;
}

TEST(FrontReportNames, CodesAreReplacedOnlyWhereTheReportPrintsNames) {
    SiteNameTable names;
    names.add("Birk", "Birkenhof 1");
    names.add("KOPF", "Kopf");  // shorter than its code: the columns still line up
    names.add("Note", "Notes Hill");
    names.add("1614", "16140260");
    names.add("LONG", "A name longer than the column");
    names.add("SAGE", "SAGE");  // its own name: never touched
    const struct {
        std::vector<std::string> pieces;
        std::string expected;
    } cases[] = {
        {{"Control sites    Constraints \n", " ",
          "Birk                Latitude  Longitude Elevation \n ",
          "KOPF                                    Elevation \n ",
          "LONG                Latitude  Longitude           \n "},
         "Control sites    Constraints \n"
         " Birkenhof 1         Latitude  Longitude Elevation \n"
         " Kopf                                    Elevation \n"
         " A name longer than the column Latitude  Longitude           \n "},
        {{"\t", "Sites:  ", " ", "Birk  ", "SAGE  ", "1614  ", " ", "\n "},
         "\tSites:   Birkenhof 1  SAGE  16140260   \n "},
        {{"\t", "Vectors:  ", " ", "Birk-1614  ", "SAGE-Note  ", " ", "\n "},
         "\tVectors:   Birkenhof 1-16140260  SAGE-Notes Hill   \n "},
        {{"Error: Site Note not found\n "}, "Error: Site Notes Hill not found\n "},
        {{"Error: The vector #00012:Birk-1614 not found\n "},
         "Error: The vector #00012:Birkenhof 1-16140260 not found\n "},
        {{"Error: Solution is singular. Unknown  12 ( site 1614)\n "},
         "Error: Solution is singular. Unknown  12 ( site 16140260)\n "},
        // Text that only looks like a code is left alone.
        {{"Note: Bias constraint(s) applied by the program.\n "},
         "Note: Bias constraint(s) applied by the program.\n "},
        {{"Chi-square: 1614.25\n ", "Birk                Latitude  Longitude Elevation \n "},
         "Chi-square: 1614.25\n Birk                Latitude  Longitude Elevation \n "},
        {{"Sites:  ", "Birk  ", "SAGE ", "\n"}, "Sites:  Birk  SAGE \n"},
    };
    for (const auto& c : cases) {
        ReportDocument document = reportOf(c.pieces);
        showFullSiteNames(document, names);
        EXPECT_EQ(document.plainText(), c.expected) << c.pieces[0];
    }
}

// The codes an import makes go into the project it writes; the project gives the same data set,
// and an export with the names shows them in full with their codes.
TEST(FrontReportNames, ImportedCodesRoundTrip) {
    const std::string text = R"({"sites": [
        {"name": "Hohe Warte 2", "latitude": 47.0, "longitude": 8.0, "elevation": 400,
         "fixed": true},
        {"name": "Hohe Warte 1", "latitude": 47.01, "longitude": 8.0, "elevation": 410}],
      "vectors": [{"from": "hohe warte 2", "to": "Hohe Warte 1", "dX": -801.4, "dY": -112.6,
                   "dZ": 757.8, "sigmas": {"x": 0.003, "y": 0.003, "z": 0.003}}]})";
    AdjustedDataSet first;
    ImportReport report;
    ASSERT_TRUE(importProject(text, "p.json", {}, first, report)) << report.error;
    EXPECT_EQ(std::string(first.sites()[0].name.data(), 4), "Hohe");
    EXPECT_EQ(std::string(first.sites()[1].name.data(), 4), "Hoh0");
    const Json exported = exportProject(first, report.siteNames);
    EXPECT_EQ(exported["sites"][1]["name"], "Hohe Warte 1");
    EXPECT_EQ(exported["sites"][1]["code"], "Hoh0");
    EXPECT_EQ(exported["vectors"][0]["from"], "Hohe Warte 2");
    EXPECT_FALSE(exportProject(first)["sites"][1].contains("code"));
    const std::string csv = exportCsv(first, &report.siteNames);
    EXPECT_NE(csv.find("record,name,code,latitude"), std::string::npos);
    EXPECT_NE(csv.find(",Hohe Warte 1,Hoh0,"), std::string::npos);
    EXPECT_NE(csv.find("record,from,fromCode,to,toCode,dX"), std::string::npos);
    EXPECT_NE(csv.find(",Hohe Warte 2,Hohe,Hohe Warte 1,Hoh0,"), std::string::npos);

    // Reordered, the exported project keeps its codes.
    Json reordered = exported;
    std::swap(reordered["sites"][0], reordered["sites"][1]);
    AdjustedDataSet second;
    ASSERT_TRUE(importProjectDocument(reordered, "e.json", {}, second, report)) << report.error;
    EXPECT_EQ(std::string(second.sites()[0].name.data(), 4), "Hoh0");
    EXPECT_EQ(first.vectors()[0].fromSite.bytes, second.vectors()[0].fromSite.bytes);
}

}  // namespace
}  // namespace torvek::front
