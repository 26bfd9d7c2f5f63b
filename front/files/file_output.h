#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace torvek::front {

// The name pattern of a scratch file or folder that torvek-front makes beside `path` while it
// writes it: ".NAME.TAG-PID-XXXXXX" in the folder of `path`, with this process's id, for mkstemp
// or mkdtemp. The id tells a later run which ones a front end that was killed left behind.
std::string scratchPattern(const std::string& path, const std::string& tag);

// Removes the scratch file `path`, or the scratch folder with the files in it. Allocates nothing,
// so that a destructor may call it while a std::bad_alloc unwinds.
void removeScratch(const std::string& path);

// Removes the scratch files and folders with `tag` beside `path` whose process is gone.
void removeStaleScratch(const std::string& path, const std::string& tag);

// Writes `bytes` to `path` so that the file is either complete or untouched: the bytes go to a new
// file beside it (scratchPattern, tag "part"), which then replaces `path` in one rename. False with
// `error` set (naming the file and the reason) when anything fails; a half-written scratch file is
// removed, and one that a killed front end left for `path` goes at the next write.
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
