#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "dataset/little_endian.h"

namespace torvek {

/// Opens the anonymous temporary file behind a ScratchFile: the standard library's tmpfile
/// unless replaced. Tests replace it to give the engine a full or unavailable temporary
/// directory, which cannot be arranged from outside for tmpfile, whose directory is fixed.
using TemporaryFileOpener = std::FILE* (*)();
/// Installs `opener` for every scratch file opened from now on; null restores tmpfile.
void setTemporaryFileOpener(TemporaryFileOpener opener);

/// Bytes a scratch file holds in memory before it moves its content to its temporary file:
/// room for the equations of some 20000 vectors.
inline constexpr std::size_t kDefaultScratchMemoryLimit = 8 * 1024 * 1024;
/// Sets that limit for every scratch file opened from now on (0: every byte goes to the file,
/// which tests use to reach the file's faults); kDefaultScratchMemoryLimit restores it.
void setScratchMemoryLimit(std::size_t bytes);

/// One anonymous temporary file of an adjustment attempt, read and written as packed
/// little-endian fields; it is deleted when closed.
///
/// The content is held in memory, in chunks of kChunkSize bytes, as long as it stays within the
/// memory limit; beyond it, or when memory is short, it moves to the temporary file, which is then
/// read and written a block of kChunkSize bytes at a time. A vector's records are some forty
/// fields, and one library call per field, or even one pass through the system's file cache per
/// iteration, cost more than everything else in a run. What is read back is the same either way.
class ScratchFile {
  public:
    /// Bytes per chunk of memory, and per read or write of the file.
    static constexpr std::size_t kChunkSize = 64 * 1024;

    ScratchFile() = default;
    ~ScratchFile() { close(); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    /// Opens the temporary file (it is there from the start, so that a missing one is reported
    /// at once); false when it cannot be had.
    bool open();
    void close();
    bool isOpen() const { return file_ != nullptr; }
    /// Goes back to the start, writing out to the file what is buffered for it. A failure to
    /// write is kept (see failed) rather than cleared as the standard library's rewind would.
    void rewind();
    /// True once a write, a flush, a seek or a read other than at the end of the file has failed
    /// since the file was opened (a full disk, say): what is read back is then not what the
    /// engine wrote.
    bool failed() const;
    /// Writes out to the file what is buffered for it; false when the file has failed.
    bool flush();
    /// Byte position of the next field read or written, for patching a field written earlier.
    long position() const;
    /// Goes to a byte position (seek) or to the end (seekEnd). False, and the file failed, when
    /// the file cannot; a position past the end reads as the end and writes leave zeros between.
    bool seek(long position);
    bool seekEnd();
    /// Whether the content has moved to the temporary file.
    bool onFile() const { return onFile_; }

    bool putInt32(std::int32_t value) {
        std::uint8_t b[4];
        storeInt32(b, value);
        return putBytes(b, 4);
    }
    bool putDouble(double value) {
        std::uint8_t b[8];
        storeDouble(b, value);
        return putBytes(b, 8);
    }
    bool putBytes(const void* bytes, std::size_t size) {
        if (mode_ == Mode::kWriting && size <= limit_ - next_) {
            std::memcpy(window_ + next_, bytes, size);
            next_ += size;
            return true;
        }
        return putBytesSlowly(bytes, size);
    }
    /// Room for the next `size` bytes where the window has it, to be filled by the caller before
    /// any other call; null, with nothing written, where it has not (then putBytes).
    std::uint8_t* reserveBytes(std::size_t size) {
        if (mode_ == Mode::kWriting && size <= limit_ - next_) {
            std::uint8_t* bytes = window_ + next_;
            next_ += size;
            return bytes;
        }
        return nullptr;
    }
    /// The readers leave the value 0 (or the bytes zero) when the file ends early.
    bool getInt32(std::int32_t& value) {
        std::uint8_t b[4];
        const bool ok = getBytes(b, 4);
        value = loadInt32(b);
        return ok;
    }
    bool getDouble(double& value) {
        std::uint8_t b[8];
        const bool ok = getBytes(b, 8);
        value = loadDouble(b);
        return ok;
    }
    bool getBytes(void* bytes, std::size_t size) {
        if (mode_ == Mode::kReading && size <= limit_ - next_) {
            std::memcpy(bytes, window_ + next_, size);
            next_ += size;
            return true;
        }
        return getBytesSlowly(bytes, size);
    }
    /// The next `size` bytes, consumed, where they lie together in the window; null, with nothing
    /// consumed, where they do not (then readBytes). The pointer stays valid until the next call.
    const std::uint8_t* takeBytes(std::size_t size) {
        if (mode_ == Mode::kReading && size <= limit_ - next_) {
            const std::uint8_t* bytes = window_ + next_;
            next_ += size;
            return bytes;
        }
        return nullptr;
    }
    /// Reads up to `size` bytes, fewer only where the file ends; returns how many. The bytes not
    /// read are zero.
    std::size_t readBytes(void* bytes, std::size_t size) {
        if (mode_ == Mode::kReading && size <= limit_ - next_) {
            std::memcpy(bytes, window_ + next_, size);
            next_ += size;
            return size;
        }
        return readBytesSlowly(bytes, size);
    }

  private:
    // The window is the run of bytes that fields are copied to or from: a chunk of memory, or the
    // block that stands for a piece of the file. It is idle, taking fields written, or holding
    // bytes to be read.
    enum class Mode { kIdle, kWriting, kReading };

    bool putBytesSlowly(const void* bytes, std::size_t size);
    bool getBytesSlowly(void* bytes, std::size_t size);
    std::size_t readBytesSlowly(void* bytes, std::size_t size);
    // Opens the window at the current position; false when there is nothing to read (reading)
    // or no room can be had (writing, with the file failed).
    bool openWriteWindow();
    bool openReadWindow();
    // Closes the window, leaving the current position after the last field handed over and,
    // on the file, the written fields in it. False (and failed) when they cannot be written.
    bool closeWindow();
    // Moves the content in memory to the temporary file at the same position.
    void moveToFile();
    void releaseMemory();

    std::FILE* file_ = nullptr;
    bool failed_ = false;
    std::size_t memoryLimit_ = 0;
    bool onFile_ = false;
    // In memory: the content, kChunkSize bytes per chunk, size_ bytes long.
    std::vector<std::unique_ptr<unsigned char[]>> chunks_;
    std::size_t size_ = 0;
    // On the file: the block through which it is read and written.
    std::unique_ptr<unsigned char[]> block_;
    // The current position when the window is idle; in memory also where the window starts.
    std::size_t position_ = 0;
    Mode mode_ = Mode::kIdle;
    unsigned char* window_ = nullptr;
    std::size_t next_ = 0;   // the next byte of the window to write or read
    std::size_t limit_ = 0;  // the end of the window: its room, or the bytes there to read
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
