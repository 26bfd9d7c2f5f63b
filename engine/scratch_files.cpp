#include "engine/scratch_files.h"

#include <cstring>

namespace torvek {
namespace {

TemporaryFileOpener temporaryFileOpener = nullptr;

}  // namespace

void setTemporaryFileOpener(TemporaryFileOpener opener) {
    temporaryFileOpener = opener;
}

bool ScratchFile::open() {
    close();
    file_ = temporaryFileOpener != nullptr ? temporaryFileOpener() : std::tmpfile();
    return file_ != nullptr;
}

void ScratchFile::close() {
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = nullptr;
    failed_ = false;
}

bool ScratchFile::failed() const {
    return failed_ || (file_ != nullptr && std::ferror(file_));
}

bool ScratchFile::flush() {
    // The standard library's rewind clears the error indicator, so it is kept here first.
    if (file_ != nullptr && (std::fflush(file_) != 0 || std::ferror(file_)))
        failed_ = true;
    return !failed();
}

void ScratchFile::rewind() {
    if (file_ == nullptr)
        return;
    flush();
    std::rewind(file_);
}

long ScratchFile::position() const {
    return file_ != nullptr ? std::ftell(file_) : -1;
}

bool ScratchFile::seek(long position) {
    if (file_ != nullptr && std::fseek(file_, position, SEEK_SET) == 0)
        return true;
    failed_ = true;
    return false;
}

bool ScratchFile::seekEnd() {
    if (file_ != nullptr && std::fseek(file_, 0, SEEK_END) == 0)
        return true;
    failed_ = true;
    return false;
}

bool ScratchFile::putBytes(const void* bytes, std::size_t size) {
    if (file_ != nullptr && std::fwrite(bytes, 1, size, file_) == size)
        return true;
    failed_ = true;
    return false;
}

bool ScratchFile::getBytes(void* bytes, std::size_t size) {
    if (file_ != nullptr && std::fread(bytes, 1, size, file_) == size)
        return true;
    std::memset(bytes, 0, size);
    return false;
}

bool ScratchFile::putInt32(std::int32_t value) {
    unsigned char b[4];
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<unsigned char>(std::uint32_t(value) >> (8 * i));
    return putBytes(b, 4);
}

bool ScratchFile::getInt32(std::int32_t& value) {
    unsigned char b[4];
    bool ok = getBytes(b, 4);
    std::uint32_t raw = 0;
    for (int i = 0; i < 4; ++i)
        raw |= std::uint32_t(b[i]) << (8 * i);
    value = static_cast<std::int32_t>(raw);
    return ok;
}

bool ScratchFile::putDouble(double value) {
    std::uint64_t raw;
    std::memcpy(&raw, &value, 8);
    unsigned char b[8];
    for (int i = 0; i < 8; ++i)
        b[i] = static_cast<unsigned char>(raw >> (8 * i));
    return putBytes(b, 8);
}

bool ScratchFile::getDouble(double& value) {
    unsigned char b[8];
    bool ok = getBytes(b, 8);
    std::uint64_t raw = 0;
    for (int i = 0; i < 8; ++i)
        raw |= std::uint64_t(b[i]) << (8 * i);
    std::memcpy(&value, &raw, 8);
    return ok;
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
