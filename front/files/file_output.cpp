#include "front/files/file_output.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace torvek::front {

namespace {

// The tag of the scratch file that writeFileAtomically writes beside its target.
constexpr const char* kPartialTag = "part";

// The folder part of `path` with its slash ("./" for none) and the last name.
void splitPath(const std::string& path, std::string& folder, std::string& name) {
    const std::size_t slash = path.find_last_of('/');
    folder = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string scratchPrefix(const std::string& name, const std::string& tag) {
    return "." + name + "." + tag + "-";
}

}  // namespace

void removeScratch(const std::string& path) {
    if (::unlink(path.c_str()) == 0 || (errno != EISDIR && errno != EPERM)) {
        return;
    }
    // Without allocating: this runs in destructors, also while a failed allocation unwinds.
    if (DIR* listing = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(listing)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                ::unlinkat(::dirfd(listing), entry->d_name, 0);
            }
        }
        ::closedir(listing);
    }
    ::rmdir(path.c_str());
}

std::string scratchPattern(const std::string& path, const std::string& tag) {
    std::string folder, name;
    splitPath(path, folder, name);
    return folder + scratchPrefix(name, tag) + std::to_string(static_cast<long>(::getpid())) +
           "-XXXXXX";
}

void removeStaleScratch(const std::string& path, const std::string& tag) {
    std::string folder, name;
    splitPath(path, folder, name);
    const std::string prefix = scratchPrefix(name, tag);
    std::vector<std::string> stale;
    if (DIR* listing = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(listing)) {
            const std::string entryName = entry->d_name;
            if (entryName.rfind(prefix, 0) != 0) {
                continue;
            }
            const long pid = std::strtol(entryName.c_str() + prefix.size(), nullptr, 10);
            if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
                stale.push_back(folder + entryName);
            }
        }
        ::closedir(listing);
    }
    for (const std::string& path : stale) {
        removeScratch(path);
    }
}

bool AtomicFileWriter::open(const std::string& path, std::string& error) {
    abandon();
    removeStaleScratch(path, kPartialTag);
    std::string scratch = scratchPattern(path, kPartialTag);
    std::vector<char> name(scratch.begin(), scratch.end());
    name.push_back('\0');
    fd_ = ::mkstemp(name.data());
    if (fd_ < 0) {
        error = path + ": cannot be written (" + std::strerror(errno) + ")";
        return false;
    }
    path_ = path;
    scratch_ = name.data();
    writeErrno_ = 0;
    return true;
}

bool AtomicFileWriter::write(std::string_view bytes) {
    if (fd_ < 0 || writeErrno_ != 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            writeErrno_ = put < 0 ? errno : EIO;
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool AtomicFileWriter::commit(std::string& error) {
    if (fd_ < 0) {
        error = path_ + ": cannot be written";
        return false;
    }
    if (writeErrno_ != 0) {
        error = path_ + ": writing failed (" + std::strerror(writeErrno_) + ")";
        abandon();
        return false;
    }
    // mkstemp creates the file for its owner only; a result file is as readable as any other.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        error = path_ + ": writing failed (" + std::strerror(errno) + ")";
        ::unlink(scratch_.c_str());
        return false;
    }
    if (::rename(scratch_.c_str(), path_.c_str()) != 0) {
        error = path_ + ": cannot be written (" + std::strerror(errno) + ")";
        ::unlink(scratch_.c_str());
        return false;
    }
    return true;
}

void AtomicFileWriter::abandon() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(scratch_.c_str());
        fd_ = -1;
    }
}

AtomicFileWriter::~AtomicFileWriter() {
    abandon();
}

bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string& error) {
    AtomicFileWriter file;
    if (!file.open(path, error)) {
        return false;
    }
    file.write(bytes);
    return file.commit(error);
}

bool writeFileInPieces(const std::string& path, const std::function<void(const TextSink&)>& produce,
                       std::string& error) {
    constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
    // A piece this large goes out as it is rather than through the buffer: the GIS writers hand
    // over their features in pieces of this size (kSinkPieceBytes), and copying megabytes into
    // the buffer took a fifth of their time.
    constexpr std::size_t kDirectBytes = kSinkPieceBytes;
    AtomicFileWriter file;
    if (!file.open(path, error)) {
        return false;
    }
    std::string buffer;
    buffer.reserve(kBufferBytes);
    produce([&](std::string_view piece) {
        if (buffer.size() + piece.size() >= kBufferBytes || piece.size() >= kDirectBytes) {
            file.write(buffer);
            buffer.clear();
            if (piece.size() >= kDirectBytes) {
                file.write(piece);
                return;
            }
        }
        buffer += piece;
    });
    file.write(buffer);
    return file.commit(error);
}

bool readWholeFile(const std::string& path, std::size_t limit, std::string& contents,
                   std::string& error) {
    // Opened without blocking: a FIFO would otherwise hold the front end until a writer came.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = path + ": cannot be opened (" + std::strerror(errno) + ")";
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = path + (S_ISDIR(info.st_mode) ? ": is a directory" : ": is not a regular file");
        return false;
    }
    // Refused on its size before a byte is read, so that a file too large takes no memory; read
    // into room for its size, so that a large one does not pass through doubling copies.
    if (static_cast<std::uint64_t>(info.st_size) > limit) {
        ::close(fd);
        error = path + ": is larger than " + std::to_string(limit) + " bytes";
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::string data;
    data.reserve(static_cast<std::size_t>(info.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = path + ": cannot be read (" + std::strerror(errno) + ")";
            ::close(fd);
            return false;
        }
        if (got == 0) {
            break;
        }
        if (data.size() + static_cast<std::size_t>(got) > limit) {
            error = path + ": is larger than " + std::to_string(limit) + " bytes";
            ::close(fd);
            return false;
        }
        data.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    contents = std::move(data);
    return true;
}

std::string replaceExtension(const std::string& path, const std::string& extension) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (hasExtension ? path.substr(0, dot) : path) + extension;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {
    }, second{};
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) {
        return false;
    }
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace torvek::front
