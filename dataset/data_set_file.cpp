#include "dataset/data_set_file.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "dataset/little_endian.h"
#include "dataset/record_codec.h"

namespace torvek {

namespace {

// Bytes the standard library reads or writes at a time: a data set of some thousand vectors
// passes in a few dozen calls of the system instead of a few hundred.
constexpr std::size_t kFileBufferSize = 64 * 1024;

// A buffer of kFileBufferSize for a stream, which must be closed before the buffer goes. glibc
// sizes a stream's buffer only when it is handed one (else it takes one block); when memory is
// short the stream keeps its own, so that buffering never makes a read or a save fail.
//
// The stream is also taken out of the standard library's locking: only the one thread that opened
// it uses it, and a data set passes in some thousand calls of a record each, every one of which
// would otherwise take and release the stream's lock.
class StreamBuffer {
  public:
    StreamBuffer() : bytes_(new (std::nothrow) char[kFileBufferSize]) {}
    void give(std::FILE* file) const {
        __fsetlocking(file, FSETLOCKING_BYCALLER);
        if (bytes_) {
            std::setvbuf(file, bytes_.get(), _IOFBF, kFileBufferSize);
        }
    }

  private:
    std::unique_ptr<char[]> bytes_;
};

// Bytes of a data set held in memory.
class MemorySource {
  public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t read(std::uint8_t* out, std::size_t size) {
        const std::size_t available = bytes_.size() - position_;
        const std::size_t count = size < available ? size : available;
        if (count > 0) {
            std::memcpy(out, bytes_.data() + position_, count);
        }
        position_ += count;
        return count;
    }
    std::uint64_t remaining() const { return bytes_.size() - position_; }
    bool failed() const { return false; }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// An open file; its length, taken when it is opened, bounds the counts.
class FileSource {
  public:
    explicit FileSource(std::FILE* file) : file_(file) {
        if (fseeko(file_, 0, SEEK_END) == 0) {
            const off_t end = ftello(file_);
            if (end > 0) {
                size_ = static_cast<std::uint64_t>(end);
            }
        }
        // A file whose length cannot be found (a pipe) is read as far as it goes; only the
        // fixed allowance then bounds its counts.
        if (fseeko(file_, 0, SEEK_SET) != 0) {
            std::clearerr(file_);
        }
    }

    std::size_t read(std::uint8_t* out, std::size_t size) {
        const std::size_t count = std::fread(out, 1, size, file_);
        position_ += count;
        return count;
    }
    std::uint64_t remaining() const { return size_ > position_ ? size_ - position_ : 0; }
    bool failed() const { return std::ferror(file_) != 0; }

  private:
    std::FILE* file_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
};

template <class Record, std::size_t Size, class Source, class Decode>
bool readRecordList(Source& source, std::int32_t count, std::vector<Record>& list, Decode decode) {
    if (count <= 0) {
        return true;
    }
    const std::uint64_t wanted = static_cast<std::uint64_t>(count);
    if (wanted > source.remaining() / Size + kMissingRecordAllowance) {
        return false;
    }
    list.reserve(static_cast<std::size_t>(wanted));
    std::array<std::uint8_t, Size> buffer{};
    for (std::uint64_t i = 0; i < wanted; ++i) {
        const std::size_t got = source.read(buffer.data(), Size);
        // Decoded in place: a copy of every record would cost as much again.
        decode(std::span<const std::uint8_t>(buffer.data(), got), list.emplace_back());
    }
    return !source.failed();
}

template <class Source>
bool decodeFrom(Source& source, DataSetContents& contents) {
    try {
        DataSetContents result;
        result.header = contents.header;

        std::array<std::uint8_t, kDataSetCountsSize> countBytes{};
        const std::size_t countsRead = source.read(countBytes.data(), countBytes.size());
        const FieldDecoder counts(std::span<const std::uint8_t>(countBytes.data(), countsRead));
        counts.field(0, result.siteCount);
        counts.field(4, result.vectorCount);
        counts.field(8, result.adjustmentRecordCount);

        std::array<std::uint8_t, kDataSetHeaderSize> headerBytes{};
        const std::size_t headerRead = source.read(headerBytes.data(), headerBytes.size());
        decodeDataSetHeader(std::span<const std::uint8_t>(headerBytes.data(), headerRead),
                            result.header);

        if (source.failed() ||
            !readRecordList<SiteRecord, kSiteRecordSize>(source, result.siteCount, result.sites,
                                                         decodeSiteRecord) ||
            !readRecordList<VectorRecord, kVectorRecordSize>(source, result.vectorCount,
                                                             result.vectors, decodeVectorRecord) ||
            !readRecordList<AdjustmentRecord, kAdjustmentRecordSize>(
                source, result.adjustmentRecordCount, result.adjustmentRecords,
                decodeAdjustmentRecord)) {
            return false;
        }
        contents = std::move(result);
        return true;
    } catch (const std::bad_alloc&) {
        // The data set stays as it was rather than half replaced; the caller says why.
        throw;
    } catch (const std::exception&) {
        return false;
    }
}

template <class Sink>
void encodeTo(const DataSetContents& contents, Sink&& sink) {
    std::array<std::uint8_t, kDataSetCountsSize> counts{};
    storeInt32(counts.data(), contents.siteCount);
    storeInt32(counts.data() + 4, contents.vectorCount);
    storeInt32(counts.data() + 8, contents.adjustmentRecordCount);
    sink(std::span<const std::uint8_t>(counts));

    std::array<std::uint8_t, kDataSetHeaderSize> header{};
    encodeDataSetHeader(contents.header, header);
    sink(std::span<const std::uint8_t>(header));

    std::array<std::uint8_t, kSiteRecordSize> site{};
    for (const SiteRecord& record : contents.sites) {
        encodeSiteRecord(record, site);
        sink(std::span<const std::uint8_t>(site));
    }
    std::array<std::uint8_t, kVectorRecordSize> vector{};
    for (const VectorRecord& record : contents.vectors) {
        encodeVectorRecord(record, vector);
        sink(std::span<const std::uint8_t>(vector));
    }
    std::array<std::uint8_t, kAdjustmentRecordSize> adjustment{};
    for (const AdjustmentRecord& record : contents.adjustmentRecords) {
        encodeAdjustmentRecord(record, adjustment);
        sink(std::span<const std::uint8_t>(adjustment));
    }
}

}  // namespace

std::uint64_t dataSetFileSize(std::int32_t siteCount, std::int32_t vectorCount,
                              std::int32_t adjustmentRecordCount) {
    const auto records = [](std::int32_t count, std::size_t size) -> std::uint64_t {
        return count > 0 ? static_cast<std::uint64_t>(count) * size : 0;
    };
    return kEmptyDataSetFileSize + records(siteCount, kSiteRecordSize) +
           records(vectorCount, kVectorRecordSize) +
           records(adjustmentRecordCount, kAdjustmentRecordSize);
}

bool decodeDataSet(std::span<const std::uint8_t> bytes, DataSetContents& contents) {
    MemorySource source(bytes);
    return decodeFrom(source, contents);
}

std::vector<std::uint8_t> encodeDataSet(const DataSetContents& contents) {
    std::vector<std::uint8_t> image;
    image.reserve(kEmptyDataSetFileSize + kSiteRecordSize * contents.sites.size() +
                  kVectorRecordSize * contents.vectors.size() +
                  kAdjustmentRecordSize * contents.adjustmentRecords.size());
    encodeTo(contents, [&image](std::span<const std::uint8_t> piece) {
        image.insert(image.end(), piece.begin(), piece.end());
    });
    return image;
}

bool readDataSetFile(const std::string& path, DataSetContents& contents) {
    // A data set is a regular file. Opening a FIFO for reading would wait for a writer that may
    // never come, hence O_NONBLOCK; a device such as a terminal or a random source is no data
    // set either.
    const StreamBuffer buffer;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        ::close(fd);
        return false;
    }
    buffer.give(file);
    FileSource source(file);
    const bool ok = decodeFrom(source, contents);
    std::fclose(file);
    return ok;
}

bool writeDataSetFile(const std::string& path, const DataSetContents& contents) {
    // Renaming over a device or a folder would replace it rather than write to it.
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        return false;
    }
    // The image goes to a new file in the same folder, which replaces `path` in one rename: a
    // process killed or a disk filled while writing leaves the old file or none, never a short
    // one that the reader would take with blank records.
    std::string temporary = path + kSaveTemporarySuffix;
    const StreamBuffer buffer;
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        return false;
    }
    std::FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        ::close(fd);
        ::unlink(temporary.c_str());
        return false;
    }
    buffer.give(file);
    bool ok = true;
    encodeTo(contents, [&](std::span<const std::uint8_t> piece) {
        if (ok && std::fwrite(piece.data(), 1, piece.size(), file) != piece.size()) {
            ok = false;
        }
    });
    // mkstemp makes the file private to its owner; a data set is as readable as one that fopen
    // would have created.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ok = ::fchmod(fd, 0666 & ~mask) == 0 && ok;
    ok = std::fclose(file) == 0 && ok;
    if (ok && ::rename(temporary.c_str(), path.c_str()) == 0) {
        return true;
    }
    ::unlink(temporary.c_str());
    return false;
}

void clearRunResults(DataSetContents& contents) {
    for (SiteRecord& site : contents.sites) {
        clearResults(site);
    }
    for (VectorRecord& vector : contents.vectors) {
        clearResults(vector);
    }
    for (AdjustmentRecord& record : contents.adjustmentRecords) {
        clearResults(record);
    }
}

}  // namespace torvek
