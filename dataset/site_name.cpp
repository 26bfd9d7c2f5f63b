#include "dataset/site_name.h"

namespace torvek {

void SiteName::assign(const char* text) {
    bytes.fill('\0');
    if (text == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < kSiteNameSize && text[i] != '\0'; ++i) {
        bytes[i] = text[i];
    }
}

std::string SiteName::toString() const {
    std::size_t length = 0;
    while (length < kSiteNameSize && bytes[length] != '\0') {
        ++length;
    }
    return std::string(bytes.data(), length);
}

namespace {

int foldAsciiLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

}  // namespace

int compareSiteNames(const char* a, const char* b, bool ignoreCase) {
    static const char kEmpty[1] = {'\0'};
    if (a == nullptr) {
        a = kEmpty;
    }
    if (b == nullptr) {
        b = kEmpty;
    }
    for (std::size_t i = 0; i < kSiteNameSize; ++i) {
        int ca = static_cast<unsigned char>(a[i]);
        int cb = static_cast<unsigned char>(b[i]);
        if (ignoreCase) {
            ca = foldAsciiLetter(static_cast<unsigned char>(ca));
            cb = foldAsciiLetter(static_cast<unsigned char>(cb));
        }
        if (ca != cb) {
            return ca - cb;
        }
        if (ca == 0) {
            return 0;
        }
    }
    return 0;
}

}  // namespace torvek
