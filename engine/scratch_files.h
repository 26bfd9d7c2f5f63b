#pragma once
#include <cstdint>
#include <cstdio>

namespace torvek {

/// Opens the anonymous temporary file behind a ScratchFile: the standard library's tmpfile
/// unless replaced. Tests replace it to give the engine a full or unavailable temporary
/// directory, which cannot be arranged from outside for tmpfile, whose directory is fixed.
using TemporaryFileOpener = std::FILE* (*)();
/// Installs `opener` for every scratch file opened from now on; null restores tmpfile.
void setTemporaryFileOpener(TemporaryFileOpener opener);

/// One anonymous temporary file of an adjustment attempt, read and written as packed
/// little-endian fields; it is deleted when closed.
class ScratchFile {
  public:
    ScratchFile() = default;
    ~ScratchFile() { close(); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    bool open();
    void close();
    bool isOpen() const { return file_ != nullptr; }
    /// Writes out what is buffered, then goes back to the start. A failure to write is kept
    /// (see failed) rather than cleared as the standard library's rewind would clear it.
    void rewind();
    /// True once a write, a flush, a seek or a read other than at the end of the file has failed
    /// since the file was opened (a full disk, say): what is read back is then not what the
    /// engine wrote.
    bool failed() const;
    /// Writes out what is buffered; false when the file has failed.
    bool flush();
    /// Byte position, for patching a field written earlier.
    long position() const;
    bool seek(long position);
    bool seekEnd();

    bool putInt32(std::int32_t value);
    bool putDouble(double value);
    bool putBytes(const void* bytes, std::size_t size);
    /// The readers leave the value 0 (or the bytes zero) when the file ends early.
    bool getInt32(std::int32_t& value);
    bool getDouble(double& value);
    bool getBytes(void* bytes, std::size_t size);

  private:
    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

/// The four scratch files of an attempt, in the order they are opened.
struct ScratchFiles {
    ScratchFile vectorScratch;      // bias group and vector observation records
    ScratchFile equationScratch;    // equation records of the current iteration
    ScratchFile vectorNameScratch;  // vector name records
    ScratchFile controlScratch;     // control constraint records

    /// Opens the four files in order. On the first failure it reports "Error opening
    /// ScratchN-Output File!" with the system's reason on the standard error stream and returns
    /// false; files already open stay open until closeAll.
    bool openAll();
    void closeAll();
    /// Writes out all four; false when any of them has failed (ScratchFile::failed).
    bool flushAll();
};

}  // namespace torvek
