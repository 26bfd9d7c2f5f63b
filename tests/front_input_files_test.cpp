// Input files of every size and content: projects of the size the sparse engine adjusts (far
// beyond 64 MiB, more than 99,999 vectors) read back as they were written; empty files, text in
// UTF-16 or with a NUL byte, and binary files that do not fit the data set layout are named.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "dataset/adjusted_data_set.h"
#include "dataset/vector_label.h"
#include "front/checks/network_checks.h"
#include "front/cli/convert_commands.h"
#include "front/documents/gis_export.h"
#include "front/documents/results_document.h"
#include "front/import/survey_input.h"
#include "front/project/project_json.h"
#include "front/results/network_results.h"
#include "front/text/messages.h"
#include "support/temp_directory.h"
#include "support/test_front_end.h"

namespace torvek::front {
namespace {

using torvek::testing::TempDirectory;

// A network of `sites` sites on a grid of 0.01 degrees and `vectors` vectors, each from a site to
// the next but one, as many times around as it takes, with distinct components and results filled
// as an adjusted run would fill them (so that the export is as large as a real one).
AdjustedDataSet gridNetwork(int sites, int vectors) {
    AdjustedDataSet ds;
    for (int i = 0; i < sites; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "S%03X", i % 4096);
        // Names must differ in four characters: sites past 4096 take a letter of their own.
        name[0] = static_cast<char>('S' + i / 4096);
        EXPECT_TRUE(ds.addSite(name));
        SiteRecord& site = *ds.currentSite();
        site.latitude = 46.0 + 0.01 * (i / 100);
        site.longitude = 7.0 + 0.01 * (i % 100);
        site.elevation = 500.0 + i % 37;
        site.adjustedLatitude = site.latitude + 1e-9 * i;
        site.adjustedLongitude = site.longitude - 1e-9 * i;
        site.adjustedElevation = site.elevation + 0.001 * (i % 13);
        site.adjustedLatitudeSigma = site.adjustedLongitudeSigma = 0.0021 + 1e-7 * i;
        site.adjustedElevationSigma = 0.0043 + 1e-7 * i;
    }
    for (int v = 0; v < vectors; ++v) {
        const SiteRecord& from = ds.sites()[static_cast<std::size_t>(v % sites)];
        const SiteRecord& to = ds.sites()[static_cast<std::size_t>((v + 2 + v / sites) % sites)];
        EXPECT_TRUE(ds.addVector(from.name.data(), to.name.data()));
        VectorRecord& vector = *ds.currentVector();
        vector.deltaX = 1000.125 + v;
        vector.deltaY = -2000.25 - v;
        vector.deltaZ = 300.5 + 0.001 * v;
        vector.sigmaX = vector.sigmaY = vector.sigmaZ = 0.005;
        vector.adjustedDeltaX = vector.deltaX + 0.001 * (v % 7);
        vector.adjustedDeltaY = vector.deltaY - 0.001 * (v % 5);
        vector.adjustedDeltaZ = vector.deltaZ + 0.0005 * (v % 3);
    }
    ds.setAdjustmentSucceeded(1);
    return ds;
}

TEST(FrontLargeInputs, ExportOfTenThousandSitesAndMoreThan99999VectorsImportsBack) {
    constexpr int kSites = 10000;
    constexpr int kVectors = 100001;
    const TempDirectory folder;
    const std::string dataSet = folder.path() + "/big.dat";
    const std::string exported = folder.path() + "/big.json";
    const std::string imported = folder.path() + "/back.dat";
    const AdjustedDataSet original = gridNetwork(kSites, kVectors);
    ASSERT_TRUE(original.writeFile(dataSet));

    ExportRequest request;
    request.dataSet = dataSet;
    request.output = exported;
    ASSERT_EQ(runExport(request), 0);
    // The file is beyond the 64 MiB an earlier limit allowed.
    EXPECT_GT(torvek::testing::readFileBytes(exported).size(), std::size_t{64} << 20);

    ASSERT_EQ(runImport(exported, imported, true), 0);
    AdjustedDataSet back;
    ASSERT_TRUE(back.readFile(imported));
    ASSERT_EQ(back.siteCount(), kSites);
    ASSERT_EQ(back.vectorCount(), kVectors);
    // The last vector keeps its six-digit number, its label names it whole, and a lookup by that
    // label finds it rather than vector 10000.
    const VectorRecord& last = back.vectors().back();
    EXPECT_EQ(last.recordNumber, kVectors);
    char label1[kVectorLabelSize], label2[kVectorLabelSize];
    formatVectorLabel(last, label1, label2);
    EXPECT_EQ(vectorLabelNumber(label2), kVectors);
    EXPECT_DOUBLE_EQ(last.deltaX, original.vectors().back().deltaX);
    EXPECT_DOUBLE_EQ(last.adjustedDeltaY, original.vectors().back().adjustedDeltaY);
    EXPECT_DOUBLE_EQ(back.sites().back().adjustedLatitude,
                     original.sites().back().adjustedLatitude);
}

// The error of reading `bytes`, written to a file called `name`, as an input of import or adjust.
std::string inputError(const TempDirectory& folder, const std::string& name,
                       const std::string& bytes) {
    const std::string path = folder.path() + "/" + name;
    torvek::testing::writeFileBytes(path, bytes);
    Json document;
    std::string sourceName;
    ImportReport report;
    EXPECT_FALSE(isDataSetInput({path})) << name;
    EXPECT_FALSE(readInputDocument({path}, SurveyOptions{}, document, sourceName, report)) << name;
    return report.error;
}

// The error of building a data set from the survey file `bytes`, written to `name`: read, then
// imported as buildInputDataSet and readSiteNames do.
std::string inputErrorAfterImport(const TempDirectory& folder, const std::string& name,
                                  const std::string& bytes) {
    const std::string path = folder.path() + "/" + name;
    torvek::testing::writeFileBytes(path, bytes);
    SiteNameTable names;
    std::string error;
    EXPECT_FALSE(readSiteNames({path}, SurveyOptions{}, names, error)) << name;
    return error;
}

TEST(FrontInputContent, EmptyUtf16NulAndMisfitBinaryFilesAreNamedNotRunAsDataSets) {
    const TempDirectory folder;
    EXPECT_NE(inputError(folder, "empty.txt", "").find("empty.txt: is an empty file"),
              std::string::npos);
    EXPECT_NE(inputError(folder, "empty.json", "").find("is an empty file"), std::string::npos);
    EXPECT_NE(inputError(folder, "le.txt", std::string("\xFF\xFEG\0001\000 \000", 8))
                  .find("is UTF-16 text"),
              std::string::npos);
    // Without a byte order mark: every other byte NUL.
    const std::string bigEndian("\000#\000 \000v\000e\000c\000t\000o\000r\000s\000\n", 20);
    EXPECT_NE(inputError(folder, "be.txt", bigEndian).find("is UTF-16 text"), std::string::npos);
    // A NUL in the third line, in the first bytes and far beyond them.
    const std::string lines = "# vectors\n.ORDER EN\nG1 A-B 1 2";
    std::string error = inputError(folder, "nul.txt", lines + std::string(1, '\0') + "3\n");
    EXPECT_NE(error.find("nul.txt: line 3 holds a NUL byte"), std::string::npos) << error;
    std::string longText = "# vectors\n.ORDER EN\n";
    for (int i = 0; i < 4000; ++i) {
        longText += "G1 A-B 1 2 3\n";
    }
    error = inputError(folder, "late.txt", longText + std::string(1, '\0'));
    EXPECT_NE(error.find("line 4003 holds a NUL byte"), std::string::npos) << error;
    // Binary bytes whose counts announce another size: 5 sites in 20 bytes, 3 sites in a file
    // longer than they take.
    error =
        inputError(folder, "short.dat", std::string("\005\000\000\000", 4) + std::string(16, 'x'));
    EXPECT_NE(error.find("short.dat: is not a data set: it holds 20 bytes"), std::string::npos)
        << error;
    AdjustedDataSet three;
    for (const char* name : {"AAAA", "BBBB", "CCCC"}) {
        ASSERT_TRUE(three.addSite(name));
    }
    const std::vector<std::uint8_t> image = three.writeImage();
    const std::string whole(image.begin(), image.end());
    error = inputError(folder, "long.dat", whole + "trailing");
    EXPECT_NE(error.find("announce " + std::to_string(whole.size()) + " bytes, and it holds " +
                         std::to_string(whole.size() + 8)),
              std::string::npos)
        << error;
    // The whole data set, and one short of a record, are data sets.
    const std::string good = folder.path() + "/good.dat";
    torvek::testing::writeFileBytes(good, whole);
    EXPECT_TRUE(isDataSetInput({good}));
    torvek::testing::writeFileBytes(good, whole.substr(0, whole.size() - 100));
    EXPECT_TRUE(isDataSetInput({good}));
}

TEST(FrontMessages, RepeatedWarningsAreCappedAndControlBytesEscaped) {
    std::vector<std::string> lines;
    for (int i = 0; i < 25; ++i) {
        lines.push_back("site \"S" + std::to_string(i) + "\" on line " + std::to_string(100 + i) +
                        " has fewer than four characters");
    }
    lines.insert(lines.begin() + 3, "another finding");
    lines.push_back("another finding");
    const std::vector<std::string> shown = cappedMessages(lines);
    ASSERT_EQ(shown.size(), 13u);
    EXPECT_EQ(shown[3], "another finding");
    EXPECT_EQ(shown[10], "site \"S9\" on line 109 has fewer than four characters");
    EXPECT_EQ(shown[11], "... and 15 more like it");
    EXPECT_EQ(shown[12], "another finding");
    EXPECT_EQ(groupedCount(42162), "42,162");
    EXPECT_EQ(groupedCount(999), "999");
    // An ESC sequence in a name is shown, never obeyed; a typed "\x1b" stays apart from it.
    EXPECT_EQ(escapeControlBytes("A\x1b[2JB\tC\n\x7f"), "A\\x1b[2JB\tC\n\\x7f");
    EXPECT_EQ(escapeControlBytes("typed \\x1b"), "typed \\\\x1b");
}

TEST(FrontMessages, DuplicateNamesRangeErrorsAndTinyNumbersAreNamed) {
    AdjustedDataSet ds;
    for (const char* name : {"0050", "0051", "0050", "abcd", "ABCD"}) {
        ASSERT_TRUE(ds.addSite(name));
    }
    const NetworkFindings findings = checkNetwork(ds, SiteNameTable{});
    std::vector<std::string> shared;
    for (const std::string& warning : findings.warnings) {
        if (warning.find("share one name") != std::string::npos) {
            shared.push_back(warning);
        }
    }
    ASSERT_EQ(shared.size(), 2u);
    EXPECT_NE(shared[0].find("sites[0] (\"0050\"), sites[2] (\"0050\")"), std::string::npos)
        << shared[0];
    EXPECT_NE(shared[1].find("sites[3] (\"abcd\"), sites[4] (\"ABCD\")"), std::string::npos)
        << shared[1];

    const TempDirectory folder;
    const std::string sites = "C A 402.35087 -4652995.30109 4349760.77753 ! ! !\n";
    const std::string siteC = "C C 402.35087 -4652995.30109 4349760.77753\n";
    std::string error = inputErrorAfterImport(
        folder, "far.txt", sites + siteC + "G1 A-B 1 2 3\nG2 1 1 1\nG1 A-C 3e7 0 0\nG2 1 1 1\n");
    EXPECT_NE(error.find("far.txt: line 5: vectors[1]"), std::string::npos) << error;
    EXPECT_NE(error.find("dX"), std::string::npos) << error;
    for (const char* tiny : {"1e-400", "1e400"}) {
        error = inputError(folder, "tiny.txt", sites + "G1 A-B 1 2 " + tiny + "\n");
        EXPECT_NE(error.find("line 2: dZ is out of range (" + std::string(tiny)), std::string::npos)
            << error;
    }
}

// Bytes the process maps now (the first number of /proc/self/statm, in pages).
long long mappedBytes() {
    long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) {
            pages = 0;
        }
        std::fclose(statm);
    }
    return static_cast<long long>(pages) * ::getpagesize();
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizerBuild = true;
#else
constexpr bool kSanitizerBuild = false;
#endif

// Set in the environment of the process that renders under the limit: a fresh one, whose heap
// holds no memory freed by earlier tests that the writer could use instead of failing.
constexpr const char* kRenderUnderLimit = "TORVEK_TEST_GIS_UNDER_LIMIT";

// Renders the GeoJSON of 30,000 sites (tens of MB) with 16 MB of address space beyond what the
// process maps, and exits 0 when the writer throws std::bad_alloc, 2 when the room was enough.
[[noreturn]] void renderUnderLimit() {
    const ResultsView view =
        makeResultsView(collectResults(gridNetwork(30000, 60000)), DocumentHeader{}, nullptr);
    constexpr long long kRoomBeyondTheView = 16LL << 20;
    const auto bytes = static_cast<rlim_t>(mappedBytes() + kRoomBeyondTheView);
    const rlimit limit{bytes, bytes};
    ::setrlimit(RLIMIT_AS, &limit);
    try {
        const std::string text = renderGeoJson("big", view);
        ::_exit(text.empty() ? 3 : 2);
    } catch (const std::bad_alloc&) {
        ::_exit(0);
    }
}

TEST(FrontLargeInputs, GisWriterShortOfMemoryThrowsInsteadOfAborting) {
    if (kSanitizerBuild) {
        GTEST_SKIP() << "the sanitizers' shadow memory needs far more address space";
    }
    if (std::getenv(kRenderUnderLimit) != nullptr) {
        renderUnderLimit();
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv(kRenderUnderLimit, "1", 1);
        ::execl("/proc/self/exe", "torvek_tests",
                "--gtest_filter=FrontLargeInputs.GisWriterShortOfMemoryThrowsInsteadOfAborting",
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace torvek::front
