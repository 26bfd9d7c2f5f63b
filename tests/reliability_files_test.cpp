// Faults of the file system around a run: output directory missing or not writable, input missing
// or unreadable or no regular file, the scratch copy "torvek.tmp" not writable, temporary files
// unavailable or full. The input is never touched, the report says what failed in an "Error: "
// line and the exit code stays 0.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dataset/data_set_file.h"
#include "engine/adjustment_engine.h"
#include "support/engine_harness.h"
#include "support/in_process_front_end.h"
#include "support/report_markers.h"
#include "support/synthetic_network.h"
#include "support/temp_directory.h"
#include "support/test_front_end.h"

namespace torvek::testing {
namespace {

std::string errorLine(const std::string& text) {
    return inStyle(style::kError, "Error: ") + text + "\n ";
}

// The names in a folder, "." and ".." left out.
std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* listing = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(listing))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                names.push_back(entry->d_name);
        ::closedir(listing);
    }
    return names;
}

// True when `bytes` are as long as the data set's own counts say.
bool isWholeDataSet(const std::string& bytes) {
    if (bytes.size() < kEmptyDataSetFileSize)
        return false;
    std::int32_t counts[3];
    std::memcpy(counts, bytes.data(), sizeof counts);
    const std::size_t sizes[3] = {kSiteRecordSize, kVectorRecordSize, kAdjustmentRecordSize};
    std::size_t expected = kEmptyDataSetFileSize;
    for (int i = 0; i < 3; ++i)
        expected += counts[i] > 0 ? std::size_t(counts[i]) * sizes[i] : 0;
    return bytes.size() == expected;
}

// A minimally constrained ring of six sites followed by `records` adjustment records: a data set
// that adjusts at once but takes a while to copy and save.
ProjectDataSet smallRingWithRecords(int records) {
    SyntheticNetwork net = ringNetwork(6, 52.0, 5.0, 2000);
    fixSite(net.sites[0]);
    net.simulate(33);
    ProjectDataSet ds = net.toDataSet();
    for (int i = 0; i < records; ++i)
        EXPECT_TRUE(ds.addAdjustmentRecord());
    return ds;
}

class FileFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = folder.path();
        ::chmod(dir.c_str(), 0755);  // an unprivileged child must reach the input
        input = dir + "/in.dat";
        output = dir + "/out.dat";
        SyntheticNetwork net = ringNetwork(6, 52.0, 5.0, 2000);
        fixSite(net.sites[0]);
        net.simulate(31);
        net.writeTo(input);
        inputBytes = readFileBytes(input);
    }
    RunResult runWith(const std::string& in, const std::string& out, FrontEndScript script = {}) {
        if (script.workingDirectory.empty())
            script.workingDirectory = dir;
        RunResult result = runTorvek({in, out}, script);
        EXPECT_EQ(result.exitCode, 0) << result.standardError;
        EXPECT_FALSE(result.timedOut);
        EXPECT_EQ(readFileBytes(input), inputBytes) << "the input data set changed";
        return result;
    }
    // Root reads and writes any file whatever its mode; such tests run the program as an
    // unprivileged user, which a machine may not allow.
    bool unprivilegedRunsPossible() {
        FrontEndScript probe;
        probe.unprivileged = true;
        probe.giveEndpoints = false;
        return runTorvek({}, probe).exitCode == 1;  // the usage exit, so it ran
    }
    // A network that fails its first attempt with a site-related singularity, so a retry would
    // follow: two sites of one name, the second of which no vector reaches in the engine.
    static SyntheticNetwork singularNetwork() { return duplicateNameNetwork(); }
    TempDirectory folder;
    std::string dir, input, output, inputBytes;
};

TEST_F(FileFaults, OutputDirectoryMissingOrAFile) {
    for (const std::string& out : {dir + "/missing/out.dat", input + "/out.dat"}) {
        RunResult result = runWith(input, out);
        const std::string styled = result.styledReport();
        EXPECT_NE(styled.find(errorLine("Cannot copy the input data set to " + out)),
                  std::string::npos)
            << styled;
        EXPECT_NE(styled.find(errorLine("Cannot write the output data set " + out)),
                  std::string::npos);
    }
}

TEST_F(FileFaults, OutputDirectoryNotWritable) {
    if (!unprivilegedRunsPossible())
        GTEST_SKIP() << "the program cannot be run as an unprivileged user here";
    const std::string locked = dir + "/locked";
    ::mkdir(locked.c_str(), 0555);
    ::chmod(locked.c_str(), 0555);
    FrontEndScript script;
    script.unprivileged = true;
    const std::string out = locked + "/out.dat";
    RunResult result = runWith(input, out, script);
    const std::string styled = result.styledReport();
    EXPECT_NE(styled.find(errorLine("Cannot copy the input data set to " + out)), std::string::npos)
        << styled;
    EXPECT_NE(styled.find(errorLine("Cannot write the output data set " + out)), std::string::npos);
    EXPECT_FALSE(fileExists(out));
}

TEST_F(FileFaults, OutputThatIsNoRegularFileIsRefusedUntouched) {
    const std::string fifo = dir + "/pipe.dat";
    const std::string directory = dir + "/folder.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(::mkdir(directory.c_str(), 0755), 0);
    for (const std::string& out : {fifo, directory}) {
        RunResult result = runWith(input, out);
        EXPECT_NE(result.styledReport().find(
                      errorLine("The output data set path names no regular file: " + out)),
                  std::string::npos)
            << result.styledReport();
        EXPECT_EQ(result.stages(), std::vector<int>{0});
    }
    struct stat info {};
    ASSERT_EQ(::stat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    ASSERT_EQ(::stat(directory.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
}

TEST_F(FileFaults, InputMissingOrNoRegularFile) {
    const std::string fifo = dir + "/pipe.dat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    // A FIFO with no writer would keep a plain open waiting for ever.
    for (const std::string& in : {dir + "/missing.dat", fifo, dir}) {
        RunResult result = runWith(in, output);
        const std::string styled = result.styledReport();
        EXPECT_NE(styled.find(errorLine("Cannot read the input data set " + in)), std::string::npos)
            << styled;
        EXPECT_NE(styled.find(errorLine("Cannot copy the input data set to " + output)),
                  std::string::npos);
        // The emptied output data set is still written.
        AdjustedDataSet written;
        ASSERT_TRUE(written.readFile(output));
        EXPECT_TRUE(written.sites().empty());
    }
}

TEST_F(FileFaults, InputUnreadable) {
    if (!unprivilegedRunsPossible())
        GTEST_SKIP() << "the program cannot be run as an unprivileged user here";
    ::chmod(input.c_str(), 0);
    const std::string writable = dir + "/open";
    ::mkdir(writable.c_str(), 0777);
    ::chmod(writable.c_str(), 0777);
    const std::string out = writable + "/out.dat";
    FrontEndScript script;
    script.unprivileged = true;
    script.workingDirectory = writable;
    RunResult result = runWith(input, out, script);
    const std::string styled = result.styledReport();
    EXPECT_NE(styled.find(errorLine("Cannot read the input data set " + input)), std::string::npos)
        << styled;
    EXPECT_NE(styled.find(errorLine("Cannot copy the input data set to " + out)),
              std::string::npos);
    ::chmod(input.c_str(), 0644);
}

TEST_F(FileFaults, ScratchCopyThatCannotBeWrittenEndsTheAttemptWithItsReason) {
    SyntheticNetwork net = singularNetwork();
    net.writeTo(input);
    inputBytes = readFileBytes(input);
    const std::string expected =
        errorLine("Cannot write the scratch copy torvek.tmp in the current directory") +
        marker(style::kBody) + inStyle(style::kError, "Error: Adjustment was not sucessful\n ");

    // As root: a directory of that name cannot be replaced by a file.
    ASSERT_EQ(::mkdir((dir + "/torvek.tmp").c_str(), 0755), 0);
    RunResult result = runWith(input, output);
    std::string styled = result.styledReport();
    EXPECT_NE(styled.find(expected), std::string::npos) << styled;
    EXPECT_EQ(styled.find("Try to resolve"), std::string::npos);  // no retry without the copy
    AdjustedDataSet written;
    ASSERT_TRUE(written.readFile(output));
    EXPECT_EQ(written.adjustmentSucceeded(), 0);

    // A working directory that the user may not write to.
    if (!unprivilegedRunsPossible())
        GTEST_SKIP() << "the program cannot be run as an unprivileged user here";
    const std::string locked = dir + "/locked";
    const std::string writable = dir + "/open";
    ::mkdir(locked.c_str(), 0555);
    ::chmod(locked.c_str(), 0555);
    ::mkdir(writable.c_str(), 0777);
    ::chmod(writable.c_str(), 0777);
    FrontEndScript script;
    script.unprivileged = true;
    script.workingDirectory = locked;
    result = runWith(input, writable + "/out.dat", script);
    styled = result.styledReport();
    EXPECT_NE(styled.find(expected), std::string::npos) << styled;
    EXPECT_FALSE(fileExists(locked + "/torvek.tmp"));
}

// In a sanitizer build the dynamic-type check probes memory through a pipe, which a program short
// of descriptors cannot open: it then reports every object with a virtual destructor as invalid.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizerBuild = true;
#else
constexpr bool kSanitizerBuild = false;
#endif

TEST_F(FileFaults, TemporaryFilesUnavailable) {
    if (kSanitizerBuild)
        GTEST_SKIP() << "the sanitizers' own memory probe needs descriptors that this test takes "
                        "away; the scratch-file faults are covered here by ScratchFileFaults";
    // With room for n more open files: 1 reads the input but cannot copy it (a copy holds two),
    // 2 and 3 run out among the four scratch files, 4 is enough. (With none, the program could
    // not even be loaded.)
    struct Case {
        int free;
        std::vector<std::string> errors;
        const char* standardError;
        std::uint8_t succeeded;
    };
    const Case cases[] = {
        {1, {"Cannot copy the input data set to " + output}, "", 0},
        {2,
         {"Cannot create the temporary files of the adjustment", "Adjustment was not sucessful"},
         "Error opening Scratch3-Output File!: Too many open files",
         0},
        {3,
         {"Cannot create the temporary files of the adjustment", "Adjustment was not sucessful"},
         "Error opening Scratch4-Output File!: Too many open files",
         0},
        {4, {}, "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.free);
        ::unlink(output.c_str());
        FrontEndScript script;
        script.freeDescriptors = c.free;
        RunResult result = runWith(input, output, script);
        const std::string styled = result.styledReport();
        for (const std::string& error : c.errors)
            EXPECT_NE(styled.find(errorLine(error)), std::string::npos) << error << "\n" << styled;
        if (c.errors.empty()) {
            EXPECT_EQ(styled.find("Error: "), std::string::npos) << styled;
        }
        EXPECT_NE(result.standardError.find(c.standardError), std::string::npos)
            << result.standardError;
        AdjustedDataSet written;
        ASSERT_TRUE(written.readFile(output));
        EXPECT_EQ(written.adjustmentSucceeded(), c.succeeded);
    }
}

TEST_F(FileFaults, InputRemovedBeforeTheRetryIsNamed) {
    duplicateNameNetwork().writeTo(input);
    FrontEndScript script;
    script.removeAtStage[29] = input;  // after reading it, before the first attempt
    RunResult result = runTorvek({input, output}, script);
    const std::string styled = result.styledReport();
    EXPECT_NE(styled.find(errorLine("Cannot read the input data set " + input)), std::string::npos)
        << styled;
    EXPECT_EQ(styled.find("scratch copy"), std::string::npos);
}

TEST_F(FileFaults, FileSizeLimitFailsTheWriteInsteadOfKillingTheProgram) {
    // An input without its adjustment record: the copy has the input's size, the output gains
    // the record. A little above the input's size the copy fits and the final save does not;
    // below it the copy fails already. (Exactly at it, the system's copy fails on its closing
    // call at the limit.)
    std::string bare = inputBytes.substr(0, inputBytes.size() - kAdjustmentRecordSize);
    bare.replace(8, 4, std::string(4, '\0'));
    writeFileBytes(input, bare);
    inputBytes = bare;
    const long long size = static_cast<long long>(bare.size());
    struct Case {
        long long limit;
        std::string error;
    };
    const Case cases[] = {{size - 1000, "Cannot copy the input data set to " + output},
                          {size + 100, "Cannot write the output data set " + output}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        FrontEndScript script;
        script.fileSizeLimit = c.limit;
        RunResult result = runWith(input, output, script);
        EXPECT_NE(result.styledReport().find(errorLine(c.error)), std::string::npos)
            << result.reportText();
        // No partial file: the output, if any, is a whole data set, and no temporary is left.
        EXPECT_TRUE(!fileExists(output) || isWholeDataSet(readFileBytes(output)));
        std::vector<std::string> left = folderEntries(dir);
        EXPECT_LE(left.size(), 2u) << ::testing::PrintToString(left);
    }
}

TEST_F(FileFaults, FolderOfThePathIsResolvedThroughItsSymbolicLinks) {
    // link -> deep/inner: "link/../out.dat" is deep/out.dat to the kernel, not ./out.dat.
    ASSERT_EQ(::mkdir((dir + "/deep").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir + "/deep/inner").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("deep/inner", (dir + "/link").c_str()), 0);
    writeFileBytes(dir + "/out.dat", "not to be touched");
    RunResult result = runWith(input, "link/../out.dat");
    EXPECT_EQ(readFileBytes(dir + "/out.dat"), "not to be touched");
    AdjustedDataSet written;
    ASSERT_TRUE(written.readFile(dir + "/deep/out.dat"));
    EXPECT_EQ(written.adjustmentSucceeded(), 1) << result.reportText();
}

// A run killed at any moment leaves no output, the previous one or a whole new one. The network
// is small but carries many adjustment records, so the output takes long enough to write that
// the kills fall before, during and after the final save.
TEST_F(FileFaults, KillAtAnyMomentLeavesNoTruncatedOutput) {
    ProjectDataSet large = smallRingWithRecords(60000);
    ASSERT_TRUE(large.writeFile(input));
    const std::string previous = readFileBytes(input);
    inputBytes = previous;
    const std::size_t wholeSize = previous.size();

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(runWith(input, output).exitCode, 0);
    const auto runMicroseconds =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    constexpr int kKills = 24;
    int truncated = 0;
    for (int k = 0; k < kKills; ++k) {
        // The temporaries a killed save leaves are no output; they go before the next try.
        for (const std::string& name : folderEntries(dir))
            if (name.rfind("out.dat.", 0) == 0)
                ::unlink((dir + "/" + name).c_str());
        writeFileBytes(output, previous);
        const pid_t child = ::fork();
        if (child == 0) {
            ::execl(TORVEK_BINARY, TORVEK_BINARY, input.c_str(), output.c_str(), nullptr);
            ::_exit(127);
        }
        ASSERT_GT(child, 0);
        ::usleep(static_cast<useconds_t>(runMicroseconds * (k + 1) / kKills));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!fileExists(output))
            continue;
        const std::string left = readFileBytes(output);
        if (left != previous && !(left.size() == wholeSize && isWholeDataSet(left)))
            ++truncated;
    }
    EXPECT_EQ(truncated, 0);
}

// Under a tight limit on its address space the program either adjusts or says that memory ran
// out; it never blames a good input, never crashes and never leaves a failure without a word.
TEST_F(FileFaults, MemoryFailuresAreReportedWhereverTheyHappen) {
    if (kSanitizerBuild)
        GTEST_SKIP() << "the sanitizers reserve far more address space than any limit tried here";
    ProjectDataSet large = smallRingWithRecords(20000);  // about 6 MB to read, twice over
    ASSERT_TRUE(large.writeFile(input));
    inputBytes = readFileBytes(input);
    int reported = 0;
    for (long long megabytes = 8; megabytes <= 96; megabytes += 2) {
        SCOPED_TRACE(megabytes);
        ::unlink(output.c_str());
        FrontEndScript script;
        script.addressSpaceLimit = megabytes << 20;
        script.workingDirectory = dir;
        RunResult result = runTorvek({input, output}, script);
        if (result.frames.empty())
            continue;  // too tight for the program to be loaded at all
        EXPECT_EQ(result.exitCode, 0) << result.standardError;
        const std::string text = result.reportText();
        EXPECT_EQ(text.find("Cannot read the input data set"), std::string::npos) << text;
        AdjustedDataSet written;
        const bool succeeded = written.readFile(output) && written.adjustmentSucceeded() == 1;
        const bool saysMemory =
            text.find("Error: Not enough memory for request") != std::string::npos;
        EXPECT_TRUE(succeeded || saysMemory) << text;
        reported += saysMemory ? 1 : 0;
    }
    EXPECT_GT(reported, 0) << "no limit tried was tight enough to show a memory failure";
}

// A minimally constrained ring of six sites, as the engine gets it from the job.
ProjectDataSet smallRing() {
    SyntheticNetwork net = ringNetwork(6, 52.0, 5.0, 2000);
    fixSite(net.sites[0]);
    net.simulate(32);
    return net.toDataSet();
}

// The engine on its own, its temporary files replaced by ones that fail.
struct EngineOnFailingFiles : EngineOn<InProcessFrontEnd> {
    explicit EngineOnFailingFiles(TemporaryFileOpener opener) : EngineOn(smallRing(), true) {
        setTemporaryFileOpener(opener);
        // Every byte goes to the files, which a network this small would otherwise never reach.
        setScratchMemoryLimit(0);
    }
    ~EngineOnFailingFiles() {
        setTemporaryFileOpener(nullptr);
        setScratchMemoryLimit(kDefaultScratchMemoryLimit);
    }
};

TEST(ScratchFileFaults, FullTemporaryFilesFailTheAttemptBeforeAnyResult) {
    // Every write to /dev/full fails for want of space; reading it gives zeros, which read back
    // as equations would give a wrong adjustment rather than none.
    EngineOnFailingFiles harness([] { return std::fopen("/dev/full", "w+b"); });
    EXPECT_FALSE(harness.engine.adjust());
    const std::string styled = harness.frontEnd.styledReport();
    EXPECT_NE(styled.find(errorLine("Cannot write the temporary files of the adjustment")),
              std::string::npos)
        << styled;
    EXPECT_EQ(styled.find("Adjustment Tests"), std::string::npos);
    for (const SiteRecord& site : harness.output.sites())
        EXPECT_EQ(site.adjustedLatitude, 0.0);
}

TEST(ScratchFileFaults, MissingTemporaryFilesAreReported) {
    EngineOnFailingFiles harness([]() -> std::FILE* { return nullptr; });
    EXPECT_FALSE(harness.engine.adjust());
    EXPECT_NE(harness.frontEnd.styledReport().find(
                  errorLine("Cannot create the temporary files of the adjustment")),
              std::string::npos)
        << harness.frontEnd.styledReport();
}

}  // namespace
}  // namespace torvek::testing
