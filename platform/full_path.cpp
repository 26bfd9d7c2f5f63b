#include "platform/full_path.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace torvek::platform {

std::size_t fullPath(const char* path, char* out, std::size_t size) {
    if (out == nullptr || size == 0)
        return 0;
    out[0] = '\0';
    if (path == nullptr || path[0] == '\0')
        return 0;
    std::string joined;
    if (path[0] != '/') {
        std::vector<char> cwd(4096);
        if (::getcwd(cwd.data(), cwd.size()) == nullptr)
            return 0;
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
    if (result.empty())
        result = "/";
    if (result.size() + 1 > size)
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

}  // namespace torvek::platform
