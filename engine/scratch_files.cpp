#include "engine/scratch_files.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace torvek {
namespace {

TemporaryFileOpener temporaryFileOpener = nullptr;

}  // namespace

void setTemporaryFileOpener(TemporaryFileOpener opener) {
    temporaryFileOpener = opener;
}

bool ScratchFile::open() {
    close();
    block_.reset(new (std::nothrow) unsigned char[kBlockSize]);
    if (block_ == nullptr) {
        errno = ENOMEM;  // for the caller's perror
        return false;
    }
    file_ = temporaryFileOpener != nullptr ? temporaryFileOpener() : std::tmpfile();
    if (file_ == nullptr) {
        block_.reset();
        return false;
    }
    // The block here is the only buffer: the library passes each block straight to the system.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    return true;
}

void ScratchFile::close() {
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = nullptr;
    failed_ = false;
    block_.reset();
    mode_ = Mode::kIdle;
    used_ = next_ = 0;
}

bool ScratchFile::failed() const {
    return failed_ || (file_ != nullptr && std::ferror(file_));
}

bool ScratchFile::writeBlock() {
    if (used_ != 0 && std::fwrite(block_.get(), 1, used_, file_) != used_)
        failed_ = true;
    used_ = 0;
    return !failed_;
}

bool ScratchFile::settle() {
    bool ok = true;
    if (mode_ == Mode::kWriting) {
        ok = writeBlock();
    } else if (mode_ == Mode::kReading && next_ < used_) {
        // The file stands after the bytes read ahead; the next field is where the fields handed
        // out end.
        if (std::fseek(file_, -static_cast<long>(used_ - next_), SEEK_CUR) != 0) {
            failed_ = true;
            ok = false;
        }
    }
    mode_ = Mode::kIdle;
    used_ = next_ = 0;
    return ok;
}

bool ScratchFile::flush() {
    if (file_ != nullptr) {
        if (mode_ == Mode::kWriting)
            writeBlock();
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
    mode_ = Mode::kIdle;
    used_ = next_ = 0;
    std::rewind(file_);
}

long ScratchFile::position() const {
    if (file_ == nullptr)
        return -1;
    const long at = std::ftell(file_);
    if (at < 0)
        return at;
    if (mode_ == Mode::kWriting)
        return at + static_cast<long>(used_);
    if (mode_ == Mode::kReading)
        return at - static_cast<long>(used_ - next_);
    return at;
}

bool ScratchFile::seek(long position) {
    if (file_ != nullptr) {
        if (mode_ == Mode::kWriting)
            writeBlock();
        mode_ = Mode::kIdle;
        used_ = next_ = 0;
        if (std::fseek(file_, position, SEEK_SET) == 0)
            return true;
    }
    failed_ = true;
    return false;
}

bool ScratchFile::seekEnd() {
    if (file_ != nullptr) {
        if (mode_ == Mode::kWriting)
            writeBlock();
        mode_ = Mode::kIdle;
        used_ = next_ = 0;
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
    if (mode_ != Mode::kWriting) {
        settle();
        mode_ = Mode::kWriting;
    }
    const unsigned char* from = static_cast<const unsigned char*>(bytes);
    bool ok = true;
    while (size > 0) {
        if (used_ == kBlockSize && !writeBlock())
            ok = false;
        const std::size_t piece = std::min(size, kBlockSize - used_);
        std::memcpy(block_.get() + used_, from, piece);
        used_ += piece;
        from += piece;
        size -= piece;
    }
    return ok;
}

bool ScratchFile::getBytesSlowly(void* bytes, std::size_t size) {
    if (file_ == nullptr) {
        std::memset(bytes, 0, size);
        return false;
    }
    if (mode_ != Mode::kReading) {
        settle();
        mode_ = Mode::kReading;
    }
    unsigned char* to = static_cast<unsigned char*>(bytes);
    std::size_t wanted = size;
    while (wanted > 0) {
        if (next_ == used_) {
            used_ = std::fread(block_.get(), 1, kBlockSize, file_);
            next_ = 0;
            if (used_ == 0) {
                std::memset(bytes, 0, size);
                return false;
            }
        }
        const std::size_t piece = std::min(wanted, used_ - next_);
        std::memcpy(to, block_.get() + next_, piece);
        next_ += piece;
        to += piece;
        wanted -= piece;
    }
    return true;
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
