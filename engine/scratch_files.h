#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace torvek {

/// Opens the anonymous temporary file behind a ScratchFile: the standard library's tmpfile
/// unless replaced. Tests replace it to give the engine a full or unavailable temporary
/// directory, which cannot be arranged from outside for tmpfile, whose directory is fixed.
using TemporaryFileOpener = std::FILE* (*)();
/// Installs `opener` for every scratch file opened from now on; null restores tmpfile.
void setTemporaryFileOpener(TemporaryFileOpener opener);

/// One anonymous temporary file of an adjustment attempt, read and written as packed
/// little-endian fields; it is deleted when closed. Fields pass through a block of kBlockSize bytes
/// held here, and the file is read and written a block at a time: a vector's records are some
/// forty fields, and one library call per field cost more than everything else in a run.
class ScratchFile {
  public:
    /// Bytes read or written per call of the standard library, and held per open file.
    static constexpr std::size_t kBlockSize = 64 * 1024;

    ScratchFile() = default;
    ~ScratchFile() { close(); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    /// False when the file or its block cannot be had.
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
    /// Byte position of the next field read or written, for patching a field written earlier.
    long position() const;
    /// Goes to a byte position [0, file size] (seek) or to the end (seekEnd), writing out what is
    /// buffered first; false, and the file failed, when that is impossible.
    bool seek(long position);
    bool seekEnd();

    bool putInt32(std::int32_t value) {
        unsigned char b[4];
        for (int i = 0; i < 4; ++i)
            b[i] = static_cast<unsigned char>(std::uint32_t(value) >> (8 * i));
        return putBytes(b, 4);
    }
    bool putDouble(double value) {
        std::uint64_t raw;
        std::memcpy(&raw, &value, 8);
        unsigned char b[8];
        for (int i = 0; i < 8; ++i)
            b[i] = static_cast<unsigned char>(raw >> (8 * i));
        return putBytes(b, 8);
    }
    bool putBytes(const void* bytes, std::size_t size) {
        if (mode_ == Mode::kWriting && size <= kBlockSize - used_) {
            std::memcpy(block_.get() + used_, bytes, size);
            used_ += size;
            return true;
        }
        return putBytesSlowly(bytes, size);
    }
    /// The readers leave the value 0 (or the bytes zero) when the file ends early.
    bool getInt32(std::int32_t& value) {
        unsigned char b[4];
        const bool ok = getBytes(b, 4);
        std::uint32_t raw = 0;
        for (int i = 0; i < 4; ++i)
            raw |= std::uint32_t(b[i]) << (8 * i);
        value = static_cast<std::int32_t>(raw);
        return ok;
    }
    bool getDouble(double& value) {
        unsigned char b[8];
        const bool ok = getBytes(b, 8);
        std::uint64_t raw = 0;
        for (int i = 0; i < 8; ++i)
            raw |= std::uint64_t(b[i]) << (8 * i);
        std::memcpy(&value, &raw, 8);
        return ok;
    }
    bool getBytes(void* bytes, std::size_t size) {
        if (mode_ == Mode::kReading && size <= used_ - next_) {
            std::memcpy(bytes, block_.get() + next_, size);
            next_ += size;
            return true;
        }
        return getBytesSlowly(bytes, size);
    }

  private:
    // What the block holds: nothing, fields not yet written to the file, or bytes read ahead of
    // the fields handed out.
    enum class Mode { kIdle, kWriting, kReading };

    bool putBytesSlowly(const void* bytes, std::size_t size);
    bool getBytesSlowly(void* bytes, std::size_t size);
    /// Writes the buffered fields to the file; false (and failed) when they cannot be.
    bool writeBlock();
    /// Ends the current mode with the file at the position of the next field.
    bool settle();

    std::FILE* file_ = nullptr;
    bool failed_ = false;
    std::unique_ptr<unsigned char[]> block_;
    Mode mode_ = Mode::kIdle;
    std::size_t used_ = 0;  // bytes in the block: written fields, or bytes read
    std::size_t next_ = 0;  // reading: the first byte not yet handed out
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
