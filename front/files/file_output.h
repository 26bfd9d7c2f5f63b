#pragma once

#include <cstddef>
#include <functional>
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

// A file written piece by piece, so that a large document never sits whole in memory, with the
// guarantee of writeFileAtomically: the pieces go to a scratch file beside `path`, which replaces
// it only at commit(). A writer destroyed without a commit removes its scratch file.
class AtomicFileWriter {
  public:
    // Opens the scratch file; false with `error` set when it cannot be made.
    bool open(const std::string& path, std::string& error);
    // Appends `bytes`; false once a write failed (commit then says why).
    bool write(std::string_view bytes);
    // Closes the scratch file and renames it onto the path; false with `error` set when a write,
    // the close or the rename failed.
    bool commit(std::string& error);
    AtomicFileWriter() = default;
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
    ~AtomicFileWriter();

  private:
    void abandon();
    std::string path_, scratch_;
    int fd_ = -1;
    int writeErrno_ = 0;
};

// A consumer of text handed over piece by piece.
using TextSink = std::function<void(std::string_view)>;

// Writers of many small items (the features of a GIS file) gather them into pieces of about this
// size before handing them to a sink: writeFileInPieces writes such a piece without copying it.
inline constexpr std::size_t kSinkPieceBytes = std::size_t{64} << 10;

// Writes to `path` as writeFileAtomically does the text that `produce` hands to its sink, in
// pieces of about a megabyte, so that a large document is never whole in memory. False with
// `error` set when it cannot be written.
bool writeFileInPieces(const std::string& path, const std::function<void(const TextSink&)>& produce,
                       std::string& error);

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
