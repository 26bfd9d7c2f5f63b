#include "platform/full_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace torvek::platform {

namespace {

// `path` made absolute and with "." and ".." taken by name.
std::string textualFullPath(const char* path) {
    std::string joined;
    if (path[0] != '/') {
        std::vector<char> cwd(4096);
        if (::getcwd(cwd.data(), cwd.size()) == nullptr)
            return {};
        joined = cwd.data();
        joined.push_back('/');
    }
    joined.append(path);
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= joined.size()) {
        std::size_t slash = joined.find('/', start);
        if (slash == std::string::npos)
            slash = joined.size();
        std::string part = joined.substr(start, slash - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = slash + 1;
    }
    std::string result;
    for (const std::string& part : parts)
        result += "/" + part;
    return result.empty() ? "/" : result;
}

// The folder part through the file system, so that ".." after a symbolic link leads where the
// kernel goes, then the last name as given. Empty when the folder does not exist.
std::string resolvedFullPath(const char* path) {
    std::string text(path);
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    const std::size_t slash = text.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : text.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    if (name == "." || name == "..") {
        // The path names a folder itself: the whole of it is resolved.
        folder = text;
        name.clear();
    }
    char* real = ::realpath(folder.c_str(), nullptr);
    if (real == nullptr)
        return {};
    std::string result = real;
    std::free(real);
    if (!name.empty())
        result += (result == "/" ? "" : "/") + name;
    return result;
}

}  // namespace

std::size_t fullPath(const char* path, char* out, std::size_t size) {
    if (out == nullptr || size == 0)
        return 0;
    out[0] = '\0';
    if (path == nullptr || path[0] == '\0')
        return 0;
    std::string result = resolvedFullPath(path);
    if (result.empty())
        result = textualFullPath(path);
    if (result.empty() || result.size() + 1 > size)
        return 0;
    std::memcpy(out, result.c_str(), result.size() + 1);
    return result.size();
}

bool sameExistingFile(const char* first, const char* second) {
    struct stat a {};
    struct stat b {};
    if (first == nullptr || second == nullptr)
        return false;
    if (::stat(first, &a) != 0 || ::stat(second, &b) != 0)
        return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool namesNonRegularFile(const char* path) {
    struct stat info {};
    if (path == nullptr || ::stat(path, &info) != 0)
        return false;
    return !S_ISREG(info.st_mode);
}

}  // namespace torvek::platform
