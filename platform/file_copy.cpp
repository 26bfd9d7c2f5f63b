#include "platform/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/full_path.h"

namespace torvek::platform {
namespace {

// Lets the system copy the bytes from file to file without passing them through this process.
// 1: copied; 0: not supported between these files (nothing written), use copyContent; -1: failed.
int copyWithinSystem(int in, int out) {
#if defined(__linux__)
    // Bytes per call: large enough that a data set goes in one or two calls.
    constexpr std::size_t kCopyChunk = 1 << 30;
    bool any = false;
    for (;;) {
        const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, kCopyChunk, 0);
        if (copied > 0) {
            any = true;
            continue;
        }
        if (copied == 0)
            return 1;
        if (errno == EINTR)
            continue;
        // Older systems and some file systems cannot; before the first byte that is no failure.
        if (!any && (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP ||
                     errno == EBADF))
            return 0;
        return -1;
    }
#else
    (void)in;
    (void)out;
    return 0;
#endif
}

// Copies everything from `in` to `out`; on failure `failure` says which side failed.
bool copyContent(int in, int out, CopyFailure& failure) {
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            failure = CopyFailure::kSource;
            return false;
        }
        if (got == 0)
            return true;
        for (ssize_t done = 0; done < got;) {
            ssize_t put = ::write(out, buffer + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                failure = CopyFailure::kTarget;
                return false;
            }
            done += put;
        }
    }
}

}  // namespace

bool copyFile(const char* source, const char* target, CopyFailure* failure) {
    CopyFailure ignored = CopyFailure::kNone;
    CopyFailure& blame = failure != nullptr ? *failure : ignored;
    blame = CopyFailure::kTarget;
    if (source == nullptr || target == nullptr)
        return false;
    if (sameExistingFile(source, target))
        return false;
    // Without O_NONBLOCK, opening a FIFO would wait for a writer that may never come; anything
    // but a regular file is refused below anyway.
    int in = ::open(source, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat info {};
    if (in < 0 || ::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (in >= 0)
            ::close(in);
        blame = CopyFailure::kSource;
        return false;
    }
    std::string temporary = std::string(target) + ".copy-XXXXXX";
    int out = ::mkstemp(temporary.data());
    if (out < 0) {
        ::close(in);
        return false;
    }
    // A failure of the system's copy is not told apart by side: the source was opened and read
    // as a regular file, so it is put down to the target.
    const int withinSystem = copyWithinSystem(in, out);
    bool copied = withinSystem == 1 || (withinSystem == 0 && copyContent(in, out, blame));
    copied = (::fchmod(out, 0644) == 0) && copied;
    copied = (::close(out) == 0) && copied;
    ::close(in);
    if (copied && ::rename(temporary.c_str(), target) == 0) {
        blame = CopyFailure::kNone;
        return true;
    }
    ::unlink(temporary.c_str());
    return false;
}

}  // namespace torvek::platform
