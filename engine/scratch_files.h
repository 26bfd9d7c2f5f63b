#pragma once
#include <cstdint>
#include <cstdio>

namespace torvek {

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
    void rewind();
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
};

}  // namespace torvek
