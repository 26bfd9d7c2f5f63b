#include "front/files/run_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "front/files/file_output.h"

namespace torvek::front {
namespace {

// The tag of a run folder's name (scratchPattern).
constexpr const char* kRunFolderTag = "run";

// `path` made absolute with "." and ".." taken by name, for a folder that does not exist.
std::string textualAbsolute(const std::string& path) {
    std::string joined = path;
    if (path.empty() || path[0] != '/') {
        char cwd[PATH_MAX];
        joined =
            (::getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) : std::string()) + "/" + path;
    }
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= joined.size()) {
        std::size_t slash = joined.find('/', start);
        if (slash == std::string::npos) {
            slash = joined.size();
        }
        const std::string part = joined.substr(start, slash - start);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = slash + 1;
    }
    std::string result;
    for (const std::string& part : parts) {
        result += "/" + part;
    }
    return result.empty() ? "/" : result;
}

// The folder part, with its slash, and the last name of `path` ("./" for a path without one).
void splitPath(const std::string& path, std::string& folder, std::string& name) {
    const std::size_t slash = path.find_last_of('/');
    folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string resolvedPath(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.pop_back();
    }
    std::string folder, name;
    splitPath(trimmed, folder, name);
    if (name == "." || name == "..") {
        folder = trimmed;
        name.clear();
    }
    char* real = ::realpath(folder.c_str(), nullptr);
    if (real == nullptr) {
        return textualAbsolute(path);
    }
    std::string result = real;
    std::free(real);
    if (!name.empty()) {
        result += (result == "/" ? "" : "/") + name;
    }
    return result;
}

bool samePath(const std::string& a, const std::string& b) {
    struct stat first {
    }, second{};
    if (::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
        first.st_dev == second.st_dev && first.st_ino == second.st_ino) {
        return true;
    }
    return resolvedPath(a) == resolvedPath(b);
}

std::string findPathClash(const std::vector<std::string>& inputs,
                          const std::vector<RunFile>& outputs) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        for (const std::string& input : inputs) {
            if (samePath(outputs[i].path, input)) {
                return outputs[i].role + " " + outputs[i].path +
                       " would replace an input: " + input;
            }
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (samePath(outputs[i].path, outputs[j].path)) {
                return outputs[i].role + " " + outputs[i].path + " and " + outputs[j].role + " " +
                       outputs[j].path + " would be one file";
            }
        }
    }
    return {};
}

void RunFolder::removeStale(const std::string& output) {
    removeStaleScratch(resolvedPath(output), kRunFolderTag);
}

RunFolder::~RunFolder() {
    if (!path_.empty()) {
        removeScratch(path_);
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_);  // the lock goes with the descriptor, after the folder
    }
}

namespace {

// A descriptor of the folder `path` with an exclusive flock on it, or -1 when it cannot be
// opened, or (with `wait` false) when another descriptor holds the lock.
int lockFolder(const std::string& path, bool wait) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    while (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        if (errno != EINTR) {
            const int reason = errno;
            ::close(fd);
            errno = reason;
            return -1;
        }
    }
    return fd;
}

// The first run folder of `output` (".NAME.run-...") in `folder` that another descriptor locks.
std::string lockedRunFolder(const std::string& folder, const std::string& output) {
    std::string folderPart, name;
    splitPath(output, folderPart, name);
    const std::string prefix = "." + name + "." + kRunFolderTag + "-";
    std::string found;
    if (DIR* listing = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(listing)) {
            const std::string entryName = entry->d_name;
            if (entryName.rfind(prefix, 0) != 0) {
                continue;
            }
            const std::string path = folder + "/" + entryName;
            const int fd = lockFolder(path, false);
            if (fd >= 0) {
                ::close(fd);
            } else if (errno == EWOULDBLOCK) {
                found = path;
                break;
            }
        }
        ::closedir(listing);
    }
    return found;
}

}  // namespace

bool RunFolder::create(const std::string& output, std::string& error) {
    // Absolute, since the program runs with the folder as its working directory.
    const std::string resolved = resolvedPath(output);
    std::string pattern = scratchPattern(resolved, kRunFolderTag);
    std::string folder, name;
    splitPath(resolved, folder, name);
    const int folderLock = lockFolder(folder, true);
    busy_ = lockedRunFolder(folder, resolved);
    if (!busy_.empty()) {
        error = "another run is writing " + output + " (its run folder is " + busy_ +
                "): this one is refused so that their outputs do not mix; run it again when "
                "that one has ended";
    } else if (::mkdtemp(pattern.data()) == nullptr) {
        error = pattern.substr(0, pattern.size() - 7) + ": cannot be created (" +
                std::strerror(errno) + ")";
    } else {
        path_ = pattern;
        lockFd_ = lockFolder(path_, false);
    }
    if (folderLock >= 0) {
        ::close(folderLock);
    }
    return !path_.empty();
}

namespace {

RenameFunction renameFunction = &::rename;

}  // namespace

bool placeOutputSet(const std::vector<OutputMove>& moves, const std::string& runFolder,
                    std::string& error) {
    // Earlier outputs aside first: a failure after this point puts them back.
    std::vector<std::string> aside(moves.size());
    std::size_t movedAside = 0;
    std::size_t placed = 0;
    std::string failed;
    for (; movedAside < moves.size() && failed.empty(); ++movedAside) {
        struct stat info {};
        if (::lstat(moves[movedAside].to.c_str(), &info) != 0) {
            continue;
        }
        const std::string to = runFolder + "/earlier-" + std::to_string(movedAside);
        if (renameFunction(moves[movedAside].to.c_str(), to.c_str()) != 0) {
            failed = moves[movedAside].to + ": cannot be replaced (" + std::strerror(errno) + ")";
            break;
        }
        aside[movedAside] = to;
    }
    for (; failed.empty() && placed < moves.size(); ++placed) {
        if (renameFunction(moves[placed].from.c_str(), moves[placed].to.c_str()) != 0) {
            failed = moves[placed].to + ": cannot be written (" + std::strerror(errno) + ")";
            break;
        }
    }
    if (failed.empty()) {
        return true;
    }
    error = failed + "; no output of this run was put in place";
    for (std::size_t i = 0; i < placed; ++i) {
        if (::unlink(moves[i].to.c_str()) == 0) {
            error += "; removed the new " + moves[i].to;
        }
    }
    for (std::size_t i = 0; i < aside.size(); ++i) {
        if (aside[i].empty()) {
            continue;
        }
        if (renameFunction(aside[i].c_str(), moves[i].to.c_str()) == 0) {
            error += "; restored the earlier " + moves[i].to;
        } else {
            // The run folder goes at the end of the run: the earlier file is saved beside its
            // place under a name of its own rather than lost with it.
            const std::string kept = moves[i].to + ".earlier";
            error += "; could not restore the earlier " + moves[i].to +
                     (renameFunction(aside[i].c_str(), kept.c_str()) == 0
                          ? " (it is kept as " + kept + ")"
                          : " (" + std::string(std::strerror(errno)) + ")");
        }
    }
    return false;
}

void setRenameFunction(RenameFunction rename) {
    renameFunction = rename != nullptr ? rename : &::rename;
}

bool moveIntoPlace(const std::string& from, const std::string& to, std::string& error) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        error = to + ": cannot be written (" + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

std::string truncationWarning(const std::string& path, const ProjectDataSet& dataSet) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return {};
    }
    const std::uint64_t announced = dataSetFileSize(dataSet.siteCount(), dataSet.vectorCount(),
                                                    dataSet.adjustmentRecordCount());
    const auto held = static_cast<std::uint64_t>(info.st_size);
    if (held >= announced) {
        return {};
    }
    return path + " is truncated: its counts announce " + std::to_string(announced) +
           " bytes but it holds " + std::to_string(held) +
           "; the records missing from it read as blank ones";
}

}  // namespace torvek::front
