#include "support/temp_directory.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace torvek::testing {
namespace {

namespace fs = std::filesystem;

// Every test folder and file starts so, so that a leak is easy to spot and to trace to the tests.
constexpr char kNamePrefix[] = "torvek-test-";

// A mkstemp/mkdtemp pattern under the system's temporary folder. temp_directory_path() honours
// $TMPDIR and throws when it names no folder.
std::string pattern(const std::string& stem) {
    return (fs::temp_directory_path() / (kNamePrefix + stem + "XXXXXX")).string();
}

[[noreturn]] void fail(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

// Tests lock folders against an unprivileged child (mode 0555 and the like); when not running as
// root those would keep their entries. Owner rights back on every folder make them removable.
void unlockFolders(const fs::path& root) {
    std::error_code ignored;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ignored);
    std::error_code walk;
    for (fs::recursive_directory_iterator it(root, walk), end; !walk && it != end;
         it.increment(walk)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
}

}  // namespace

TempDirectory::TempDirectory() {
    std::string name = pattern("");
    if (::mkdtemp(name.data()) == nullptr)
        fail("cannot make the test folder", name);
    path_ = name;
}

TempDirectory::~TempDirectory() {
    std::error_code error;
    fs::remove_all(path_, error);
    if (error) {
        unlockFolders(path_);
        fs::remove_all(path_, error);
    }
}

int openAnonymousFile() {
    std::string name = pattern("stream-");
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        fail("cannot make a scratch file", name);
    ::unlink(name.c_str());
    return fd;
}

}  // namespace torvek::testing
