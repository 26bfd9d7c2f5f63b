// The command line of torvek-front: every option of every command is taken, a bad command line
// ends with exit code 1 and a pointer to --help, and --help and --version say what they should.
#include <gtest/gtest.h>
#include <proj.h>

#include <string>
#include <vector>

#include "support/command_runner.h"
#include "support/temp_directory.h"

namespace torvek {
namespace {

using torvek::testing::CommandResult;
using torvek::testing::runCommand;
using torvek::testing::TempDirectory;

constexpr const char* kHelpHint = "--help lists the options";

CommandResult front(const std::vector<std::string>& args) {
    return runCommand(TORVEK_FRONT_BINARY, args);
}

bool contains(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

// Each command with every option it has, spelled every way, in front of an input that does not
// exist: the command line is taken and the command itself then refuses the input.
TEST(FrontCommandLine, EveryOptionOfEveryCommandIsTaken) {
    const TempDirectory folder;
    const std::string missing = folder.path() + "/missing.json";
    const std::string out = folder.path() + "/out";
    const std::vector<std::vector<std::string>> lines = {
        {"adjust",
         missing,
         "-o",
         out + ".dat",
         "--crs",
         "utm",
         "--ellipse-scale",
         "2.5",
         "--warning-answer",
         "ok",
         "--no-report",
         "--timings",
         "--colour",
         "never",
         "--program",
         "/bin/false",
         "--engine",
         "large",
         "--abort-at-stage",
         "49",
         "--covariance-unit",
         "m2"},
        {"adjust", missing + ".dat", "--output", out + ".dat", "--color", "always", "--engine",
         "standard", "--warning-answer", "cancel", "--names", missing, "--names", missing},
        {"adjust", missing, missing + "2", "--engine=auto", "--colour=auto"},
        {"import", missing, "-o", out + ".json", "--covariance-unit", "mm2", "--with-results"},
        {"import", missing, "--output", out + ".dat"},
        {"import", missing, out + ".dat", "--with-results"},
        {"export", missing, "--json", "-o", out + ".json", "--names", missing, "--names", missing,
         "--covariance-unit", "m2"},
        {"export", missing, "--csv", "--output", out + ".csv", "--geojson", out + ".geojson",
         "--kml", out + ".kml", "--crs", "EPSG:25832"},
        {"serve", missing, "--port", "0", "--program", "/bin/false", "--covariance-unit", "m2"},
    };
    for (const std::vector<std::string>& line : lines) {
        const CommandResult run = front(line);
        EXPECT_EQ(run.exitCode, 1) << line[0] << ": " << run.standardError;
        EXPECT_TRUE(contains(run.standardError, missing)) << line[0] << ": " << run.standardError;
        EXPECT_FALSE(contains(run.standardError, kHelpHint)) << run.standardError;
    }
}

TEST(FrontCommandLine, BadCommandLinesEndWithExitCodeOneAndPointToHelp) {
    const std::vector<std::vector<std::string>> lines = {
        {},
        {"frobnicate"},
        {"--frobnicate"},
        {"adjust"},
        {"adjust", "a.json", "--bogus"},
        {"adjust", "a.json", "-o"},
        {"adjust", "a.json", "--engine", "huge"},
        {"adjust", "a.json", "--engine", "1"},  // a name, never the number behind it
        {"adjust", "a.json", "--warning-answer", "yes"},
        {"adjust", "a.json", "--colour", "sometimes"},
        {"adjust", "a.json", "--abort-at-stage"},
        {"adjust", "a.json", "--abort-at-stage", "101"},
        {"adjust", "a.json", "--abort-at-stage", "x"},
        {"adjust", "a.json", "--ellipse-scale", "0"},
        {"adjust", "a.json", "--ellipse-scale", "2e11"},
        {"adjust", "a.json", "--covariance-unit", "cm2"},
        {"import", "a.json"},
        {"import", "-o", "b.dat"},
        {"export"},
        {"export", "a.dat", "b.dat"},
        {"export", "a.dat", "--json", "--csv"},
        {"export", "a.dat", "--crs", "utm"},
        {"serve", "--port", "65536"},
        {"serve", "a.xml", "b.xml", "c.xml"},
    };
    for (const std::vector<std::string>& line : lines) {
        const CommandResult run = front(line);
        const std::string shown = line.empty() ? "(nothing)" : line.back();
        EXPECT_EQ(run.exitCode, 1) << shown << ": " << run.standardError;
        EXPECT_TRUE(contains(run.standardError, kHelpHint)) << shown << ": " << run.standardError;
        EXPECT_TRUE(run.standardOutput.empty()) << shown;
    }
    // Several survey files are one input: their fault is the input's, not the command line's.
    const CommandResult several = front({"adjust", "a.json", "b.xml", "c.xml"});
    EXPECT_EQ(several.exitCode, 1);
    EXPECT_TRUE(contains(several.standardError, "a.json: cannot be opened"))
        << several.standardError;
}

TEST(FrontCommandLine, HelpShowsEveryOptionAndAnExample) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> commands = {
        {"adjust",
         {"--output", "--crs", "--ellipse-scale", "--warning-answer", "--no-report", "--colour",
          "--color", "--program", "--engine", "--abort-at-stage", "--covariance-unit", "--names"}},
        {"import", {"--output", "--with-results", "--covariance-unit"}},
        {"export",
         {"--json", "--csv", "--output", "--geojson", "--kml", "--names", "--covariance-unit",
          "--crs"}},
        {"serve", {"--port", "--program", "--covariance-unit"}},
    };
    for (const auto& [command, options] : commands) {
        for (const char* asked : {"--help", "-h"}) {
            const CommandResult run = front({command, asked});
            EXPECT_EQ(run.exitCode, 0) << command;
            EXPECT_TRUE(contains(run.standardOutput, "torvek-front " + command)) << command;
            EXPECT_TRUE(contains(run.standardOutput, "Example")) << command;
            for (const std::string& option : options) {
                EXPECT_TRUE(contains(run.standardOutput, option)) << command << " " << option;
            }
        }
    }
    for (const std::vector<std::string>& asked :
         {std::vector<std::string>{"help"}, {"--help"}, {"-h"}}) {
        const CommandResult run = front(asked);
        EXPECT_EQ(run.exitCode, 0) << asked[0];
        for (const char* command : {"adjust", "import", "export", "serve"}) {
            EXPECT_TRUE(contains(run.standardOutput, command)) << asked[0] << " " << command;
        }
        EXPECT_TRUE(contains(run.standardOutput, "Exit codes")) << asked[0];
    }
}

// `serve` runs in torvek-front-serve, which torvek-front starts in its own place: the command line
// arrives there whole (its refusals are those of torvek-front), a missing server program is named,
// and torvek-front itself loads none of the server's libraries.
TEST(FrontCommandLine, ServeIsHandedToTheServerProgram) {
    const TempDirectory folder;
    const std::string missing = folder.path() + "/missing.json";
    const CommandResult refused = front({"serve", missing, "--port", "0"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(contains(refused.standardError, "torvek-front: " + missing))
        << refused.standardError;

    testing::CommandOptions elsewhere;
    elsewhere.environment = {{"TORVEK_FRONT_SERVE_BINARY", folder.path() + "/no-server"}};
    const CommandResult lost = runCommand(TORVEK_FRONT_BINARY, {"serve", "--port", "0"}, elsewhere);
    EXPECT_EQ(lost.exitCode, 3);
    EXPECT_TRUE(contains(lost.standardError, folder.path() + "/no-server, which cannot be started"))
        << lost.standardError;

    const CommandResult libraries =
        runCommand("/bin/sh", {"-c", std::string("ldd ") + TORVEK_FRONT_BINARY + " || true"});
    EXPECT_FALSE(contains(libraries.standardOutput, "httplib")) << libraries.standardOutput;
    EXPECT_FALSE(contains(libraries.standardOutput, "libssl")) << libraries.standardOutput;
}

TEST(FrontCommandLine, VersionNamesTheLibrariesInUse) {
    const CommandResult run = front({"--version"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(contains(run.standardOutput, "torvek-front ")) << run.standardOutput;
    EXPECT_TRUE(contains(run.standardOutput, std::string("PROJ ") + proj_info().version))
        << run.standardOutput;
#ifdef TORVEK_LARGE_BINARY
    EXPECT_TRUE(contains(run.standardOutput, "torvek-large factorises with CHOLMOD"))
        << run.standardOutput;
#endif
}

}  // namespace
}  // namespace torvek
