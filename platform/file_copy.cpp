#include "platform/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/full_path.h"

namespace torvek::platform {
namespace {

bool copyContent(int in, int out) {
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        for (ssize_t done = 0; done < got;) {
            ssize_t put = ::write(out, buffer + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            done += put;
        }
    }
}

}  // namespace

bool copyFile(const char* source, const char* target) {
    if (source == nullptr || target == nullptr)
        return false;
    if (sameExistingFile(source, target))
        return false;
    int in = ::open(source, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    struct stat info {};
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        return false;
    }
    std::string temporary = std::string(target) + ".copy-XXXXXX";
    int out = ::mkstemp(temporary.data());
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool copied = copyContent(in, out);
    copied = (::fchmod(out, 0644) == 0) && copied;
    copied = (::close(out) == 0) && copied;
    ::close(in);
    if (copied && ::rename(temporary.c_str(), target) == 0)
        return true;
    ::unlink(temporary.c_str());
    return false;
}

}  // namespace torvek::platform
