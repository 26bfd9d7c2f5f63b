#pragma once
#include <cstddef>

namespace torvek::platform {

/// Longest path the program keeps, terminator included (the host platform's classic limit).
inline constexpr std::size_t kMaxPath = 260;

/// Writes the absolute form of `path` into `out` (`size` bytes). The folder part is resolved
/// through the file system (symbolic links followed, so "link/../name" is the name in the folder
/// above the link's target, where the kernel opens it) and the last name is kept as given; the
/// file itself need not exist. When the folder does not exist either, relative paths are taken
/// from the current directory and "." and ".." are resolved by name. Returns the length written, or
/// 0 when `path` is empty, the current directory is unknown, or the result with its terminator does
/// not fit (then `out` holds an empty string).
std::size_t fullPath(const char* path, char* out, std::size_t size);

/// True when the two paths name one existing file (the same device and inode, so hard links,
/// symbolic links and other spellings of one path all count).
bool sameExistingFile(const char* first, const char* second);

/// True when `path` names something that exists but is not a regular file once symbolic links
/// are followed: a directory, a device, a FIFO or a socket. False for a regular file and for a
/// path that names nothing.
bool namesNonRegularFile(const char* path);

}  // namespace torvek::platform
