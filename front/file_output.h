#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace torvek::front {

// Writes `bytes` to `path` so that the file is either complete or untouched: the bytes go to a new
// file beside it, which then replaces `path` in one rename. False with `error` set (naming the
// file and the reason) when anything fails; a half-written scratch file is removed.
bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string& error);

// Reads a whole file of at most `limit` bytes. False with `error` set when it cannot be opened or
// read, or is larger.
bool readWholeFile(const std::string& path, std::size_t limit, std::string& contents,
                   std::string& error);

// `path` with its extension (from the last dot after the last slash) replaced by `extension`
// (given with its dot, e.g. ".rtf"); appended when there is none.
std::string replaceExtension(const std::string& path, const std::string& extension);

// True when both paths name one existing file (the same device and inode).
bool sameFile(const std::string& a, const std::string& b);

}  // namespace torvek::front
