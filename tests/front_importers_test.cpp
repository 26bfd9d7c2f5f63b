// The importers of survey files: one textbook network written in every format reads alike and
// agrees with its published values; the real files beside the project read as their README says;
// damaged files are refused with the place of the damage; outputs never replace an input.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "front/import/gps_vector_text.h"
#include "front/import/survey_input.h"
#include "front/project/project_json.h"
#include "front/project/vector_covariance.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/geodetic_conversion.h"
#include "support/command_runner.h"
#include "support/temp_directory.h"
#include "support/test_front_end.h"

namespace torvek::front {
namespace {

using torvek::testing::fileExists;
using torvek::testing::readFileBytes;
using torvek::testing::TempDirectory;
using torvek::testing::writeFileBytes;

const std::string kData = std::string(TORVEK_SOURCE_DIR) + "/tests/data/";
const std::string kRealData = std::string(TORVEK_SOURCE_DIR) + "/../shared/realdata/";

struct Imported {
    bool ok = false;
    AdjustedDataSet dataSet;
    ImportReport survey;   // the importer's notes and warnings
    ImportReport project;  // the data set build's
    std::string error;
};

Imported importFiles(const std::vector<std::string>& paths, SurveyOptions options = {}) {
    Imported out;
    Json document;
    std::string source;
    if (!readInputDocument(paths, options, document, source, out.survey)) {
        out.error = out.survey.error;
        return out;
    }
    out.ok = importProjectDocument(document, source, {}, out.dataSet, out.project);
    out.error = out.project.error;
    return out;
}

bool contains(const std::vector<std::string>& lines, const std::string& part) {
    for (const std::string& line : lines) {
        if (line.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The textbook's published geodetic position of control station A and the published covariance
// of the vector A to C (m^2: xx, xy, xz, yy, yz, zz).
constexpr double kLatitudeA = 43.0 + 15.0 / 60.0 + 46.289 / 3600.0;
constexpr double kLongitudeA = -(89.0 + 59.0 / 60.0 + 42.164 / 3600.0);
constexpr double kHeightA = 1382.618;
const double kCovarianceAC[6] = {9.884e-4, -9.580e-6, 9.520e-6, 9.377e-4, -9.520e-6, 9.827e-4};

TEST(FrontImporters, TextbookNetworkReadsAlikeInEveryFormat) {
    const std::vector<std::vector<std::string>> inputs = {
        {kData + "textbook-network.gps.txt"},
        {kData + "textbook-network.gama-local.xml"},
        {kData + "textbook-network.gama-g3.xml"},
        {kData + "textbook-network.measurements.xml", kData + "textbook-network.stations.xml"},
    };
    const Imported reference = importFiles(inputs[0]);
    ASSERT_TRUE(reference.ok) << reference.error;
    for (const std::vector<std::string>& files : inputs) {
        SCOPED_TRACE(files[0]);
        const Imported got = importFiles(files);
        ASSERT_TRUE(got.ok) << got.error;
        EXPECT_TRUE(got.survey.warnings.empty());
        const auto& sites = got.dataSet.sites();
        const auto& vectors = got.dataSet.vectors();
        ASSERT_EQ(sites.size(), 6u);
        ASSERT_EQ(vectors.size(), 13u);
        // Station A against its published position: 1e-8 degrees is 1 mm.
        EXPECT_EQ(std::string(sites[0].name.data(), 4), "A   ");
        EXPECT_NEAR(sites[0].latitude, kLatitudeA, 1e-8);
        EXPECT_NEAR(sites[0].longitude, kLongitudeA, 1e-8);
        EXPECT_NEAR(sites[0].elevation, kHeightA, 1e-3);
        EXPECT_TRUE(sites[0].latitudeFixed && sites[0].longitudeFixed && sites[0].elevationFixed);
        EXPECT_TRUE(sites[1].elevationFixed);
        EXPECT_FALSE(sites[2].latitudeFixed || sites[2].elevationFixed);
        const VectorRecord& ac = vectors[0];
        EXPECT_NEAR(ac.sigmaX, std::sqrt(kCovarianceAC[0]), 1e-12);
        EXPECT_NEAR(ac.sigmaZ, std::sqrt(kCovarianceAC[5]), 1e-12);
        EXPECT_NEAR(ac.correlationYZ,
                    kCovarianceAC[4] / std::sqrt(kCovarianceAC[3] * kCovarianceAC[5]), 1e-12);
        for (std::size_t i = 0; i < sites.size(); ++i) {
            EXPECT_NEAR(sites[i].latitude, reference.dataSet.sites()[i].latitude, 1e-10);
            EXPECT_NEAR(sites[i].elevation, reference.dataSet.sites()[i].elevation, 1e-4);
        }
        for (std::size_t i = 0; i < vectors.size(); ++i) {
            EXPECT_EQ(vectors[i].deltaX, reference.dataSet.vectors()[i].deltaX);
            EXPECT_NEAR(vectors[i].correlationXY, reference.dataSet.vectors()[i].correlationXY,
                        1e-12);
        }
    }
}

TEST(FrontImporters, AdjustingTheTextFileGivesThePublishedSolution) {
    const TempDirectory temp;
    const std::string& dir = temp.path();
    torvek::testing::CommandOptions options;
    options.environment.emplace_back("TORVEK_BINARY", TORVEK_BINARY);
    const auto run = torvek::testing::runCommand(
        TORVEK_FRONT_BINARY,
        {"adjust", kData + "textbook-network.gps.txt", "-o", dir + "/out.dat", "--no-report"},
        options);
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    AdjustedDataSet out;
    ASSERT_TRUE(out.readFile(dir + "/out.dat"));
    // Published adjusted station C (X, Y, Z in metres); 0.8 mm as in the textbook network test.
    ASSERT_TRUE(out.seekSite("C   "));
    AdjustedSite site;
    ASSERT_EQ(out.getAdjustedSite(site), 1);
    const double e2 = eccentricitySquared(kWgs84InverseFlattening);
    const Vector3 xyz =
        cartesianFromGeodeticAt(kWgs84SemiMajorAxis, e2, radiansFromDegrees(site.latitude),
                                radiansFromDegrees(site.longitude), site.elevation);
    EXPECT_NEAR(xyz[0], 12046.5808, 0.8e-3);
    EXPECT_NEAR(xyz[1], -4649394.0826, 0.8e-3);
    EXPECT_NEAR(xyz[2], 4353160.0644, 0.8e-3);
}

TEST(FrontImporters, RealFilesReadAsTheirReadmeSays) {
    if (!fileExists(kRealData + "demo-g3-01.gama-g3.xml")) {
        GTEST_SKIP() << "the real networks are not beside the project";
    }
    // The small demo: C has no coordinates and starts from B plus the vector B to C, as the
    // peer's own output file gives its starting value (x-given 3896761.77250).
    const Imported demo = importFiles({kRealData + "demo-g3-01.gama-g3.xml"});
    ASSERT_TRUE(demo.ok) << demo.error;
    EXPECT_TRUE(contains(demo.survey.notes, "3 sites have no coordinates"));
    const Imported local = importFiles({kRealData + "ghilani_gnss_baselines.gama-local.gkf"});
    const Imported g3 = importFiles({kRealData + "ghilani_gnss_v1.gama-g3.xml"});
    const Imported extract = importFiles({kData + "textbook-network.gama-local.xml"});
    ASSERT_TRUE(local.ok && g3.ok && extract.ok) << local.error << g3.error;
    for (const Imported* got : {&local, &g3}) {
        ASSERT_EQ(got->dataSet.vectors().size(), 13u);
        EXPECT_NEAR(got->dataSet.vectors()[12].sigmaY, extract.dataSet.vectors()[12].sigmaY, 1e-12);
    }
    // The national network gives m^2 where its format says mm^2: read as the format says, its
    // sigmas are hundredths of a millimetre, and the import warns.
    const std::string national = kRealData + "sjtsk05-dopnul.gama-g3.xml";
    Json document;
    std::string source;
    ImportReport report;
    ASSERT_TRUE(readInputDocument({national}, {}, document, source, report)) << report.error;
    EXPECT_EQ(document["sites"].size(), 232u);
    EXPECT_EQ(document["vectors"].size(), 5589u);
    EXPECT_EQ(document["sites"][0]["name"], "BEZD");
    EXPECT_TRUE(contains(report.warnings, "--covariance-unit m2"));
    ASSERT_TRUE(
        readInputDocument({national}, {CovarianceUnit::kSquareMetres}, document, source, report));
    EXPECT_TRUE(report.warnings.empty());
    EXPECT_EQ(document["vectors"][0]["covariance"]["unit"], "m2");
    // Its tol-abs of 150 mm takes out the one vector the peer's adjustment rejects (its output
    // lists 29070100 to 17240030 with misclosures 51.3, 169 and 91 mm), and no other.
    std::vector<std::string> outOfUse;
    for (const Json& v : document["vectors"]) {
        if (v.contains("inUse") && v["inUse"] == false) {
            outOfUse.push_back(v["from"].get<std::string>() + "-" + v["to"].get<std::string>());
        }
    }
    EXPECT_EQ(outOfUse, std::vector<std::string>{"29070100-17240030"});
    EXPECT_TRUE(contains(report.notes, "(misclosure 51.3, 169.0, 91.0 mm)"));
}

// A g3 file's tol-abs (millimetres) takes a vector out of use when one of its components misses
// the difference of its ends' coordinates by more than it; 1000 mm when the file gives none.
TEST(FrontImporters, GamaG3ToleranceTakesOutVectorsThatMissTheirEnds) {
    const auto file = [](const std::string& constants, double dz) {
        char vector[160];
        std::snprintf(vector, sizeof vector,
                      "<vector><from>A</from><to>B</to><dx>100</dx><dy>0</dy><dz>%.3f</dz>"
                      "</vector>",
                      dz);
        return "<gnu-gama-data><g3-model>" + constants +
               "<point><id>A</id><x>4000000</x><y>1000000</y><z>4800000</z></point>"
               "<point><id>B</id><x>4000100</x><y>1000000</y><z>4800000</z></point>"
               "<point><id>C</id></point>"
               "<obs>" +
               vector +
               "<vector><from>B</from><to>C</to><dx>5</dx><dy>5</dy><dz>5</dz></vector>"
               "<cov-mat><dim>6</dim><band>0</band><flt>1</flt><flt>1</flt><flt>1</flt>"
               "<flt>1</flt><flt>1</flt><flt>1</flt></cov-mat></obs></g3-model>"
               "</gnu-gama-data>";
    };
    TempDirectory dir;
    const auto vectorsInUse = [&](const std::string& text, ImportReport& report) {
        const std::string path = dir.file("net.xml");
        writeFileBytes(path, text);
        Json document;
        std::string source;
        EXPECT_TRUE(readInputDocument({path}, {}, document, source, report)) << report.error;
        std::vector<bool> inUse;
        for (const Json& v : document["vectors"]) {
            inUse.push_back(!v.contains("inUse") || v["inUse"] == true);
        }
        return inUse;
    };
    const std::string tolerance150 = "<constants><tol-abs>150</tol-abs></constants>";
    ImportReport report;
    // 0.151 m off: out; 0.149 m off: kept. C has no coordinates, so B to C is never judged.
    EXPECT_EQ(vectorsInUse(file(tolerance150, 0.151), report), (std::vector<bool>{false, true}));
    EXPECT_TRUE(contains(report.notes, "tol-abs of 150 mm"));
    EXPECT_TRUE(contains(report.notes, "vector \"A\" to \"B\" (misclosure 0.0, 0.0, 151.0 mm)"));
    report = {};
    EXPECT_EQ(vectorsInUse(file(tolerance150, -0.149), report), (std::vector<bool>{true, true}));
    report = {};
    EXPECT_EQ(vectorsInUse(file("", 0.999), report), (std::vector<bool>{true, true}));
    EXPECT_EQ(vectorsInUse(file("", 1.001), report), (std::vector<bool>{false, true}));
    EXPECT_TRUE(contains(report.notes, "the format's default tol-abs of 1000 mm"));
}

TEST(FrontImporters, FormatIsRecognisedFromTheContent) {
    const struct {
        std::string head;
        const char* path;
        InputFormat format;
    } cases[] = {
        {"<?xml version=\"1.0\"?>\n<!-- c -->\n<gama-local>", "net.txt", InputFormat::kGamaLocal},
        {"\xEF\xBB\xBF<gnu-gama-data xmlns=\"x\">", "a.dat", InputFormat::kGamaG3},
        {"<DnaXmlFormat type=\"Station File\">", "s", InputFormat::kDynaStations},
        {"<DnaXmlFormat epoch=\"1\" type='Measurement File'>", "m", InputFormat::kDynaMeasurements},
        {"<DnaXmlFormat type=\"Other\">", "m", InputFormat::kUnrecognised},
        {"# vectors\n.ORDER EN\n\nG1 A-B 1 2 3\n", "v.xml", InputFormat::kGpsVectorText},
        {"  // comment\n{}", "p", InputFormat::kProject},
        {"anything", "p.JSON", InputFormat::kProject},
        {std::string("\x05\x00\x00\x00", 4), "net.json.bak", InputFormat::kDataSet},
        {"", "empty", InputFormat::kEmptyFile},
        {"Some notes\n", "notes.txt", InputFormat::kUnrecognised},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(recogniseInput(c.head, c.path), c.format) << c.head;
    }
}

// Each damaged file names the place of its damage.
TEST(FrontImporters, DamagedFilesAreRefusedWithThePlace) {
    const TempDirectory temp;
    const std::string& dir = temp.path();
    const struct {
        const char* name;
        const char* text;
        const char* message;
    } cases[] = {
        {"a.txt", "G2 1 1 1\n", "line 1: a G2 record must follow its G1"},
        {"b.txt", "C A 1 2 3\nG1 A-B 1 2 3\nC B 4 5 6\n", "line 2: the vector has no G2"},
        {"c.txt", "G1 A-B 1 2 x3\nG2 1 1 1\n", "line 1: dZ must be a number"},
        {"d.txt", "C A 1 2 3 ! * !\n", "line 1: X, Y and Z must be held"},
        {"e.txt", "G1 A-B-C 1 2 3\n", "line 1: the ends must read FROM-TO"},
        {"f.txt", ".GPS FACTOR 2\nG1 A-B 1 2 3\n", "line 1: the option \".GPS FACTOR 2\""},
        {"g.txt", ".GPS WEIGHT STDERRCORRELATION\nG1 A-B 1 2 3\nG2 1 1 1\nG3 0 1.5 0\n",
         "line 4: correlations must lie between -1 and 1"},
        {"h.txt", "G1 A-B 1 2 3\nG2 1 0 1\n", "line 2: variances must be above 0"},
        {"i.xml", "<gama-local><network><points-observations><point id='A' x='1'/>",
         "not well-formed XML"},
        {"j.xml",
         "<gama-local><network><points-observations><vectors><vec from='A' to='B' dx='1' "
         "dy='2' dz='3'/><cov-mat dim='3' band='2'>1 0 0 1 0</cov-mat></vectors>"
         "</points-observations></network></gama-local>",
         "holds 6 values, not 5"},
        {"k.xml",
         "<gnu-gama-data><g3-model><obs><vector><from>A</from><to>B</to><dx>1</dx><dy>2</dy>"
         "<dz>3</dz></vector><cov-mat><dim>6</dim><band>0</band></cov-mat></obs></g3-model>"
         "</gnu-gama-data>",
         "dimension 6, not the 3 rows"},
        {"l.xml",
         "<gnu-gama-data><g3-model><constants><ellipsoid><id>bessel</id></ellipsoid>"
         "</constants></g3-model></gnu-gama-data>",
         "\"bessel\" is not known here"},
        {"m.xml",
         "<gama-local><network><points-observations><point id='A' x='1' y='2' z='3' fix='xy'/>"
         "</points-observations></network></gama-local>",
         "point \"A\": fix=\"xy\""},
        {"n.txt", "C \"BM 2041-A 1 2 3\n", "line 1: the name \"BM 2041-A 1 2 3 has no closing"},
        {"o.txt", "G1 \"A 1\"-\"\" 1 2 3\nG2 1 1 1\n", "line 1: a name in quotes must not be"},
        {"p.txt", "G1 \"A 1\"\"B\" 1 2 3\nG2 1 1 1\n", "line 1: the ends must read FROM-TO"},
        {"q.txt", "C \"A\"B 1 2 3\n", "line 1: a name in quotes must be followed by a blank"},
    };
    for (const auto& c : cases) {
        writeFileBytes(dir + "/" + c.name, c.text);
        const Imported got = importFiles({dir + "/" + c.name});
        EXPECT_FALSE(got.ok) << c.name;
        EXPECT_NE(got.error.find(c.message), std::string::npos) << c.name << ": " << got.error;
        EXPECT_EQ(got.error.rfind(dir + "/" + c.name + ": ", 0), 0u) << got.error;
    }
}

TEST(FrontImporters, DynamlPairsAreCheckedAsAPair) {
    const TempDirectory temp;
    const std::string& dir = temp.path();
    const std::string stations = kData + "textbook-network.stations.xml";
    const std::string measurements = kData + "textbook-network.measurements.xml";
    EXPECT_NE(importFiles({stations}).error.find("give the station file and the measurement"),
              std::string::npos);
    EXPECT_NE(importFiles({stations, stations}).error.find("is given twice"), std::string::npos);
    writeFileBytes(dir + "/copy.xml", readFileBytes(stations));
    EXPECT_NE(importFiles({stations, dir + "/copy.xml"}).error.find("are both a DynaML station"),
              std::string::npos);
    EXPECT_NE(importFiles({kData + "textbook-network.gps.txt", measurements})
                  .error.find("give the station file and the measurement"),
              std::string::npos);
    const struct {
        const char* station;
        const char* message;
    } cases[] = {
        {"<Type>UTM</Type><StationCoord><XAxis>1</XAxis></StationCoord>",
         "type \"UTM\" are not read"},
        {"<Type>LLH</Type><StationCoord><XAxis>43.7512</XAxis><YAxis>1</YAxis>"
         "<Height>1</Height></StationCoord>",
         "packed as ddd.mmssss"},
        {"<Constraints>CCF</Constraints><Type>XYZ</Type><StationCoord><XAxis>1</XAxis>"
         "<YAxis>2</YAxis><Height>3</Height></StationCoord>",
         "Constraints \"CCF\" of X, Y and Z"},
    };
    for (const auto& c : cases) {
        writeFileBytes(
            dir + "/s.xml",
            std::string("<DnaXmlFormat type=\"Station File\"><DnaStation><Name>A</Name>") +
                c.station + "</DnaStation></DnaXmlFormat>");
        const Imported got = importFiles({dir + "/s.xml", measurements});
        EXPECT_NE(got.error.find(c.message), std::string::npos) << got.error;
    }
    // An ignored baseline stays out of use; scale factors multiply the covariance.
    std::string text = readFileBytes(measurements);
    text.replace(text.find("<Ignore></Ignore>"), 17, "<Ignore>*</Ignore>");
    text.replace(text.find("<Vscale>1.000</Vscale>"), 22, "<Vscale>4</Vscale>");
    writeFileBytes(dir + "/m.xml", text);
    const Imported got = importFiles({stations, dir + "/m.xml"});
    ASSERT_TRUE(got.ok) << got.error;
    EXPECT_EQ(got.dataSet.vectors()[0].inUse, 0);
    EXPECT_NEAR(got.dataSet.vectors()[0].sigmaX, 2.0 * std::sqrt(kCovarianceAC[0]), 1e-12);
}

// Names with blanks and dashes in double quotes, in C and G1 records and mixed with plain ones;
// a description mark inside quotes belongs to the name.
TEST(FrontImporters, QuotedNamesKeepTheirBlanksAndDashes) {
    SurveyNetwork network;
    readGpsVectorText(
        "C \"BM 2041-A\" 1 2 3 ! ! !  --control\n"
        "C \"A--1\" 4 5 6\n"
        "G1 \"BM 2041-A\"-\"HILL C\" 10 20 30\nG2 1e-6 1e-6 1e-6\n"
        "G1 B-\"HILL C\" 1 2 3\nG2 1e-6 1e-6 1e-6\n"
        "g1 \"A--1\"-B 1 2 3 --\"not a name\"\nG2 1e-6 1e-6 1e-6\n",
        std::nullopt, network);
    ASSERT_EQ(network.vectors.size(), 3u);
    const std::pair<std::string, std::string> ends[] = {
        {"BM 2041-A", "HILL C"}, {"B", "HILL C"}, {"A--1", "B"}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(network.vectors[i].from, ends[i].first) << i;
        EXPECT_EQ(network.vectors[i].to, ends[i].second) << i;
    }
    const SurveySite* bm = network.findSite("BM 2041-A");
    ASSERT_NE(bm, nullptr);
    EXPECT_TRUE(bm->fixed[0] && bm->fixed[1] && bm->fixed[2]);
    EXPECT_EQ(network.findSite("A--1")->coordinates[2], 6.0);
    EXPECT_EQ(network.sites.size(), 4u);
}

// Vectors and approximate positions in one file, control in another (C records only, or a DynaML
// station file): the network is the one the single file gives. A site placed twice within 1 mm is
// one site; farther apart, both places and both files are named and nothing is read.
TEST(FrontImporters, SurveyFilesReadTogetherAsOneNetwork) {
    const TempDirectory temp;
    const std::string& dir = temp.path();
    const Imported whole = importFiles({kData + "textbook-network.gps.txt"});
    ASSERT_TRUE(whole.ok) << whole.error;
    std::string vectors, control;
    std::istringstream lines(readFileBytes(kData + "textbook-network.gps.txt"));
    for (std::string line; std::getline(lines, line);) {
        const bool held = line.rfind("C A ", 0) == 0 || line.rfind("C B ", 0) == 0;
        control += held ? line + "\n" : "";
        vectors += (held ? line.substr(0, line.find(" !")) : line) + "\n";  // A and B free
    }
    writeFileBytes(dir + "/vectors.gps", vectors);
    writeFileBytes(dir + "/control.gps", control);
    const auto site = [](const Imported& got, const std::string& name) {
        for (const SiteRecord& s : got.dataSet.sites()) {
            if (projectSiteName(s.name.bytes.data()) == name) {
                return s;
            }
        }
        ADD_FAILURE() << "no site " << name;
        return SiteRecord{};
    };
    for (const std::string& second :
         {dir + "/control.gps", kData + "textbook-network.stations.xml"}) {
        SCOPED_TRACE(second);
        const Imported got = importFiles({dir + "/vectors.gps", second});
        ASSERT_TRUE(got.ok) << got.error;
        ASSERT_EQ(got.dataSet.siteCount(), 6);
        ASSERT_EQ(got.dataSet.vectorCount(), whole.dataSet.vectorCount());
        for (const char* name : {"A", "B", "C", "D", "E", "F"}) {
            const SiteRecord a = site(got, name), b = site(whole, name);
            EXPECT_NEAR(a.latitude, b.latitude, 1e-8) << name;  // about 1 mm
            EXPECT_NEAR(a.elevation, b.elevation, 1e-3) << name;
            EXPECT_EQ(a.latitudeFixed + a.elevationFixed, b.latitudeFixed + b.elevationFixed);
        }
    }
    // A at X + 0.4 mm is the same site; at X + 5 mm it is not.
    for (const auto& [x, ok] : {std::pair{"402.35127", true}, std::pair{"402.35587", false}}) {
        std::string moved = control;
        moved.replace(moved.find("402.35087"), 9, x);
        writeFileBytes(dir + "/moved.gps", moved);
        const Imported got = importFiles({dir + "/vectors.gps", dir + "/moved.gps"});
        EXPECT_EQ(got.ok, ok) << got.error;
        if (!ok) {
            for (const std::string& part :
                 std::vector<std::string>{"site \"A\" is placed twice", dir + "/vectors.gps",
                                          dir + "/moved.gps", "X 402.3509 ", "X 402.3559 "}) {
                EXPECT_NE(got.error.find(part), std::string::npos) << part << ": " << got.error;
            }
        }
    }
}

TEST(FrontImporters, CovarianceUnitOverridesTheFormat) {
    const TempDirectory temp;
    const std::string& dir = temp.path();
    writeFileBytes(dir + "/v.txt",
                   "C A 402.35087 -4652995.30109 4349760.77753 ! ! !\n"
                   "G1 A-B 1 2 3\nG2 9 16 25\n");
    const Imported metres = importFiles({dir + "/v.txt"});
    ASSERT_TRUE(metres.ok) << metres.error;
    EXPECT_TRUE(contains(metres.survey.warnings, "above 1 m"));
    EXPECT_TRUE(contains(metres.survey.warnings, "--covariance-unit mm2"));
    const Imported millimetres =
        importFiles({dir + "/v.txt"}, {CovarianceUnit::kSquareMillimetres});
    ASSERT_TRUE(millimetres.ok) << millimetres.error;
    EXPECT_TRUE(millimetres.survey.warnings.empty());
    EXPECT_NEAR(millimetres.dataSet.vectors()[0].sigmaY, 0.004, 1e-15);
    // A project states its units: the option is refused for it.
    EXPECT_NE(importFiles({std::string(TORVEK_SOURCE_DIR) + "/examples/example-network.json"},
                          {CovarianceUnit::kSquareMetres})
                  .error.find("--covariance-unit is for survey files"),
              std::string::npos);
}

TEST(FrontImporters, OutputsNeverReplaceAnInput) {
    const TempDirectory temp;
    const std::string& dir = temp.path();
    const std::string stations = dir + "/stations.xml", measurements = dir + "/measurements.xml";
    writeFileBytes(stations, readFileBytes(kData + "textbook-network.stations.xml"));
    writeFileBytes(measurements, readFileBytes(kData + "textbook-network.measurements.xml"));
    const std::string before = readFileBytes(measurements);
    const auto front = [](const std::vector<std::string>& args) {
        return torvek::testing::runCommand(TORVEK_FRONT_BINARY, args, {});
    };
    // A DynaML pair given to the short form, whose second file is the output.
    EXPECT_EQ(front({"import", stations, measurements}).exitCode, 1);
    EXPECT_EQ(front({"import", stations, measurements, "-o", measurements}).exitCode, 1);
    // The report files are written beside the output: one of them may not be the input.
    const std::string text = dir + "/net.html";
    writeFileBytes(text, readFileBytes(kData + "textbook-network.gps.txt"));
    const auto run = front({"adjust", text, "-o", dir + "/net.dat", "--no-report"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.standardError.find("would replace an input"), std::string::npos);
    EXPECT_EQ(readFileBytes(measurements), before);
    EXPECT_EQ(readFileBytes(text), readFileBytes(kData + "textbook-network.gps.txt"));
    EXPECT_FALSE(fileExists(dir + "/net.input.dat"));
    // The pair converts to a readable project that imports back to the same data set.
    ASSERT_EQ(front({"import", measurements, stations, "-o", dir + "/net.json"}).exitCode, 0);
    ASSERT_EQ(front({"import", dir + "/net.json", "-o", dir + "/a.dat"}).exitCode, 0);
    ASSERT_EQ(front({"import", stations, measurements, "-o", dir + "/b.dat"}).exitCode, 0);
    EXPECT_EQ(readFileBytes(dir + "/a.dat"), readFileBytes(dir + "/b.dat"));
}

// The project forms the importers write: Earth-centred sites, ellipsoidal heights and full
// covariances with their unit, and what is refused in them.
TEST(FrontImporters, ProjectFormsOfSitesAndVectors) {
    const std::string sites =
        R"([{"name": "A", "x": 402.35087, "y": -4652995.30109, "z": 4349760.77753, "fixed": true},
            {"name": "B", "latitude": 43.3962, "longitude": -89.9, "ellipsoidalHeight": 1235.457,
             "geoidHeight": 30.5}])";
    const auto project = [&](const std::string& site, const std::string& covariance) {
        return "{\"sites\": " + (site.empty() ? sites : site) +
               R"(, "vectors": [{"from": "A", "to": "B", "dX": 1, "dY": 2, "dZ": 3, )" +
               covariance + "}]}";
    };
    AdjustedDataSet ds;
    ImportReport report;
    ASSERT_TRUE(importProject(
        project("",
                R"("covariance": {"unit": "mm2", "matrix": [[4, 1, 0], [1, 9, 0], [0, 0, 16]]})"),
        "p.json", {}, ds, report))
        << report.error;
    EXPECT_NEAR(ds.sites()[0].latitude, kLatitudeA, 1e-8);
    EXPECT_NEAR(ds.sites()[0].elevation, kHeightA, 1e-3);
    EXPECT_EQ(ds.sites()[1].elevation, 1235.457 - 30.5);
    EXPECT_NEAR(ds.vectors()[0].sigmaY, 0.003, 1e-15);
    EXPECT_NEAR(ds.vectors()[0].correlationXY, 1.0 / 6.0, 1e-15);

    const struct {
        std::string site;
        std::string covariance;
        const char* message;
    } refused[] = {
        {"", R"("covariance": {"unit": "mm2", "matrix": [[1, 2, 0], [1, 0], [1]]})",
         "is not positive definite: its eigenvalues are -1, 1 and 3 mm2"},
        {"", R"("covariance": {"unit": "mm2", "matrix": [[1, 0, 0], [0.5, 1, 0], [0, 0, 1]]})",
         "must be symmetric: row 2, column 1 holds 0.5, its mirror 0"},
        {"", R"("covariance": {"unit": "cm2", "matrix": [[1, 0, 0], [1, 0], [1]]})",
         "must be \"m2\" or \"mm2\""},
        {"",
         R"("sigmas": {"x": 0.01, "y": 0.01, "z": 0.01}, "correlations": {"xy": 0.9, "xz": 0.9, "yz": -0.9})",
         "not positive definite"},
        {R"([{"name": "A", "x": 1000, "y": 2000, "z": 3000}, {"name": "B", "x": 1, "y": 2, "z": 3}])",
         R"("sigmas": {"x": 0.01, "y": 0.01, "z": 0.01})", "from the Earth's centre"},
        {R"([{"name": "A", "latitude": 1, "longitude": 2, "elevation": 3, "ellipsoidalHeight": 3}])",
         R"("sigmas": {"x": 0.01, "y": 0.01, "z": 0.01})", "not both"},
        {R"([{"name": "A", "latitude": 1, "longitude": 2, "elevation": 3, "spar": 1}])",
         R"("sigmas": {"x": 0.01, "y": 0.01, "z": 0.01})",
         "unknown field (known here: name, code, record, latitude, longitude, elevation, "
         "ellipsoidalHeight, x, y, z, geoidHeight, sigmas, fixed, inUse)"},
    };
    for (const auto& c : refused) {
        EXPECT_FALSE(importProject(project(c.site, c.covariance), "p.json", {}, ds, report));
        EXPECT_NE(report.error.find(c.message), std::string::npos) << report.error;
    }
}

TEST(FrontImporters, SymmetricEigenvalues) {
    const struct {
        Matrix3 m;
        std::array<double, 3> values;
        bool positive;
    } cases[] = {
        {{2, 1, 0, 1, 2, 0, 0, 0, 3}, {1, 3, 3}, true},
        {{4, 0, 0, 0, 1, 0, 0, 0, 9}, {1, 4, 9}, true},
        // Correlations 0.9, 0.9 and -0.9 fit no three quantities.
        {{1, 0.9, 0.9, 0.9, 1, -0.9, 0.9, -0.9, 1}, {-0.8, 1.9, 1.9}, false},
        {{1, 1, 0, 1, 1, 0, 0, 0, 1}, {0, 1, 2}, false},
    };
    for (const auto& c : cases) {
        const std::array<double, 3> got = symmetricEigenvalues(c.m);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(got[i], c.values[i], 1e-12);
        }
        EXPECT_EQ(isPositiveDefinite(c.m), c.positive);
    }
}

}  // namespace
}  // namespace torvek::front
