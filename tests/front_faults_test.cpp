// torvek-front against hostile projects, children that stall or die, file size limits and earlier
// outputs: nothing the person has is lost or left stale, and the front end never hangs.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "dataset/adjusted_data_set.h"
#include "front/documents/csv_export.h"
#include "front/documents/report_document.h"
#include "front/files/run_files.h"
#include "front/run/process_spawn.h"
#include "support/command_runner.h"
#include "support/synthetic_network.h"
#include "support/temp_directory.h"
#include "support/test_front_end.h"

#if defined(TORVEK_FRONT_BINARY)

namespace torvek::front {
namespace {

using testing::CommandOptions;
using testing::CommandResult;
using testing::fileExists;
using testing::readFileBytes;
using testing::runCommand;
using testing::TempDirectory;
using testing::writeFileBytes;

const std::string kExample = std::string(TORVEK_SOURCE_DIR) + "/examples/example-network.json";

CommandResult front(const std::vector<std::string>& args, CommandOptions options = {}) {
    options.environment.emplace_back("TORVEK_BINARY", "");
    return runCommand(TORVEK_FRONT_BINARY, args, options);
}

CommandResult frontWithFake(const std::string& mode, std::vector<std::string> args,
                            CommandOptions options = {}) {
    options.environment.emplace_back("TORVEK_FAKE_MODE", mode);
    args.push_back("--program");
    args.push_back(TORVEK_FAKE_CHILD_BINARY);
    return runCommand(TORVEK_FRONT_BINARY, args, options);
}

bool contains(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

// The names in `folder` that start with `prefix`.
std::vector<std::string> entriesStartingWith(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    if (DIR* listing = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(listing))
            if (std::string(entry->d_name).rfind(prefix, 0) == 0)
                names.push_back(entry->d_name);
        ::closedir(listing);
    }
    return names;
}

TEST(FrontEndSafety, OutputsThatNameAnInputOrEachOtherAreRefusedBeforeAnythingIsWritten) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    const std::string project = dir + "/net.json";
    writeFileBytes(project, readFileBytes(kExample));
    ASSERT_EQ(front({"import", kExample, dir + "/data.rtf"}).exitCode, 0);
    const std::string projectBytes = readFileBytes(project);
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{"adjust", project, "-o", project}, "would replace an input"},
        {{"adjust", project, "-o", dir + "/k.rtf"}, "would be one file"},
        {{"adjust", project, "-o", dir + "/k.html"}, "would be one file"},
        {{"adjust", dir + "/data.rtf", "-o", dir + "/data.dat"}, "would replace an input"},
        {{"adjust", project, "-o", dir + "/new/../net.json"}, "would replace an input"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[3]);
        const CommandResult run = front(c.args);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(contains(run.standardError, c.says)) << run.standardError;
    }
    EXPECT_EQ(readFileBytes(project), projectBytes);
    EXPECT_FALSE(fileExists(dir + "/k.rtf"));
    EXPECT_FALSE(fileExists(dir + "/new"));
}

TEST(FrontEndSafety, RefusedRunCreatesNoFolders) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    writeFileBytes(dir + "/bad.json", "{\"sites\": [}");
    const CommandResult run = front({"adjust", dir + "/bad.json", "-o", dir + "/new/sub/out.dat"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.standardError, "line 1, column 12")) << run.standardError;
    EXPECT_FALSE(fileExists(dir + "/new"));
}

TEST(FrontEndSafety, HostileProjectTextIsRefusedWithItsPosition) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    struct Case {
        const char* name;
        std::string text;
        std::string says;
    };
    const Case cases[] = {
        {"nested 100000 deep", std::string(100000, '['), "line 1, column 65: arrays and objects"},
        {"number beyond a double", "{\n  \"title\": 1e400\n}", "line 2, column 12: number"},
        {"negative number beyond a double", "[-1e999]", "line 1, column 2: number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFileBytes(dir + "/p.json", c.text);
        const CommandResult run = front({"import", dir + "/p.json", dir + "/p.dat"});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(contains(run.standardError, dir + "/p.json: " + c.says)) << run.standardError;
    }
}

// A run that does not reach its end with its output (aborted, crashed, killed, its output lost)
// leaves every output of the earlier run as it was, and the folder it worked in is gone.
TEST(FrontEndSafety, RunsThatDoNotFinishLeaveTheEarlierOutputsWhole) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(front({"import", kExample, dir + "/in.dat"}).exitCode, 0);
    const std::vector<std::string> adjust = {"adjust", dir + "/in.dat", "-o", dir + "/out.dat"};
    ASSERT_EQ(front(adjust).exitCode, 0);
    const std::vector<std::string> outputs = {"/out.dat", "/out.rtf", "/out.html"};
    std::vector<std::string> earlier;
    for (const std::string& name : outputs)
        earlier.push_back(readFileBytes(dir + name));

    CommandOptions twoInterrupts;
    twoInterrupts.interruptAfterMs = 300;
    twoInterrupts.interruptRepeatMs = 300;
    twoInterrupts.interruptWhenExists = dir + "/ready";
    twoInterrupts.environment.emplace_back("TORVEK_FAKE_READY", dir + "/ready");
    struct Case {
        const char* name;
        CommandResult run;
    };
    std::vector<std::string> abortAtFirstPoll = adjust;
    abortAtFirstPoll.insert(abortAtFirstPoll.end(), {"--abort-at-stage", "0"});
    const Case cases[] = {
        {"aborted at the first poll", front(abortAtFirstPoll)},
        {"crashed", frontWithFake("crash:5", adjust)},
        {"killed", frontWithFake("stall", adjust, twoInterrupts)},
        {"output lost to a full disk", frontWithFake("emptied", adjust)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(c.run.exitCode, 0);
        EXPECT_TRUE(contains(c.run.standardError, "left as they were")) << c.run.standardError;
        for (std::size_t i = 0; i < outputs.size(); ++i)
            EXPECT_EQ(readFileBytes(dir + outputs[i]), earlier[i]) << outputs[i];
        EXPECT_TRUE(entriesStartingWith(dir, ".out.dat.run-").empty());
    }

    // A folder left by a front end that was killed is removed by the next run; one of a front
    // end still running (this test's process) is not.
    const std::string stale = dir + "/.out.dat.run-2147483646-abcdef";
    const std::string live = dir + "/.out.dat.run-" + std::to_string(::getpid()) + "-abcdef";
    for (const std::string& f : {stale, live}) {
        ASSERT_EQ(::mkdir(f.c_str(), 0700), 0);
        writeFileBytes(f + "/out.dat", "partial");
    }
    EXPECT_EQ(front(adjust).exitCode, 0);
    EXPECT_FALSE(fileExists(stale));
    EXPECT_TRUE(fileExists(live + "/out.dat"));
    // The run's own folder, where the outputs it replaced went, is gone by the time it exits.
    EXPECT_EQ(entriesStartingWith(dir, ".out.dat.run-"),
              std::vector<std::string>{live.substr(dir.size() + 1)});
    // So is the partial file of an export that was killed.
    const std::string partial = dir + "/.in.json.part-2147483646-abcdef";
    writeFileBytes(partial, "partial");
    EXPECT_EQ(front({"export", dir + "/in.dat", "-o", dir + "/in.json"}).exitCode, 0);
    EXPECT_FALSE(fileExists(partial));
}

// The front end judges a run only by what that run wrote: an input that holds the success of an
// earlier run is no success of this one.
TEST(FrontEndSafety, EarlierSuccessInTheInputIsNotThisRunsSuccess) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    // A network of one site adjusts nothing; its data set says it was adjusted.
    testing::SyntheticNetwork lone = testing::ringNetwork(3, 52.0, 5.0, 1000);
    lone.sites.resize(1);
    lone.vectors.clear();
    AdjustedDataSet stale;
    ASSERT_TRUE(stale.readImage(lone.toDataSet().writeImage()));
    ASSERT_TRUE(stale.setAdjustmentSucceeded(1));
    ASSERT_TRUE(stale.writeFile(dir + "/in.dat"));
    const std::vector<std::string> adjust = {"adjust", dir + "/in.dat", "-o", dir + "/out.dat"};
    for (const CommandResult& run : {front(adjust), frontWithFake("copy", adjust)}) {
        EXPECT_EQ(run.exitCode, 2) << run.standardError;
        EXPECT_TRUE(contains(run.standardOutput, "did not succeed")) << run.standardOutput;
        EXPECT_FALSE(contains(run.standardOutput, "passed"));
        AdjustedDataSet output;
        ASSERT_TRUE(output.readFile(dir + "/out.dat"));
        EXPECT_EQ(output.adjustmentSucceeded(), 0);
    }
}

// Children that stall inside a frame, send without reading their answers, or leave a process
// holding the link open: the person always gets the prompt back.
TEST(FrontEndSafety, StalledChildrenNeverHoldTheFrontEnd) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(front({"import", kExample, dir + "/in.dat"}).exitCode, 0);
    const std::vector<std::string> adjust = {"adjust", dir + "/in.dat", "-o", dir + "/out.dat"};
    struct Case {
        const char* mode;
        bool interrupted;  // Ctrl-C twice; otherwise the front end must end by itself
        int exitCode;
    };
    for (const Case& c :
         {Case{"midframe", true, 3}, Case{"deaf", false, 3}, Case{"grandchild", false, 2}}) {
        SCOPED_TRACE(c.mode);
        CommandOptions options;
        options.timeoutSeconds = 20;
        if (c.interrupted) {
            options.interruptAfterMs = 300;
            options.interruptRepeatMs = 300;
            options.interruptWhenExists = dir + "/ready";
            options.environment.emplace_back("TORVEK_FAKE_READY", dir + "/ready");
        }
        ::unlink((dir + "/ready").c_str());
        const auto start = std::chrono::steady_clock::now();
        const CommandResult run = frontWithFake(c.mode, adjust, options);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.standardError;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    }
}

// Outputs that cannot be written are said so, with a non-zero exit code, and leave no partial
// file: a file size limit (as a full disk would) and a report path taken by a folder.
// A FIFO named as an input is refused at once instead of waiting for a writer, and the program
// is given its two endpoints and nothing else the front end opened.
TEST(FrontEndSafety, InputsAndDescriptorsAreOnlyWhatTheyShouldBe) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(::mkfifo((dir + "/pipe.json").c_str(), 0644), 0);
    CommandOptions quick;
    quick.timeoutSeconds = 20;
    for (const char* command : {"import", "adjust"}) {
        SCOPED_TRACE(command);
        const CommandResult run = front({command, dir + "/pipe.json", "-o", dir + "/p.dat"}, quick);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(contains(run.standardError, dir + "/pipe.json: is not a regular file"))
            << run.standardError;
    }

    const CommandResult run = frontWithFake("fast", {"adjust", kExample, "-o", dir + "/out.dat"});
    const std::string given = "descriptors beyond the standard three: ";
    const std::size_t at = run.standardError.find(given);
    ASSERT_NE(at, std::string::npos) << run.standardError;
    EXPECT_EQ(run.standardError.substr(at + given.size(), 2), "2\n") << run.standardError;
}

TEST(FrontEndSafety, OutputsThatCannotBeWrittenAreReported) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(front({"import", kExample, dir + "/in.dat"}).exitCode, 0);
    const std::vector<std::string> adjust = {"adjust", dir + "/in.dat", "-o", dir + "/out.dat"};
    // The data sets fit under 24 KiB; the HTML report of the example does not.
    CommandOptions limited;
    limited.fileSizeLimit = 24 << 10;
    CommandResult run = front(adjust, limited);
    EXPECT_EQ(run.exitCode, 4) << run.standardError;
    EXPECT_TRUE(contains(run.standardError, "cannot write the report " + dir + "/out.html"))
        << run.standardError;
    EXPECT_FALSE(fileExists(dir + "/out.html"));
    EXPECT_TRUE(entriesStartingWith(dir, ".out.dat.run-").empty());

    run = front({"export", dir + "/in.dat", "-o", dir + "/in.json"}, limited);
    EXPECT_EQ(run.exitCode, 1) << run.standardError;
    EXPECT_TRUE(contains(run.standardError, "writing failed")) << run.standardError;
    EXPECT_FALSE(fileExists(dir + "/in.json"));
    EXPECT_TRUE(entriesStartingWith(dir, ".in.json.part-").empty());

    // A directory in the way is refused before the run (OutputsArePlacedAsOneSetOrNotAtAll).
    ASSERT_EQ(::mkdir((dir + "/taken.rtf").c_str(), 0755), 0);
    run = front({"adjust", dir + "/in.dat", "-o", dir + "/taken.dat"});
    EXPECT_EQ(run.exitCode, 1) << run.standardError;
    EXPECT_TRUE(contains(run.standardError, dir + "/taken.rtf")) << run.standardError;
}

TEST(FrontEndSafety, FolderOfTheOutputIsTheOneTheKernelUses) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(::mkdir((dir + "/deep").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir + "/deep/inner").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("deep/inner", (dir + "/link").c_str()), 0);
    writeFileBytes(dir + "/out.dat", "never named");
    CommandOptions options;
    options.workingDirectory = dir;
    const CommandResult run = front({"adjust", kExample, "-o", "link/../out.dat"}, options);
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(readFileBytes(dir + "/out.dat"), "never named");
    EXPECT_TRUE(fileExists(dir + "/deep/out.dat"));
    EXPECT_TRUE(fileExists(dir + "/deep/out.rtf"));
}

TEST(FrontEndSafety, TruncatedDataSetIsNamedSo) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(front({"import", kExample, dir + "/in.dat"}).exitCode, 0);
    const std::string whole = readFileBytes(dir + "/in.dat");
    writeFileBytes(dir + "/cut.dat", whole.substr(0, whole.size() - 500));
    const CommandResult run = front({"export", dir + "/cut.dat", "-o", dir + "/cut.json"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(contains(run.standardError, "warning: " + dir + "/cut.dat is truncated"))
        << run.standardError;
    EXPECT_FALSE(contains(front({"export", dir + "/in.dat"}).standardError, "truncated"));
}

// Files in `dir` named in `names` with the bytes "earlier NAME": an earlier run's set.
void writeEarlierSet(const std::string& dir, const std::vector<std::string>& names) {
    for (const std::string& name : names)
        writeFileBytes(dir + name, "earlier " + name);
}

void expectEarlierSet(const std::string& dir, const std::vector<std::string>& names) {
    for (const std::string& name : names)
        EXPECT_EQ(readFileBytes(dir + name), "earlier " + name) << name;
}

TEST(FrontEndSafety, OutputsArePlacedAsOneSetOrNotAtAll) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(front({"import", kExample, dir + "/in.dat"}).exitCode, 0);
    const std::vector<std::string> set = {"/out.dat", "/out.rtf", "/out.html", "/out.geojson",
                                          "/out.kml"};
    writeEarlierSet(dir, set);
    // A document that cannot be written (the HTML report beyond a file size limit) moves none.
    CommandOptions limited;
    limited.fileSizeLimit = 24 << 10;
    CommandResult run = front({"adjust", dir + "/in.dat", "-o", dir + "/out.dat"}, limited);
    EXPECT_EQ(run.exitCode, 4) << run.standardError;
    EXPECT_TRUE(contains(run.standardError, "no output of this run was put in place"))
        << run.standardError;
    expectEarlierSet(dir, set);
    EXPECT_TRUE(entriesStartingWith(dir, ".out.dat.run-").empty());

    // An output, or a file derived from it, that names a directory is refused before the run.
    ASSERT_EQ(::mkdir((dir + "/folder.dat").c_str(), 0755), 0);
    run = front({"adjust", dir + "/in.dat", "-o", dir + "/folder.dat"});
    EXPECT_EQ(run.exitCode, 1) << run.standardError;
    EXPECT_TRUE(contains(run.standardError, dir + "/folder.dat is a directory"))
        << run.standardError;
    ASSERT_EQ(::mkdir((dir + "/out.kml.d").c_str(), 0755), 0);
    ASSERT_EQ(::rename((dir + "/out.kml").c_str(), (dir + "/kept.kml").c_str()), 0);
    ASSERT_EQ(::rename((dir + "/out.kml.d").c_str(), (dir + "/out.kml").c_str()), 0);
    run = front({"adjust", dir + "/in.dat", "-o", dir + "/out.dat"});
    EXPECT_EQ(run.exitCode, 1) << run.standardError;
    EXPECT_TRUE(contains(run.standardError, "the KML file " + dir + "/out.kml is a directory"))
        << run.standardError;
    EXPECT_EQ(readFileBytes(dir + "/out.dat"), "earlier /out.dat");
    EXPECT_TRUE(entriesStartingWith(dir, ".out.dat.run-").empty());
}

// Renames of which the `renameFailAt`-th (counting from 1) fails, to provoke a failure midway.
int renameCalls = 0;
int renameFailAt = 0;
int failingRename(const char* from, const char* to) {
    if (++renameCalls == renameFailAt) {
        errno = EROFS;
        return -1;
    }
    return ::rename(from, to);
}

TEST(FrontEndSafety, MoveThatFailsMidwayPutsTheEarlierSetBack) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    const std::string runFolder = dir + "/.run";
    ASSERT_EQ(::mkdir(runFolder.c_str(), 0700), 0);
    const std::vector<std::string> names = {"/a.dat", "/a.rtf", "/a.kml"};
    std::vector<OutputMove> moves;
    for (const std::string& name : names) {
        writeFileBytes(runFolder + name, "new " + name);
        moves.push_back({runFolder + name, dir + name});
    }
    // The earlier set lacks a.kml: a new file without an earlier one is removed, not restored.
    writeEarlierSet(dir, {"/a.dat", "/a.rtf"});
    renameCalls = 0;
    renameFailAt = 5;  // two moved aside, two placed, the third fails
    setRenameFunction(failingRename);
    std::string error;
    EXPECT_FALSE(placeOutputSet(moves, runFolder, error));
    setRenameFunction(nullptr);
    EXPECT_TRUE(contains(error, dir + "/a.kml: cannot be written")) << error;
    EXPECT_TRUE(contains(error, "removed the new " + dir + "/a.dat")) << error;
    EXPECT_TRUE(contains(error, "restored the earlier " + dir + "/a.rtf")) << error;
    expectEarlierSet(dir, {"/a.dat", "/a.rtf"});
    EXPECT_FALSE(fileExists(dir + "/a.kml"));

    // The new files that were placed went with the undo; made again, the whole set is placed.
    for (const std::string& name : names)
        writeFileBytes(runFolder + name, "new " + name);
    EXPECT_TRUE(placeOutputSet(moves, runFolder, error)) << error;
    for (const std::string& name : names)
        EXPECT_EQ(readFileBytes(dir + name), "new " + name);
}

TEST(FrontEndSafety, SecondRunToTheSameOutputIsRefusedWhileTheFirstRuns) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(front({"import", kExample, dir + "/in.dat"}).exitCode, 0);
    const std::vector<std::string> adjust = {"adjust", dir + "/in.dat", "-o", dir + "/out.dat"};
    CommandOptions first;
    first.environment.emplace_back("TORVEK_FAKE_READY", dir + "/ready");
    CommandResult firstRun;
    std::thread slow([&] { firstRun = frontWithFake("slow", adjust, first); });
    for (int i = 0; i < 600 && !fileExists(dir + "/ready"); ++i)
        ::usleep(50 * 1000);
    const CommandResult second = frontWithFake("fast", adjust);
    slow.join();
    EXPECT_EQ(second.exitCode, 5) << second.standardError;
    EXPECT_TRUE(contains(second.standardError, "another run is writing " + dir + "/out.dat"))
        << second.standardError;
    EXPECT_NE(firstRun.exitCode, 5) << firstRun.standardError;
    EXPECT_NE(firstRun.exitCode, 3) << firstRun.standardError;
    // Once the first has ended, the output is free again.
    EXPECT_NE(frontWithFake("fast", adjust).exitCode, 5);
}

TEST(FrontEndSafety, TerminatedOrHungUpFrontEndEndsItsChild) {
    const TempDirectory folder;
    const std::string& dir = folder.path();
    ASSERT_EQ(front({"import", kExample, dir + "/in.dat"}).exitCode, 0);
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        ::unlink((dir + "/ready").c_str());
        CommandOptions options;
        options.interruptSignal = signal;
        options.interruptAfterMs = 200;
        options.interruptWhenExists = dir + "/ready";
        options.timeoutSeconds = 40;  // the stalled child sleeps for a minute
        options.environment.emplace_back("TORVEK_FAKE_READY", dir + "/ready");
        const CommandResult run =
            frontWithFake("stall", {"adjust", dir + "/in.dat", "-o", dir + "/out.dat"}, options);
        EXPECT_FALSE(run.timedOut);
        // Not killed by the signal itself (128 + signal), leaving the child behind: it ended the
        // child and then itself, as after a second Ctrl-C.
        EXPECT_EQ(run.exitCode, 3) << run.standardError;
        EXPECT_TRUE(contains(run.standardError, "left as they were")) << run.standardError;
    }
}

}  // namespace
}  // namespace torvek::front

#endif  // TORVEK_FRONT_BINARY

namespace torvek::front {
namespace {

TEST(ReportDocumentBounds, ReportOfLineFeedsIsBoundByLines) {
    ReportDocument document;
    for (int i = 0; i < 300000; ++i)
        document.addPiece(2, "\n");
    ASSERT_LE(document.lines().size(), 200001u);
    EXPECT_NE(document.lines().back().plainText().find("exceeds 200000 lines"), std::string::npos);
}

TEST(CsvExport, TextCellsThatWouldStartAFormulaAreQuotedNumbersAreNot) {
    AdjustedDataSet dataSet;
    dataSet.setHeaderText("=HYPERLINK(\"x\")");
    struct Case {
        const char* name;
        const char* cell;
    };
    const Case cases[] = {{"=A1", "'=A1"}, {"+A1", "'+A1"},   {"-A1", "'-A1"},
                          {"@A1", "'@A1"}, {"\tA1", "'\tA1"}, {"\rA1", "\"'\rA1\""},
                          {"A-1", "A-1"}};
    for (const Case& c : cases) {
        ASSERT_TRUE(dataSet.addSite(c.name));
        ASSERT_TRUE(dataSet.setSitePosition({-12.5, 5.0, 10.0, 47.0}));
    }
    const std::string csv = exportCsv(dataSet);
    for (const Case& c : cases)
        EXPECT_NE(csv.find("," + std::string(c.cell) + ",-12.5,"), std::string::npos) << c.cell;
    EXPECT_NE(csv.find("title,\"'=HYPERLINK(\"\"x\"\")\""), std::string::npos) << csv;
}

// The one place that starts programs: what it cannot start it says, naming the file or folder at
// fault, and a started child finds the descriptors it was given and none other of ours.
TEST(FrontSpawn, FailuresAreNamedAndOnlyTheGivenDescriptorsReachTheChild) {
    const TempDirectory folder;
    SpawnRequest missing;
    missing.program = folder.file("no-such-program");
    SpawnedProcess process = spawnProcess(missing);
    EXPECT_FALSE(process.started());
    EXPECT_NE(process.error.find("no-such-program: No such file"), std::string::npos)
        << process.error;
    SpawnRequest elsewhere;
    elsewhere.program = "/bin/sh";
    elsewhere.workingDirectory = folder.file("gone");
    process = spawnProcess(elsewhere);
    EXPECT_FALSE(process.started());
    EXPECT_NE(process.error.find(folder.file("gone")), std::string::npos) << process.error;

    // The child lists its open descriptors into a file given as its standard output.
    const int out = ::open(folder.file("fds").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const int extra = ::open("/dev/null", O_RDONLY);  // not close-on-exec: closeOthers drops it
    ASSERT_GE(out, 0);
    SpawnRequest listing;
    listing.program = "/bin/sh";
    listing.arguments = {"-c", "ls /proc/$$/fd"};
    listing.descriptors = {{1, out}, {7, out}};
    listing.closeOthers = true;
    listing.workingDirectory = folder.path();
    process = spawnProcess(listing);
    ASSERT_TRUE(process.started()) << process.error;
    int status = 0;
    ASSERT_EQ(::waitpid(process.pid, &status, 0), process.pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::close(out);
    ::close(extra);
    std::string listed = readFileBytes(folder.file("fds"));
    EXPECT_NE(listed.find("7\n"), std::string::npos) << listed;
    EXPECT_EQ(listed.find(std::to_string(extra) + "\n"), std::string::npos) << listed;
}

}  // namespace
}  // namespace torvek::front
