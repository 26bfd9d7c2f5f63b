#include "front/files/run_files.h"

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
}

bool RunFolder::create(const std::string& output, std::string& error) {
    // Absolute, since the program runs with the folder as its working directory.
    std::string pattern = scratchPattern(resolvedPath(output), kRunFolderTag);
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = pattern.substr(0, pattern.size() - 7) + ": cannot be created (" +
                std::strerror(errno) + ")";
        return false;
    }
    path_ = pattern;
    return true;
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
