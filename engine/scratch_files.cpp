#include "engine/scratch_files.h"

#include <cstring>

namespace torvek {

bool ScratchFile::open() {
    close();
    file_ = std::tmpfile();
    return file_ != nullptr;
}

void ScratchFile::close() {
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = nullptr;
}

void ScratchFile::rewind() {
    if (file_ != nullptr)
        std::rewind(file_);
}

long ScratchFile::position() const {
    return file_ != nullptr ? std::ftell(file_) : -1;
}

bool ScratchFile::seek(long position) {
    return file_ != nullptr && std::fseek(file_, position, SEEK_SET) == 0;
}

bool ScratchFile::seekEnd() {
    return file_ != nullptr && std::fseek(file_, 0, SEEK_END) == 0;
}

bool ScratchFile::putBytes(const void* bytes, std::size_t size) {
    return file_ != nullptr && std::fwrite(bytes, 1, size, file_) == size;
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

void ScratchFiles::closeAll() {
    vectorScratch.close();
    equationScratch.close();
    vectorNameScratch.close();
    controlScratch.close();
}

}  // namespace torvek
