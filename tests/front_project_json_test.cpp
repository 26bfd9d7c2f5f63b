// The readable project format: import, export, round trips, safe site names and the messages
// for bad input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#include "front/cli/convert_commands.h"
#include "front/documents/csv_export.h"
#include "front/files/file_output.h"
#include "front/project/adjustment_model.h"
#include "front/project/json_text.h"
#include "front/project/project_json.h"
#include "front/project/site_name_mapping.h"
#include "support/temp_directory.h"
#include "support/test_front_end.h"

namespace torvek::front {
namespace {

using torvek::testing::fileExists;
using torvek::testing::TempDirectory;

const char* const kSmallProject = R"({
  // two control sites and a third one, three vectors
  "title": "Small test network",
  "settings": {
    "ellipsoid": "GRS80",
    "referencePoint": {"latitude": 46.5, "longitude": 7.25},
    "confidenceLevel": 99.0,
    "vectorSigmaScale": 1.5,
    "minimallyConstrained": true,
    "datumBias": {"scale": {"value": 0.25, "sigma": 0.5},
                  "rotationUp": {"value": -0.125, "sigma": 0.0625}}
  },
  "sites": [
    {"name": "ALPH", "latitude": 46.51, "longitude": 7.21, "elevation": 612.25,
     "geoidHeight": 49.125, "fixed": true},
    {"name": "BRAV", "latitude": 46.48, "longitude": 7.29, "elevation": 455.5,
     "sigmas": {"latitude": 0.01, "longitude": 0.02, "elevation": 0.05},
     "fixed": {"elevation": true}},
    {"name": "CHAR", "latitude": 46.53, "longitude": 7.27, "elevation": 803.0, "inUse": false}
  ],
  "vectors": [
    {"from": "ALPH", "to": "BRAV", "dX": 1234.5678, "dY": 5678.125, "dZ": -2222.0625,
     "sigmas": {"x": 0.004, "y": 0.003, "z": 0.005},
     "correlations": {"xy": 0.125, "xz": -0.25, "yz": 0.5}, "weightDivisor": 4},
    {"from": "brav", "to": "CHAR", "dX": -10.5, "dY": 3000.25, "dZ": 4000.75,
     "sigmas": {"x": 0.004, "y": 0.004, "z": 0.006}, "inUse": false},
    {"from": "CHAR", "to": "ALPH", "dX": 12.0, "dY": -13.0, "dZ": 14.0,
     "sigmas": {"x": 0.01, "y": 0.01, "z": 0.02},
     "covariances": {"xy": 2.5, "xz": 0.0, "yz": 0.0}}
  ]
})";

AdjustedDataSet importOrFail(const std::string& text, ImportReport& report,
                             ImportOptions options = {}) {
    AdjustedDataSet ds;
    EXPECT_TRUE(importProject(text, "test.json", options, ds, report)) << report.error;
    return ds;
}

std::string importError(const std::string& text) {
    AdjustedDataSet ds;
    ImportReport report;
    EXPECT_FALSE(importProject(text, "bad.json", ImportOptions{}, ds, report));
    EXPECT_EQ(ds.siteCount(), 0) << "a failed import changed the data set";
    return report.error;
}

// A valid project with one thing changed: `sitesJson` and `vectorsJson` replace the lists.
std::string project(const std::string& sitesJson, const std::string& vectorsJson,
                    const std::string& settings = "{}") {
    return "{\"settings\": " + settings + ", \"sites\": " + sitesJson +
           ", \"vectors\": " + vectorsJson + "}";
}

const std::string kTwoSites =
    R"([{"name": "AAAA", "latitude": 46, "longitude": 7, "elevation": 500},
        {"name": "BBBB", "latitude": 46.1, "longitude": 7.1, "elevation": 600}])";
const std::string kOneVector =
    R"([{"from": "AAAA", "to": "BBBB", "dX": 1, "dY": 2, "dZ": 3,
         "sigmas": {"x": 0.01, "y": 0.01, "z": 0.01}}])";

std::string bytesOf(const AdjustedDataSet& ds) {
    const std::vector<std::uint8_t> image = ds.writeImage();
    return std::string(image.begin(), image.end());
}

TEST(FrontProjectImport, EveryFieldReachesTheDataSet) {
    ImportReport report;
    AdjustedDataSet ds = importOrFail(kSmallProject, report);
    EXPECT_EQ(ds.headerText(), "Small test network");
    EXPECT_EQ(ds.ellipsoid().semiMajorAxis, 6378137.0);
    EXPECT_EQ(ds.ellipsoid().inverseFlattening, 298.257222101);  // GRS 80
    EXPECT_EQ(ds.referencePoint().latitude, 46.5);
    EXPECT_EQ(ds.referencePoint().longitude, 7.25);
    const DataSetSettings settings = ds.adjustmentSettings();
    EXPECT_EQ(settings.minimallyConstrained, 1);
    EXPECT_EQ(settings.confidenceLevel, 99.0);
    EXPECT_EQ(settings.vectorSigmaScale, 1.5);
    const auto bias = ds.biasApriori();
    const double expectedBias[kBiasAprioriCount] = {0, 0, 0, 0, -0.125, 0.0625, 0.25, 0.5};
    for (std::size_t i = 0; i < kBiasAprioriCount; ++i) {
        EXPECT_EQ(bias[i], expectedBias[i]) << i;
    }

    ASSERT_EQ(ds.sites().size(), 3u);
    const SiteRecord& alpha = ds.sites()[0];
    EXPECT_EQ(std::string(alpha.name.data(), 4), "ALPH");
    EXPECT_EQ(alpha.recordNumber, 1);
    EXPECT_EQ(alpha.elevation, 612.25);
    EXPECT_EQ(alpha.geoidHeight, 49.125);
    EXPECT_EQ(alpha.latitudeFixed + alpha.longitudeFixed + alpha.elevationFixed, 3);
    const SiteRecord& bravo = ds.sites()[1];
    EXPECT_EQ(bravo.latitudeSigma, 0.01);
    EXPECT_EQ(bravo.longitudeSigma, 0.02);
    EXPECT_EQ(bravo.elevationSigma, 0.05);
    EXPECT_EQ(bravo.latitudeFixed, 0);
    EXPECT_EQ(bravo.elevationFixed, 1);
    EXPECT_EQ(ds.sites()[2].inUse, 0);

    ASSERT_EQ(ds.vectors().size(), 3u);
    const VectorRecord& v = ds.vectors()[0];
    EXPECT_EQ(v.deltaX, 1234.5678);
    EXPECT_EQ(v.sigmaZ, 0.005);
    EXPECT_EQ(v.correlationXZ, -0.25);
    EXPECT_EQ(v.weightDivisor, 4);
    EXPECT_EQ(v.recordNumber, 1);
    // A vector end is matched ignoring case and stored with the site's own spelling.
    EXPECT_EQ(std::string(ds.vectors()[1].fromSite.data(), 4), "BRAV");
    EXPECT_EQ(ds.vectors()[1].inUse, 0);
    EXPECT_EQ(ds.vectors()[2].correlationXY, 2.5);  // a covariance, kept as given
    EXPECT_EQ(ds.vectors()[2].recordNumber, 3);
}

TEST(FrontProjectImport, DefaultsAndTheReferencePointFromTheSites) {
    ImportReport report;
    AdjustedDataSet ds = importOrFail(project(kTwoSites, kOneVector), report);
    EXPECT_EQ(ds.ellipsoid().semiMajorAxis, 6378137.0);
    EXPECT_EQ(ds.ellipsoid().inverseFlattening, 298.257223563);  // WGS 84
    const DataSetSettings settings = ds.adjustmentSettings();
    EXPECT_EQ(settings.minimallyConstrained, 0);
    EXPECT_EQ(settings.confidenceLevel, 95.0);
    EXPECT_EQ(settings.vectorSigmaScale, 1.0);
    EXPECT_EQ(ds.vectors()[0].weightDivisor, 2);
    EXPECT_EQ(ds.sites()[1].geoidHeight, 0.0);
    EXPECT_EQ(ds.adjustmentRecordCount(), 1);
    EXPECT_DOUBLE_EQ(ds.referencePoint().latitude, 46.05);
    EXPECT_DOUBLE_EQ(ds.referencePoint().longitude, 7.05);
    bool noted = false;
    for (const std::string& note : report.notes) {
        noted = noted || note.find("referencePoint") != std::string::npos;
    }
    EXPECT_TRUE(noted);
}

TEST(FrontProjectImport, ReferencePointOfANetworkAcrossTheDateLine) {
    const std::string sites =
        R"([{"name": "EAST", "latitude": -17, "longitude": 179.9, "elevation": 5},
            {"name": "WEST", "latitude": -17.2, "longitude": -179.9, "elevation": 7}])";
    const std::string vectors =
        R"([{"from": "EAST", "to": "WEST", "dX": 1, "dY": 2, "dZ": 3,
             "sigmas": {"x": 0.01, "y": 0.01, "z": 0.01}}])";
    ImportReport report;
    AdjustedDataSet ds = importOrFail(project(sites, vectors), report);
    EXPECT_NEAR(ds.referencePoint().latitude, -17.1, 1e-12);
    EXPECT_NEAR(std::fabs(ds.referencePoint().longitude), 180.0,
                1e-9);  // not 0, the far side of the Earth
}

// The model a project names is read for the run; a project that names none leaves the choice to
// the command line's default.
TEST(FrontProjectImport, ModelNamedInTheSettings) {
    const auto named = [](const std::string& settings) {
        return projectAdjustmentModel(Json::parse(project(kTwoSites, kOneVector, settings)));
    };
    EXPECT_EQ(named(R"({"model": "classic"})"), AdjustmentModel::kClassic);
    EXPECT_EQ(named(R"({"model": "rigorous"})"), AdjustmentModel::kRigorous);
    EXPECT_EQ(named(R"({"confidenceLevel": 95})"), std::nullopt);
    ImportReport report;
    EXPECT_EQ(
        importOrFail(project(kTwoSites, kOneVector, R"({"model": "classic"})"), report).siteCount(),
        2);
}

TEST(FrontProjectNames, ShortNamesArePaddedAndLongOnesGetCodes) {
    const std::string sites =
        R"([{"name": "A", "latitude": 46, "longitude": 7, "elevation": 1},
            {"name": "B2", "latitude": 46.1, "longitude": 7, "elevation": 1},
            {"name": "STATION9", "latitude": 46.2, "longitude": 7, "elevation": 1}])";
    const std::string vectors =
        R"([{"from": "A", "to": "B2", "dX": 1, "dY": 2, "dZ": 3,
             "sigmas": {"x": 0.01, "y": 0.01, "z": 0.01}},
            {"from": "station9", "to": "A", "dX": 1, "dY": 2, "dZ": 3,
             "sigmas": {"x": 0.01, "y": 0.01, "z": 0.01}}])";
    ImportReport report;
    AdjustedDataSet ds = importOrFail(project(sites, vectors), report);
    EXPECT_EQ(std::string(ds.sites()[0].name.data(), 4), "A   ");
    EXPECT_EQ(std::string(ds.sites()[1].name.data(), 4), "B2  ");
    EXPECT_EQ(std::string(ds.sites()[2].name.data(), 4), "STAT");
    EXPECT_EQ(std::string(ds.vectors()[1].fromSite.data(), 4), "STAT");
    int padded = 0, coded = 0;
    for (const std::string& note : report.notes) {
        padded += note.find("2 site names are padded") != std::string::npos;
        coded += note.find("1 site gets a code") != std::string::npos;
    }
    EXPECT_EQ(padded, 1);
    EXPECT_EQ(coded, 1);
    EXPECT_EQ(report.siteNames.nameOf("STAT"), "STATION9");

    // Padded names print unchanged in the vector labels, so every vector is found again.
    for (bool more = ds.firstVector(); more; more = ds.nextVector()) {
        const VectorRecord* wanted = ds.currentVector();
        VectorLabel label;
        ASSERT_TRUE(ds.vectorLabels(label));
        ASSERT_TRUE(ds.seekVector(label));
        EXPECT_EQ(ds.currentVector(), wanted);
    }
}

TEST(FrontProjectErrors, SyntaxErrorsNameTheLineAndColumn) {
    const std::string text = "{\n  \"sites\": [\n    {\"name\": \"AAAA\",, }\n  ]\n}\n";
    const std::string error = importError(text);
    EXPECT_EQ(error.rfind("bad.json: line 3, column 21: ", 0), 0u) << error;
    EXPECT_NE(error.find("syntax error"), std::string::npos) << error;

    EXPECT_NE(importError("").find("line 1"), std::string::npos);
    EXPECT_NE(importError("[1, 2]").find("must be an object"), std::string::npos);
    // A file beyond the limit is refused on its size, before it is read (a sparse file here).
    const TempDirectory folder;
    const std::string huge = folder.path() + "/huge.json";
    torvek::testing::writeFileBytes(huge, "");
    ASSERT_EQ(::truncate(huge.c_str(), static_cast<off_t>(kMaximumProjectSize + 1)), 0);
    std::string contents, error2;
    EXPECT_FALSE(readWholeFile(huge, kMaximumProjectSize, contents, error2));
    EXPECT_NE(error2.find("larger than"), std::string::npos) << error2;
}

TEST(FrontProjectErrors, BadFieldsNameTheFieldAndWhatIsWrong) {
    struct Case {
        std::string text;
        std::string where;
        std::string what;
    };
    const std::string sitesWithLatitude =
        R"([{"name": "AAAA", "latitude": 123, "longitude": 7, "elevation": 500}])";
    const std::vector<Case> cases = {
        {project(sitesWithLatitude, "[]"), "sites[0] (\"AAAA\").latitude", "between -90 and 90"},
        {project(R"([{"name": "AAAA", "latitude": 46, "longitude": 7}])", "[]"),
         "sites[0] (\"AAAA\").elevation", "is missing"},
        {project(R"([{"name": "AAAA", "latitude": "46", "longitude": 7, "elevation": 1}])", "[]"),
         "latitude", "must be a number"},
        {project(R"([{"name": "AAAA", "latitud": 46, "longitude": 7, "elevation": 1}])", "[]"),
         "latitud", "unknown field"},
        {project(kTwoSites, R"([{"from": "AAAA", "to": "CCCC", "dX": 1, "dY": 2, "dZ": 3,
                                 "sigmas": {"x": 0.01, "y": 0.01, "z": 0.01}}])"),
         "vectors[0] (\"AAAA\" to \"CCCC\").to", "no site is named \"CCCC\""},
        {project(kTwoSites, R"([{"from": "AAAA", "to": "aaaa", "dX": 1, "dY": 2, "dZ": 3,
                                 "sigmas": {"x": 0.01, "y": 0.01, "z": 0.01}}])"),
         "vectors[0]", "two different sites"},
        {project(kTwoSites, R"([{"from": "AAAA", "to": "BBBB", "dX": 1, "dY": 2, "dZ": 3}])"),
         "sigmas", "is missing"},
        {project(kTwoSites, R"([{"from": "AAAA", "to": "BBBB", "dX": 1, "dY": 2, "dZ": 3,
                                 "sigmas": {"x": -0.01, "y": 0.01, "z": 0.01}}])"),
         "sigmas.x", "between 0 and"},
        {project(kTwoSites, R"([{"from": "AAAA", "to": "BBBB", "dX": 1, "dY": 2, "dZ": 3,
                                 "sigmas": {"x": 0.01, "y": 0.01, "z": 0.01},
                                 "correlations": {"xy": 1.5}}])"),
         "correlations.xy", "between -1 and 1"},
        {project(kTwoSites, R"([{"from": "AAAA", "to": "BBBB", "dX": 1, "dY": 2, "dZ": 3,
                                 "sigmas": {"x": 0.01, "y": 0.01, "z": 0.01},
                                 "covariances": {"xy": 0.5}}])"),
         "covariances", "as \"correlations\""},
        {project(kTwoSites, R"([{"from": "AAAA", "to": "BBBB", "dX": 1, "dY": 2, "dZ": 3,
                                 "sigmas": {"x": 0.01, "y": 0.01, "z": 0.01},
                                 "weightDivisor": 2.5}])"),
         "weightDivisor", "whole number"},
        {project(kTwoSites, R"([{"from": "AAAA", "to": "BBBB", "dX": 3e7, "dY": 2, "dZ": 3,
                                 "sigmas": {"x": 0.01, "y": 0.01, "z": 0.01}}])"),
         "dX", "between"},
        {project(kTwoSites, kOneVector, R"({"ellipsoid": "Bessel"})"), "settings.ellipsoid",
         "unknown ellipsoid"},
        {project(kTwoSites, kOneVector, R"({"ellipsoid": {"semiMajorAxis": 6378.137,
                                                            "inverseFlattening": 298.26}})"),
         "settings.ellipsoid.semiMajorAxis", "between"},
        {project(kTwoSites, kOneVector, R"({"confidenceLevel": 100})"), "settings.confidenceLevel",
         "between"},
        {project(kTwoSites, kOneVector, R"({"minimallyConstrained": "yes"})"),
         "settings.minimallyConstrained", "true or false"},
        {project(kTwoSites, kOneVector, R"({"model": "strict"})"), "settings.model",
         "\"rigorous\" or \"classic\""},
        {project(kTwoSites, kOneVector, R"({"model": 1})"), "settings.model", "must be"},
        {project(kTwoSites, kOneVector, R"({"frame": 4326})"), "settings.frame", "text in quotes"},
        {project(kTwoSites, kOneVector, R"({"epoch": 1800.5})"), "settings.epoch", "between"},
        {project(kTwoSites, kOneVector, R"({"epoch": "2020.0"})"), "settings.epoch", "number"},
        {project(kTwoSites, kOneVector, R"({"datumBias": {"scale": {"sigma": -1}}})"),
         "settings.datumBias.scale.sigma", "between 0"},
        {R"({"sites": [], "vectors": [], "version": 2})", "version", "version 1"},
        {R"({"vectors": []})", "sites", "is missing"},
        {"{\"title\": \"" + std::string(300, 'x') + "\", \"sites\": [], \"vectors\": []}", "title",
         "at most 256"},
    };
    for (const Case& c : cases) {
        const std::string error = importError(c.text);
        EXPECT_EQ(error.rfind("bad.json: ", 0), 0u) << error;
        EXPECT_NE(error.find(c.where), std::string::npos) << "where: " << error;
        EXPECT_NE(error.find(c.what), std::string::npos) << "what: " << error;
    }
}

TEST(FrontProjectErrors, VectorRecordNumbersMustLetTheProgramFindEveryVector) {
    auto vectorsNumbered = [](int first, int second) {
        return R"([{"from": "AAAA", "to": "BBBB", "record": )" + std::to_string(first) +
               R"(, "dX": 1, "dY": 2, "dZ": 3, "sigmas": {"x": 0.01, "y": 0.01, "z": 0.01}},
                  {"from": "AAAA", "to": "BBBB", "record": )" +
               std::to_string(second) +
               R"(, "dX": 1, "dY": 2, "dZ": 3, "sigmas": {"x": 0.01, "y": 0.01, "z": 0.01}}])";
    };
    ImportReport report;
    AdjustedDataSet ds = importOrFail(project(kTwoSites, vectorsNumbered(7, 12)), report);
    EXPECT_EQ(ds.vectors()[1].recordNumber, 12);
    // A later vector between the same sites with a lower number would never be found.
    std::string error = importError(project(kTwoSites, vectorsNumbered(9, 7)));
    EXPECT_NE(error.find("vectors[1].record"), std::string::npos) << error;
    // Numbers above 99999 take the label's ten columns after the site name.
    ds = importOrFail(project(kTwoSites, vectorsNumbered(1, 100000)), report);
    EXPECT_EQ(ds.vectors()[1].recordNumber, 100000);
    error = importError(project(kTwoSites, vectorsNumbered(1, -1)));
    EXPECT_NE(error.find("vectors[1]"), std::string::npos) << error;
    EXPECT_NE(error.find(".record: must lie between 0"), std::string::npos) << error;
    // Numbers for some vectors only are refused rather than mixed with counted ones.
    const std::string mixed =
        R"([{"from": "AAAA", "to": "BBBB", "record": 5, "dX": 1, "dY": 2, "dZ": 3,
             "sigmas": {"x": 0.01, "y": 0.01, "z": 0.01}},
            {"from": "AAAA", "to": "BBBB", "dX": 1, "dY": 2, "dZ": 3,
             "sigmas": {"x": 0.01, "y": 0.01, "z": 0.01}}])";
    error = importError(project(kTwoSites, mixed));
    EXPECT_NE(error.find("every vector or for none"), std::string::npos) << error;
}

// Every value of the original project appears unchanged in the export (the export adds fields;
// a "fixed": true shorthand comes back as its three flags).
void expectContained(const Json& original, const Json& exported, const std::string& path) {
    if (original.is_object()) {
        ASSERT_TRUE(exported.is_object()) << path;
        for (auto it = original.begin(); it != original.end(); ++it) {
            const std::string at = path + "." + it.key();
            ASSERT_TRUE(exported.contains(it.key())) << at;
            if (it.key() == "fixed" && it.value().is_boolean()) {
                for (const char* c : {"latitude", "longitude", "elevation"}) {
                    EXPECT_EQ(exported[it.key()][c], it.value()) << at;
                }
                continue;
            }
            if (it.key() == "ellipsoid" && it.value().is_string()) {
                EXPECT_EQ(exported[it.key()], it.value()) << at;
                continue;
            }
            expectContained(it.value(), exported[it.key()], at);
        }
    } else if (original.is_array()) {
        ASSERT_TRUE(exported.is_array()) << path;
        ASSERT_EQ(original.size(), exported.size()) << path;
        for (std::size_t i = 0; i < original.size(); ++i) {
            expectContained(original[i], exported[i], path + "[" + std::to_string(i) + "]");
        }
    } else if (original.is_number()) {
        ASSERT_TRUE(exported.is_number()) << path;
        EXPECT_EQ(original.get<double>(), exported.get<double>()) << path;  // bit for bit
    } else if (original.is_string() && path.size() > 5 &&
               (path.substr(path.size() - 5) == ".from" || path.substr(path.size() - 3) == ".to")) {
        // Vector ends come back with the site's own spelling.
        EXPECT_EQ(foldAsciiCase(original.get<std::string>()),
                  foldAsciiCase(exported.get<std::string>()))
            << path;
    } else {
        EXPECT_EQ(original, exported) << path;
    }
}

TEST(FrontProjectRoundTrip, JsonToDataSetToJsonIsLossless) {
    for (const std::string& file :
         {std::string(TORVEK_SOURCE_DIR) + "/examples/example-network.json",
          std::string("inline")}) {
        std::string text = kSmallProject;
        std::string error;
        if (file != "inline") {
            ASSERT_TRUE(readWholeFile(file, kMaximumProjectSize, text, error)) << error;
        }
        ImportReport report;
        const AdjustedDataSet first = importOrFail(text, report);
        const Json exported = Json::parse(exportProjectText(first));
        expectContained(Json::parse(text, nullptr, true, true), exported, file);

        // The exported text is itself a project that gives the same data set, byte for byte,
        // and exports to the same text.
        const AdjustedDataSet second = importOrFail(exportProjectText(first), report);
        EXPECT_EQ(bytesOf(first), bytesOf(second)) << file;
        EXPECT_EQ(exportProjectText(first), exportProjectText(second)) << file;
    }
}

// A data set with every result field and every preserved byte filled with random values.
AdjustedDataSet filledDataSet(std::mt19937_64& random) {
    ImportReport report;
    AdjustedDataSet ds = importOrFail(kSmallProject, report);
    std::uniform_real_distribution<double> value(-1e4, 1e4);
    std::uniform_int_distribution<int> byte(0, 255);
    for (bool more = ds.firstSite(); more; more = ds.nextSite()) {
        SiteRecord& s = *ds.currentSite();
        for (double* d :
             {&s.adjustedLatitude, &s.adjustedLongitude, &s.adjustedElevation,
              &s.adjustedLatitudeSigma, &s.adjustedLongitudeSigma, &s.adjustedElevationSigma}) {
            *d = value(random);
        }
        for (auto* a :
             {&s.lastCorrection, &s.constraintResidual, &s.normalizedConstraintResidual}) {
            for (double& d : *a) {
                d = value(random);
            }
        }
        s.recordSpare = static_cast<std::int32_t>(random());
    }
    ds.firstVector();
    do {
        VectorRecord& v = *ds.currentVector();
        for (double* d :
             {&v.localSigmaNorth, &v.localSigmaEast, &v.localSigmaUp, &v.adjustedDeltaX,
              &v.adjustedDeltaY, &v.adjustedDeltaZ, &v.adjustedNorth, &v.adjustedEast,
              &v.adjustedUp, &v.adjustedLocalSigmaNorth, &v.adjustedLocalSigmaEast,
              &v.adjustedLocalSigmaUp, &v.adjustedSigmaX, &v.adjustedSigmaY, &v.adjustedSigmaZ,
              &v.adjustedCorrelationXY, &v.adjustedCorrelationXZ, &v.adjustedCorrelationYZ}) {
            *d = value(random);
        }
        for (double& d : v.localCorrelation)
            d = value(random);
        for (double& d : v.vectorTestResults)
            d = value(random);
        for (double& d : v.adjustedLocalCorrelation)
            d = value(random);
    } while (ds.nextVector());
    AdjustmentRecord& r = *ds.currentAdjustmentRecord();
    for (auto& b : r.headerReserved)
        b = static_cast<std::uint8_t>(byte(random));
    for (auto& b : r.flagPadding)
        b = static_cast<std::uint8_t>(byte(random));
    for (auto& b : r.trailingPadding)
        b = static_cast<std::uint8_t>(byte(random));
    for (double& d : r.reserved)
        d = value(random);
    for (double& d : r.biasResults)
        d = value(random);
    r.observationCount = 90;
    r.unknownCount = 43;
    r.degreesOfFreedom = 47;
    r.iterationCount = 2;
    r.chiSquare = value(random);
    r.chiSquareLower = value(random);
    r.chiSquareUpper = value(random);
    r.tauCriticalValue = value(random);
    r.unitWeightStandardError = value(random);
    r.adjustmentSucceeded = 1;
    DataSetHeader& h = ds.headerRecord();
    for (auto& b : h.headerReserved)
        b = static_cast<std::uint8_t>(byte(random));
    for (auto& b : h.headerPadding)
        b = static_cast<std::uint8_t>(byte(random));
    h.headerOption1 = 7;
    h.headerOption2 = 0;
    h.headerValue1 = -5;
    h.headerValue2 = 123456;
    return ds;
}

TEST(FrontProjectRoundTrip, ExportedResultsImportBackToTheSameBytes) {
    std::mt19937_64 random(42);
    for (int trial = 0; trial < 5; ++trial) {
        const AdjustedDataSet original = filledDataSet(random);
        const std::string text = exportProjectText(original);
        ImportOptions withResults;
        withResults.withResults = true;
        ImportReport report;
        const AdjustedDataSet back = importOrFail(text, report, withResults);
        EXPECT_EQ(bytesOf(original), bytesOf(back)) << "trial " << trial;

        // Without --with-results the results stay behind, and the import says so.
        const AdjustedDataSet inputOnly = importOrFail(text, report);
        EXPECT_EQ(inputOnly.sites()[0].adjustedLatitude, 0.0);
        EXPECT_EQ(inputOnly.adjustmentRecords().back().adjustmentSucceeded, 0);
        bool noted = false;
        for (const std::string& note : report.notes) {
            noted = noted || note.find("--with-results") != std::string::npos;
        }
        EXPECT_TRUE(noted);
    }
}

TEST(FrontProjectRoundTrip, NumbersThatAreNotFiniteSurviveAsText) {
    std::mt19937_64 random(7);
    AdjustedDataSet ds = filledDataSet(random);
    ds.firstSite();
    SiteRecord& s = *ds.currentSite();
    s.adjustedElevationSigma = std::numeric_limits<double>::quiet_NaN();
    s.lastCorrection[1] = -std::numeric_limits<double>::infinity();
    const std::string text = exportProjectText(ds);
    EXPECT_NE(text.find("\"NaN\""), std::string::npos);
    EXPECT_NE(text.find("\"-Infinity\""), std::string::npos);
    ImportOptions withResults;
    withResults.withResults = true;
    ImportReport report;
    const AdjustedDataSet back = importOrFail(text, report, withResults);
    EXPECT_TRUE(std::isnan(back.sites()[0].adjustedElevationSigma));
    EXPECT_EQ(back.sites()[0].lastCorrection[1], -std::numeric_limits<double>::infinity());
    // Input fields must be finite numbers.
    EXPECT_NE(
        importError(
            project(R"([{"name": "AAAA", "latitude": "NaN", "longitude": 7, "elevation": 1}])",
                    "[]"))
            .find("must be a number"),
        std::string::npos);
}

TEST(FrontProjectExport, NamesAndTextsThatAreNotUtf8DoNotBreakTheExport) {
    ProjectDataSet raw;
    ASSERT_TRUE(raw.addSite("\xff\x01Z"));
    raw.setHeaderText("caf\xe9");
    AdjustedDataSet ds;
    ASSERT_TRUE(ds.readImage(raw.writeImage()));
    const std::string text = exportProjectText(ds);
    Json parsed;
    EXPECT_NO_THROW(parsed = Json::parse(text));
    EXPECT_NE(text.find("\xef\xbf\xbd"), std::string::npos);  // U+FFFD
}

TEST(FrontProjectExport, CsvHasEveryColumnAndQuotesWhereNeeded) {
    std::mt19937_64 random(3);
    AdjustedDataSet ds = filledDataSet(random);
    ds.setHeaderText("North, \"upper\" part");
    const std::string csv = exportCsv(ds);
    auto lineAfter = [&](const std::string& heading) {
        const std::size_t at = csv.find(heading + "\n");
        EXPECT_NE(at, std::string::npos) << heading;
        const std::size_t start = at + heading.size() + 1;
        return csv.substr(start, csv.find('\n', start) - start);
    };
    auto columns = [](const std::string& line) {
        return static_cast<int>(std::count(line.begin(), line.end(), ',')) + 1;
    };
    const std::string siteHeader = lineAfter("# sites");
    const std::string vectorHeader = lineAfter("# vectors");
    EXPECT_EQ(columns(siteHeader), 28);    // 2 + 7 inputs + 4 flags + 15 results
    EXPECT_EQ(columns(vectorHeader), 50);  // 3 + 9 + 2 + 6 + 6 + 12 + 12
    // Every row has as many cells as its header.
    const std::size_t sitesAt = csv.find("# sites\n");
    const std::size_t vectorsAt = csv.find("# vectors\n");
    std::size_t rows = 0;
    for (std::size_t p = csv.find('\n', csv.find('\n', sitesAt) + 1) + 1; p < vectorsAt - 1;) {
        const std::size_t end = csv.find('\n', p);
        EXPECT_EQ(columns(csv.substr(p, end - p)), 28);
        p = end + 1;
        ++rows;
    }
    EXPECT_EQ(rows, 3u);
    EXPECT_NE(csv.find("title,\"North, \"\"upper\"\" part\""), std::string::npos);
    // 17 significant digits read back to the same double.
    const std::string firstSite = csv.substr(csv.find('\n', csv.find('\n', sitesAt) + 1) + 1);
    EXPECT_NE(firstSite.find("1,ALPH,46.509999999999998,7.21"), std::string::npos) << firstSite;
}

TEST(FrontProjectCommands, NothingIsWrittenOnError) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    const std::string bad = dir + "/bad.json";
    torvek::testing::writeFileBytes(bad, project(kTwoSites, "[{\"from\": \"AAAA\"}]"));
    const std::string target = dir + "/out.dat";
    EXPECT_EQ(runImport(bad, target, false), 1);
    EXPECT_FALSE(fileExists(target));
    // An existing file stays as it was.
    torvek::testing::writeFileBytes(target, "old contents");
    EXPECT_EQ(runImport(bad, target, false), 1);
    EXPECT_EQ(torvek::testing::readFileBytes(target), "old contents");

    const std::string good = dir + "/good.json";
    torvek::testing::writeFileBytes(good, project(kTwoSites, kOneVector));
    EXPECT_EQ(runImport(good, target, false), 0);
    AdjustedDataSet ds;
    ASSERT_TRUE(ds.readFile(target));
    EXPECT_EQ(ds.siteCount(), 2);
    EXPECT_EQ(ds.vectorCount(), 1);

    ExportRequest request;
    request.dataSet = dir + "/missing.dat";
    request.output = dir + "/x.json";
    EXPECT_EQ(runExport(request), 1);
    EXPECT_FALSE(fileExists(dir + "/x.json"));
    request.dataSet = target;
    request.format = ExportFormat::kCsv;
    request.output = dir + "/x.csv";
    EXPECT_EQ(runExport(request), 0);
    EXPECT_NE(torvek::testing::readFileBytes(dir + "/x.csv").find("AAAA"), std::string::npos);
}

}  // namespace
}  // namespace torvek::front

namespace torvek::front {
namespace {

TEST(FrontProjectDocumentation, TheCommentedExampleImports) {
    std::string doc, error;
    ASSERT_TRUE(readWholeFile(std::string(TORVEK_SOURCE_DIR) + "/docs/project-format.md", 1 << 20,
                              doc, error))
        << error;
    const std::size_t start = doc.find("```jsonc\n");
    ASSERT_NE(start, std::string::npos);
    const std::size_t end = doc.find("\n```", start + 9);
    ImportReport report;
    AdjustedDataSet ds = importOrFail(doc.substr(start + 9, end - start - 9), report);
    EXPECT_EQ(ds.siteCount(), 2);
    EXPECT_EQ(ds.vectorCount(), 1);
    EXPECT_EQ(ds.sites()[1].elevationSigma, 0.05);
}

}  // namespace
}  // namespace torvek::front

namespace torvek::front {
namespace {

// Damaged projects (bytes changed, cut short, spliced) are refused or read, never a crash or an
// escaping exception; a refusal always says where.
TEST(FrontProjectRobustness, DamagedProjectsAreHandled) {
    std::string text, error;
    ASSERT_TRUE(readWholeFile(std::string(TORVEK_SOURCE_DIR) + "/examples/example-network.json",
                              kMaximumProjectSize, text, error));
    std::mt19937 random(11);
    const std::string alphabet = "{}[]\":,.-+eE0123456789 \ntrufalsnNA\\/*";
    int refused = 0;
    for (int trial = 0; trial < 400; ++trial) {
        std::string damaged = text;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % damaged.size();
            switch (random() % 3) {
                case 0:
                    damaged[at] = alphabet[random() % alphabet.size()];
                    break;
                case 1:
                    damaged.erase(at, 1 + random() % 20);
                    break;
                default:
                    damaged.insert(at, damaged.substr(random() % damaged.size(), 30));
                    break;
            }
        }
        AdjustedDataSet ds;
        ImportReport report;
        bool ok = false;
        EXPECT_NO_THROW(ok = importProject(damaged, "d.json", ImportOptions{}, ds, report));
        if (!ok) {
            ++refused;
            EXPECT_EQ(report.error.rfind("d.json: ", 0), 0u) << report.error;
            EXPECT_GT(report.error.size(), 10u);
        }
    }
    EXPECT_GT(refused, 200);
}

}  // namespace
}  // namespace torvek::front

namespace torvek::front {
namespace {

// Text written member by member reads exactly as the JSON library's own dump of the same values:
// zero, whole numbers, the edges of the fixed range, the extremes of a double, a negative zero,
// not-a-number and infinity (null), and texts with quotes, controls and bytes that are not UTF-8.
TEST(FrontJsonText, WritesWhatTheLibrarysDumpWrites) {
    const double numbers[] = {0.0,
                              -0.0,
                              1.0,
                              -7.0,
                              0.1,
                              1e-5,
                              1.234e-4,
                              123456789012345.0,
                              1234567890123456.0,
                              1e16,
                              4899383.8452,
                              std::numeric_limits<double>::max(),
                              std::numeric_limits<double>::denorm_min(),
                              std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity()};
    std::string written;
    CompactObject object(written);
    Json expected = Json::object();
    int k = 0;
    for (const double x : numbers) {
        const std::string key = "n" + std::to_string(k++);
        object.number(key.c_str(), x);
        expected[key] = std::isfinite(x) ? Json(x) : Json(nullptr);
    }
    const std::string texts[] = {"P001",       "say \"hi\"\\",  std::string("tab\tnul\0x", 9),
                                 "\xff\xfe",   "Z\xc3\xbcrich", "del\x7f",
                                 "<a&b> 'c' ~"};
    for (const std::string& t : texts) {
        const std::string key = "t" + std::to_string(k++);
        object.text(key.c_str(), t);
        expected[key] = t;
    }
    object.whole("record", 99999999999LL);
    expected["record"] = 99999999999LL;
    object.flag("yes", true);
    object.null("none");
    expected["yes"] = true;
    expected["none"] = nullptr;
    const double xyz[3] = {1.5, -2.0, 3e-7};
    object.triple("xyz", xyz);
    expected["xyz"] = Json::array({1.5, -2.0, 3e-7});
    object.end();
    EXPECT_EQ(written, expected.dump(-1, ' ', false, Json::error_handler_t::replace));
}

// A number rounded to a fixed count of decimals (the GIS files' degrees, metres and millimetres)
// reads as printf writes it with those decimals, less the trailing zeros (".0" kept), and parses
// back to the rounded number; beyond the fixed range (below 1e-4, fifteen digits and more) and for
// zero it is what appendJsonNumber writes, and null when it is not finite.
TEST(FrontJsonText, RoundedNumbersAreTheirDecimalsAndReadBackExactly) {
    std::uint64_t state = 12345;  // a fixed sweep: the same values every run
    const auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 11) / 9007199254740992.0;  // [0, 1)
    };
    for (int i = 0; i < 200000; ++i) {
        const int decimals = i % (kMostRoundedDecimals + 1);
        const double magnitude = std::pow(10.0, next() * 10.0 - 4.0);  // 1e-4 .. 1e6
        const double value = (i % 3 == 0 ? -1.0 : 1.0) * magnitude;
        std::string written;
        appendRoundedNumber(written, value, decimals);
        const double rounded = roundToDecimals(value, decimals);
        ASSERT_EQ(std::strtod(written.c_str(), nullptr), rounded) << written;
        if (std::fabs(rounded) < 1e-4) {
            continue;
        }
        char printed[64];
        std::snprintf(printed, sizeof printed, "%.*f", decimals, rounded);
        std::string expected = printed;
        if (expected.find('.') == std::string::npos) {
            expected += ".0";
        }
        while (expected.back() == '0' && expected[expected.size() - 2] != '.') {
            expected.pop_back();
        }
        ASSERT_EQ(written, expected) << value << " to " << decimals;
    }
    const auto written = [](double value, int decimals) {
        std::string text;
        appendRoundedNumber(text, value, decimals);
        return text;
    };
    const auto library = [](double value) {
        std::string text;
        appendJsonNumber(text, value);
        return text;
    };
    EXPECT_EQ(written(152.1234567894, 9), "152.123456789");
    EXPECT_EQ(written(-0.00001, 4), "-0.0");
    EXPECT_EQ(written(0.0, 3), "0.0");
    EXPECT_EQ(written(12.0, 2), "12.0");
    EXPECT_EQ(written(0.1, 5), "0.1");
    EXPECT_EQ(written(0.000123456, 9), "0.000123456");
    EXPECT_EQ(written(0.0000123456, 9), library(0.000012346));
    EXPECT_EQ(written(6378137.123456, 9), library(roundToDecimals(6378137.123456, 9)));
    EXPECT_EQ(written(std::numeric_limits<double>::quiet_NaN(), 4), "null");
    EXPECT_EQ(written(-std::numeric_limits<double>::infinity(), 0), "null");
}

}  // namespace
}  // namespace torvek::front
