#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace torvek {

// Length of a site name in the data set file and in every lookup.
inline constexpr std::size_t kSiteNameSize = 4;

// A site's name as the data set file stores it: exactly four bytes of text, NUL-padded, without
// terminator. Print it with "%4.4s".
struct SiteName {
    std::array<char, kSiteNameSize> bytes{};

    SiteName() = default;
    // The first four characters of text; copying stops at its terminator and the rest is filled
    // with NUL. Never reads more than four bytes, so a non-terminated four-byte name is fine.
    // A null text gives an empty name.
    explicit SiteName(const char* text) { assign(text); }

    void assign(const char* text);
    const char* data() const { return bytes.data(); }
    // The name up to its first NUL, at most four characters.
    std::string toString() const;
};

// Compares at most four characters of two names, the way every lookup does: the comparison ends
// at the first position where the characters differ or where both hold NUL, so a name ending
// early orders before a longer one. With ignoreCase the letters A to Z are folded onto a to z
// (nothing else is folded, whatever the locale). Neither operand is read past four bytes or
// past its terminator; a null pointer counts as an empty name. Result < 0, 0 or > 0.
int compareSiteNames(const char* a, const char* b, bool ignoreCase);

inline bool sameSiteName(const SiteName& a, const SiteName& b) {
    return compareSiteNames(a.data(), b.data(), false) == 0;
}

inline bool sameSiteNameIgnoringCase(const SiteName& a, const SiteName& b) {
    return compareSiteNames(a.data(), b.data(), true) == 0;
}

}  // namespace torvek
