#include "front/serve/access_guard.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstdint>

namespace torvek::front::serve {
namespace {

constexpr std::string_view kBearerPrefix = "Bearer ";

bool allowedHost(std::string_view host, int port) {
    const std::string suffix = ":" + std::to_string(port);
    return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
}

}  // namespace

std::string makeAccessToken() {
    std::array<std::uint8_t, kTokenBytes> bytes{};
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {};
        }
        filled += static_cast<std::size_t>(got);
    }
    static const char kHex[] = "0123456789abcdef";
    std::string token;
    for (const std::uint8_t b : bytes) {
        token += kHex[b >> 4];
        token += kHex[b & 15];
    }
    return token;
}

bool sameSecret(std::string_view offered, std::string_view secret) {
    // Every byte of the secret is visited whatever the offered text holds; a length mismatch
    // only sets a bit of the difference.
    unsigned difference = offered.size() == secret.size() ? 0u : 1u;
    for (std::size_t i = 0; i < secret.size(); ++i) {
        const unsigned char o = i < offered.size() ? static_cast<unsigned char>(offered[i]) : 0u;
        difference |= o ^ static_cast<unsigned char>(secret[i]);
    }
    return difference == 0 && !secret.empty();
}

Verdict checkRequest(const RequestFacts& request, const std::string& token, int port) {
    if (!allowedHost(request.host, port)) {
        return Verdict::kForeignHost;
    }
    if (!request.origin.empty()) {
        const std::string_view origin = request.origin;
        const std::string_view scheme = "http://";
        if (origin.substr(0, scheme.size()) != scheme ||
            !allowedHost(origin.substr(scheme.size()), port)) {
            return Verdict::kForeignOrigin;
        }
    }
    if (!request.fetchSite.empty() && request.fetchSite != "same-origin" &&
        request.fetchSite != "none") {
        return Verdict::kForeignOrigin;
    }
    if (request.pageFile) {
        return Verdict::kAllowed;
    }
    std::string offered;
    if (request.authorization.compare(0, kBearerPrefix.size(), kBearerPrefix) == 0) {
        offered = request.authorization.substr(kBearerPrefix.size());
    }
    if (offered.empty()) {
        return Verdict::kNoToken;
    }
    return sameSecret(offered, token) ? Verdict::kAllowed : Verdict::kWrongToken;
}

const char* describeVerdict(Verdict verdict) {
    switch (verdict) {
        case Verdict::kAllowed:
            return "allowed";
        case Verdict::kForeignHost:
            return "the request names a host other than this machine's loopback address";
        case Verdict::kForeignOrigin:
            return "the request comes from a page of another origin";
        case Verdict::kNoToken:
            return "the request carries no access token: open the address that torvek-front "
                   "serve printed, and use the page";
        case Verdict::kWrongToken:
            return "the request carries a wrong access token";
    }
    return "refused";
}

}  // namespace torvek::front::serve
