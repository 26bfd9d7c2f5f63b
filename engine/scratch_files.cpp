#include "engine/scratch_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace torvek {
namespace {

TemporaryFileOpener temporaryFileOpener = nullptr;
std::size_t scratchMemoryLimit = kDefaultScratchMemoryLimit;

}  // namespace

void setTemporaryFileOpener(TemporaryFileOpener opener) {
    temporaryFileOpener = opener;
}

void setScratchMemoryLimit(std::size_t bytes) {
    scratchMemoryLimit = bytes;
}

bool ScratchFile::open() {
    close();
    file_ = temporaryFileOpener != nullptr ? temporaryFileOpener() : std::tmpfile();
    if (file_ == nullptr)
        return false;
    // The block here is the file's only buffer: the library passes each block straight on.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    memoryLimit_ = scratchMemoryLimit;
    if (memoryLimit_ == 0) {
        block_.reset(new (std::nothrow) unsigned char[kChunkSize]);
        if (block_ == nullptr) {
            close();
            errno = ENOMEM;  // for the caller's perror
            return false;
        }
        onFile_ = true;
    }
    return true;
}

void ScratchFile::releaseMemory() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    size_ = 0;
}

void ScratchFile::close() {
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = nullptr;
    failed_ = false;
    onFile_ = false;
    releaseMemory();
    block_.reset();
    position_ = 0;
    mode_ = Mode::kIdle;
    window_ = nullptr;
    next_ = limit_ = 0;
}

bool ScratchFile::failed() const {
    return failed_ || (file_ != nullptr && std::ferror(file_));
}

bool ScratchFile::closeWindow() {
    bool ok = true;
    if (onFile_) {
        if (mode_ == Mode::kWriting && next_ != 0 &&
            std::fwrite(block_.get(), 1, next_, file_) != next_) {
            failed_ = true;
            ok = false;
        } else if (mode_ == Mode::kReading && next_ < limit_ &&
                   std::fseek(file_, -static_cast<long>(limit_ - next_), SEEK_CUR) != 0) {
            // The file stands after the bytes read ahead; the next field is where the fields
            // handed out end.
            failed_ = true;
            ok = false;
        }
    } else if (mode_ != Mode::kIdle) {
        position_ += next_;
        if (mode_ == Mode::kWriting && position_ > size_)
            size_ = position_;
    }
    mode_ = Mode::kIdle;
    window_ = nullptr;
    next_ = limit_ = 0;
    return ok;
}

void ScratchFile::moveToFile() {
    for (std::size_t k = 0; k < chunks_.size() && k * kChunkSize < size_; ++k) {
        const std::size_t bytes = std::min(kChunkSize, size_ - k * kChunkSize);
        if (std::fwrite(chunks_[k].get(), 1, bytes, file_) != bytes)
            failed_ = true;
    }
    if (std::fseek(file_, static_cast<long>(position_), SEEK_SET) != 0)
        failed_ = true;
    releaseMemory();
    block_.reset(new (std::nothrow) unsigned char[kChunkSize]);
    onFile_ = true;
}

bool ScratchFile::openWriteWindow() {
    if (!onFile_) {
        const std::size_t chunk = position_ / kChunkSize;
        bool inMemory = (chunk + 1) * kChunkSize <= memoryLimit_;
        while (inMemory && chunks_.size() <= chunk) {
            std::unique_ptr<unsigned char[]> fresh(new (std::nothrow) unsigned char[kChunkSize]);
            try {
                if (fresh != nullptr)
                    chunks_.push_back(std::move(fresh));
                else
                    inMemory = false;
            } catch (const std::bad_alloc&) {
                inMemory = false;
            }
        }
        if (inMemory) {
            // Bytes skipped by a seek past the end read as zeros, as in a file.
            for (std::size_t at = size_; at < position_;) {
                const std::size_t end = std::min(position_, (at / kChunkSize + 1) * kChunkSize);
                std::memset(chunks_[at / kChunkSize].get() + at % kChunkSize, 0, end - at);
                at = end;
            }
            window_ = chunks_[chunk].get();
            next_ = position_ - chunk * kChunkSize;
            position_ = chunk * kChunkSize;
            limit_ = kChunkSize;
            mode_ = Mode::kWriting;
            return true;
        }
        moveToFile();
    }
    if (block_ == nullptr) {
        failed_ = true;
        return false;
    }
    window_ = block_.get();
    next_ = 0;
    limit_ = kChunkSize;
    mode_ = Mode::kWriting;
    return true;
}

bool ScratchFile::openReadWindow() {
    if (!onFile_) {
        if (position_ >= size_)
            return false;
        const std::size_t chunk = position_ / kChunkSize;
        window_ = chunks_[chunk].get();
        next_ = position_ - chunk * kChunkSize;
        position_ = chunk * kChunkSize;
        limit_ = std::min(kChunkSize, size_ - position_);
        mode_ = Mode::kReading;
        return true;
    }
    if (block_ == nullptr)
        return false;
    const std::size_t got = std::fread(block_.get(), 1, kChunkSize, file_);
    if (got == 0)
        return false;
    window_ = block_.get();
    next_ = 0;
    limit_ = got;
    mode_ = Mode::kReading;
    return true;
}

bool ScratchFile::flush() {
    if (file_ != nullptr && onFile_) {
        if (mode_ == Mode::kWriting)
            closeWindow();
        // The standard library's rewind clears the error indicator, so it is kept here first.
        if (std::fflush(file_) != 0 || std::ferror(file_))
            failed_ = true;
    }
    return !failed();
}

void ScratchFile::rewind() {
    if (file_ == nullptr)
        return;
    flush();
    closeWindow();
    if (onFile_)
        std::rewind(file_);
    position_ = 0;
}

long ScratchFile::position() const {
    if (file_ == nullptr)
        return -1;
    if (!onFile_)
        return static_cast<long>(position_ + (mode_ == Mode::kIdle ? 0 : next_));
    const long at = std::ftell(file_);
    if (at < 0)
        return at;
    if (mode_ == Mode::kWriting)
        return at + static_cast<long>(next_);
    if (mode_ == Mode::kReading)
        return at - static_cast<long>(limit_ - next_);
    return at;
}

bool ScratchFile::seek(long position) {
    if (file_ != nullptr && position >= 0) {
        closeWindow();
        if (!onFile_) {
            position_ = static_cast<std::size_t>(position);
            return true;
        }
        if (std::fseek(file_, position, SEEK_SET) == 0)
            return true;
    }
    failed_ = true;
    return false;
}

bool ScratchFile::seekEnd() {
    if (file_ != nullptr) {
        closeWindow();
        if (!onFile_) {
            position_ = size_;
            return true;
        }
        if (std::fseek(file_, 0, SEEK_END) == 0)
            return true;
    }
    failed_ = true;
    return false;
}

bool ScratchFile::putBytesSlowly(const void* bytes, std::size_t size) {
    if (file_ == nullptr) {
        failed_ = true;
        return false;
    }
    const unsigned char* from = static_cast<const unsigned char*>(bytes);
    bool ok = true;
    while (size > 0) {
        if (mode_ != Mode::kWriting || next_ == limit_) {
            if (!closeWindow())
                ok = false;
            if (!openWriteWindow())
                return false;
        }
        const std::size_t piece = std::min(size, limit_ - next_);
        std::memcpy(window_ + next_, from, piece);
        next_ += piece;
        from += piece;
        size -= piece;
    }
    return ok;
}

std::size_t ScratchFile::readBytesSlowly(void* bytes, std::size_t size) {
    unsigned char* to = static_cast<unsigned char*>(bytes);
    std::size_t wanted = size;
    while (file_ != nullptr && wanted > 0) {
        if (mode_ != Mode::kReading || next_ == limit_) {
            closeWindow();
            if (!openReadWindow())
                break;
        }
        const std::size_t piece = std::min(wanted, limit_ - next_);
        std::memcpy(to, window_ + next_, piece);
        next_ += piece;
        to += piece;
        wanted -= piece;
    }
    std::memset(to, 0, wanted);
    return size - wanted;
}

bool ScratchFile::getBytesSlowly(void* bytes, std::size_t size) {
    if (readBytesSlowly(bytes, size) == size)
        return true;
    std::memset(bytes, 0, size);
    return false;
}

bool ScratchFiles::openAll() {
    ScratchFile* files[] = {&vectorScratch, &equationScratch, &vectorNameScratch, &controlScratch};
    static const char* const kMessages[] = {
        "\n\nError opening Scratch1-Output File!", "\n\nError opening Scratch2-Output File!",
        "\n\nError opening Scratch3-Output File!", "\n\nError opening Scratch4-Output File!"};
    for (int i = 0; i < 4; ++i) {
        if (!files[i]->open()) {
            std::perror(kMessages[i]);
            return false;
        }
    }
    return true;
}

bool ScratchFiles::flushAll() {
    bool healthy = vectorScratch.flush();
    healthy = equationScratch.flush() && healthy;
    healthy = vectorNameScratch.flush() && healthy;
    return controlScratch.flush() && healthy;
}

void ScratchFiles::closeAll() {
    vectorScratch.close();
    equationScratch.close();
    vectorNameScratch.close();
    controlScratch.close();
}

}  // namespace torvek
