#pragma once
// The one place where the tests make temporary files: a fresh folder per test (or per child run)
// under the system's temporary folder, removed with everything in it when the test is done, so a
// test run leaves nothing behind.
#include <string>

namespace torvek::testing {

/// A fresh, empty folder of its own, named "torvek-test-XXXXXX", under the system's temporary
/// folder ($TMPDIR when set, else /tmp); removed with all it holds when the object goes, also when
/// the test that made it fails. Throws std::runtime_error when the folder cannot be made: a test
/// must never fall back to writing into a folder it shares with others.
class TempDirectory {
  public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    /// The folder's absolute path, without a trailing slash.
    const std::string& path() const { return path_; }
    /// The path of `name` inside the folder (`name` relative, not checked).
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

/// An unnamed file under the system's temporary folder, open for reading and writing and already
/// removed from the folder, for capturing a child's output streams. Throws std::runtime_error when
/// it cannot be made. The caller closes the descriptor.
int openAnonymousFile();

}  // namespace torvek::testing
