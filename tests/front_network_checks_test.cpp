// The checks before a run: each fires on a small project with one fault and names the site or
// vector; none fires on the examples and the textbook network; no failing command touches the
// person's files.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "front/checks/network_checks.h"
#include "front/import/survey_input.h"
#include "front/project/project_json.h"
#include "support/command_runner.h"
#include "support/temp_directory.h"
#include "support/test_front_end.h"

namespace torvek::front {
namespace {

using torvek::testing::readFileBytes;
using torvek::testing::writeFileBytes;

const std::string kSource = TORVEK_SOURCE_DIR;
const std::string kTextbook = kSource + "/tests/data/textbook-network.gps.txt";

Json surveyDocument(const std::vector<std::string>& paths, SurveyOptions options = {}) {
    Json document;
    std::string source;
    ImportReport report;
    EXPECT_TRUE(readInputDocument(paths, options, document, source, report)) << report.error;
    return document;
}

NetworkFindings findings(const Json& document) {
    AdjustedDataSet dataSet;
    ImportReport report;
    EXPECT_TRUE(importProjectDocument(document, "p.json", {}, dataSet, report)) << report.error;
    return checkNetwork(dataSet, report.siteNames);
}

std::string joined(const NetworkFindings& found) {
    std::string text;
    for (const std::string& line : found.warnings) {
        text += "warning: " + line + "\n";
    }
    for (const std::string& line : found.notes) {
        text += "note: " + line + "\n";
    }
    return text;
}

// The textbook network (A and B fixed, C to F free, 13 vectors) with one fault each.
struct Fault {
    const char* name;
    std::function<void(Json&)> make;
    std::vector<std::string> said;  // parts of one finding
};

const Fault kFaults[] = {
    {"swapped ends",
     [](Json& p) { std::swap(p["vectors"][0]["from"], p["vectors"][0]["to"]); },
     {"warning: vectors[0] (\"C\" to \"A\") disagrees", "ends look swapped"}},
    {"wrong sign",
     [](Json& p) { p["vectors"][1]["dY"] = -p["vectors"][1]["dY"].get<double>(); },
     {"vectors[1] (\"A\" to \"E\")", "dY looks to have the wrong sign"}},
    {"millimetres",
     [](Json& p) {
         for (const char* k : {"dX", "dY", "dZ"}) {
             p["vectors"][2][k] = p["vectors"][2][k].get<double>() * 1000.0;
         }
     },
     {"vectors[2] (\"B\" to \"C\")", "look like millimetres, not metres"}},
    {"weighted control of a minimally constrained run",
     [](Json& p) {
         p["sites"][1].erase("fixed");
         p["sites"][2]["sigmas"] = {{"latitude", 0.01}, {"longitude", 0.01}, {"elevation", 0.02}};
     },
     {"constraint sigmas of sites[2] (\"C\") are not used", "only 3 fixed coordinates",
      "hold more than three coordinates fixed"}},
    {"weighted control asked to be minimal",
     [](Json& p) {
         p["settings"]["minimallyConstrained"] = true;
         p["sites"][3]["sigmas"] = {{"latitude", 0.01}, {"longitude", 0.01}, {"elevation", 0.02}};
     },
     {"sites[3] (\"D\")", "settings.minimallyConstrained is true", "set it to false"}},
    {"weighted control held fixed",
     [](Json& p) {
         p["sites"][0]["sigmas"] = {{"x", 0.01}, {"y", 0.01}, {"z", 0.01}};
     },
     {"latitude, longitude and elevation sigmas of sites[0] (\"A\") are not used", "held fixed"}},
    {"weighted control out of use",
     [](Json& p) {
         p["sites"][5]["inUse"] = false;
         p["sites"][5]["sigmas"] = {{"x", 0.01}, {"y", 0.01}, {"z", 0.01}};
     },
     {"sites[5] (\"F\") are not used", "not in use"}},
    {"no control",
     [](Json& p) {
         p["sites"][0].erase("fixed");
         p["sites"][1].erase("fixed");
     },
     {"note: no site of the network is held fixed", "holds sites[0] (\"A\")",
      "latitude, longitude and elevation"}},
    {"no elevation held",
     [](Json& p) {
         p["sites"][0]["fixed"] = {{"latitude", true}, {"longitude", true}};
         p["sites"][1]["fixed"] = {{"longitude", true}};
     },
     {"note: no elevation is held fixed", "elevation of sites[0] (\"A\")"}},
    {"geoid heights on some sites",
     [](Json& p) {
         for (int i = 0; i < 4; ++i) {
             p["sites"][i]["geoidHeight"] = -33.0;
         }
     },
     {"2 of the 6 sites", "no geoid height", "sites[4] (\"E\"), sites[5] (\"F\")"}},
    {"sigmas in millimetres",
     [](Json& p) {
         p["vectors"][3]["covariance"] = {{"unit", "m2"},
                                          {"matrix", Json::parse("[[9, 0, 0], [9, 0], [16]]")}};
     },
     {"vectors[3] (\"B\" to \"D\") has sigmas of 3, 3 and 4 m", "millimetres entered as metres"}},
};

TEST(FrontNetworkChecks, EachFaultIsNamed) {
    const Json textbook = surveyDocument({kTextbook});
    for (const Fault& fault : kFaults) {
        Json project = textbook;
        fault.make(project);
        const std::string said = joined(findings(project));
        for (const std::string& part : fault.said) {
            EXPECT_NE(said.find(part), std::string::npos) << fault.name << ":\n" << said;
        }
    }
}

TEST(FrontNetworkChecks, SilentOnTheExamples) {
    const std::vector<std::vector<std::string>> inputs = {
        {kSource + "/examples/example-network.json"},
        {kSource + "/examples/example-blunder.json"},
        {kTextbook},
        {kSource + "/tests/data/textbook-network.gama-local.xml"},
        {kSource + "/tests/data/textbook-network.gama-g3.xml"},
        {kSource + "/tests/data/textbook-network.stations.xml",
         kSource + "/tests/data/textbook-network.measurements.xml"},
    };
    for (const std::vector<std::string>& paths : inputs) {
        EXPECT_EQ(joined(findings(surveyDocument(paths))), "") << paths[0];
    }
    const std::string national = kSource + "/../shared/realdata/sjtsk05-dopnul.gama-g3.xml";
    if (torvek::testing::fileExists(national)) {
        EXPECT_EQ(joined(findings(surveyDocument({national}, {CovarianceUnit::kSquareMetres}))),
                  "");
    }
}

// FNV-1a: enough to see that a file changed.
std::uint64_t checksum(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

// Every faulty project imports and runs (the run may fail), and the project, the files beside
// it and an output of a refused command keep their bytes.
TEST(FrontNetworkChecks, FailingRunsLeaveThePersonsFilesAlone) {
    const torvek::testing::TempDirectory folder;
    const std::string& dir = folder.path();
    const Json textbook = surveyDocument({kTextbook});
    torvek::testing::CommandOptions options;
    options.environment.emplace_back("TORVEK_BINARY", TORVEK_BINARY);
    const auto front = [&](const std::vector<std::string>& args) {
        return torvek::testing::runCommand(TORVEK_FRONT_BINARY, args, options);
    };
    writeFileBytes(dir + "/notes.txt", "the person's own notes\n");
    for (const Fault& fault : kFaults) {
        Json project = textbook;
        fault.make(project);
        const std::string path = dir + "/net.json";
        writeFileBytes(path, projectText(project));
        std::map<std::string, std::uint64_t> before;
        for (const char* file : {"/net.json", "/notes.txt"}) {
            before[file] = checksum(readFileBytes(dir + file));
        }
        const auto run = front({"adjust", path, "-o", dir + "/out/net.dat", "--no-report"});
        EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 2) << fault.name << run.standardError;
        EXPECT_NE(run.standardError.find(fault.said.back()), std::string::npos) << fault.name;
        // Refused: an output that is the input, and export over its data set.
        EXPECT_EQ(front({"import", path, "-o", path}).exitCode, 1);
        EXPECT_EQ(front({"export", dir + "/out/net.dat", "-o", dir + "/out/net.dat"}).exitCode, 1);
        EXPECT_EQ(front({"export", dir + "/out/net.dat", "--names", path, "-o", path}).exitCode, 1);
        for (const auto& [file, sum] : before) {
            EXPECT_EQ(checksum(readFileBytes(dir + file)), sum) << fault.name << file;
        }
        AdjustedDataSet out;
        EXPECT_TRUE(out.readFile(dir + "/out/net.dat")) << fault.name;
    }
}

}  // namespace
}  // namespace torvek::front
