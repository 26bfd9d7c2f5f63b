// The tests' own files: a test folder goes with everything in it, a missing temporary folder is an
// error rather than a reason to write elsewhere, and a child run leaves nothing in the folder it
// was started from nor in the temporary folder.
#include "support/temp_directory.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/command_runner.h"
#include "support/synthetic_network.h"
#include "support/test_front_end.h"

namespace torvek::testing {
namespace {

// $TMPDIR set for one scope, and put back as it was afterwards.
class ScopedTemporaryRoot {
  public:
    explicit ScopedTemporaryRoot(const std::string& path) {
        if (const char* old = std::getenv("TMPDIR"))
            previous_ = old;
        ::setenv("TMPDIR", path.c_str(), 1);
    }
    ~ScopedTemporaryRoot() {
        if (previous_)
            ::setenv("TMPDIR", previous_->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }

  private:
    std::optional<std::string> previous_;
};

// The process's working folder changed for one scope, and put back afterwards.
class ScopedWorkingFolder {
  public:
    explicit ScopedWorkingFolder(const std::string& path)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(path);
    }
    ~ScopedWorkingFolder() { std::filesystem::current_path(previous_); }

  private:
    std::filesystem::path previous_;
};

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

TEST(TempDirectory, GoesWithEverythingInItLockedFoldersAndFilesToo) {
    const TempDirectory root;
    const ScopedTemporaryRoot scoped(root.path());
    std::string made;
    {
        const TempDirectory folder;
        made = folder.path();
        EXPECT_EQ(made.rfind(root.path() + "/torvek-test-", 0), 0u) << made;
        EXPECT_TRUE(entries(made).empty());
        const std::string locked = folder.file("locked");
        ASSERT_EQ(::mkdir(locked.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((locked + "/inner").c_str(), 0755), 0);
        writeFileBytes(locked + "/inner/data", "bytes");
        writeFileBytes(locked + "/unreadable", "bytes");
        ::chmod((locked + "/unreadable").c_str(), 0);
        ::chmod((locked + "/inner").c_str(), 0555);
        ::chmod(locked.c_str(), 0555);
    }
    EXPECT_FALSE(fileExists(made));
    EXPECT_TRUE(entries(root.path()).empty());
}

TEST(TempDirectory, MissingTemporaryFolderIsAnErrorNotAFallback) {
    const TempDirectory root;
    const ScopedTemporaryRoot scoped(root.file("missing"));
    EXPECT_THROW(TempDirectory(), std::runtime_error);
    EXPECT_THROW(openAnonymousFile(), std::runtime_error);
    EXPECT_TRUE(entries(root.path()).empty());
}

// A network whose first attempt fails, so the program writes its scratch copy into the working
// folder before it retries.
TEST(ChildRuns, LeaveNothingWhereTheyStartNorInTheTemporaryFolder) {
    const TempDirectory data, start, root;
    const std::string input = data.file("in.dat");
    duplicateNameNetwork().writeTo(input);
    const ScopedTemporaryRoot scopedRoot(root.path());
    const ScopedWorkingFolder scopedStart(start.path());

    const RunResult linked = runTorvek({input, data.file("linked.dat")});
    EXPECT_EQ(linked.exitCode, 0);
    EXPECT_NE(linked.reportText().find("Try to resolve"), std::string::npos)
        << "no retry, so no scratch copy: " << linked.reportText();
    const CommandResult plain = runCommand(TORVEK_BINARY, {input, data.file("plain.dat")});
    EXPECT_EQ(plain.exitCode, 0);

    EXPECT_TRUE(entries(start.path()).empty());
    EXPECT_TRUE(entries(root.path()).empty());
    EXPECT_EQ(entries(data.path()).size(), 3u);  // the input and the two outputs
}

}  // namespace
}  // namespace torvek::testing
