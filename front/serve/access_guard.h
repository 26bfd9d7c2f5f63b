#pragma once

// Who may use the workspace server: a page of its own origin, on the loopback address, that holds
// the access token printed when the server started. Plain functions of the request's header
// values, so that every rule can be checked without a socket.

#include <string>
#include <string_view>

namespace torvek::front::serve {

// Bytes of randomness in a token (printed as twice as many hexadecimal digits): 256 bits, far
// beyond guessing through a local socket.
inline constexpr std::size_t kTokenBytes = 32;

// A fresh token from the system's random source: kTokenBytes bytes as lower-case hexadecimal.
// Empty when no randomness can be had (the server then refuses to start).
std::string makeAccessToken();

// True when `offered` equals `secret`. The time taken depends only on the secret's length, not on
// where the texts first differ, so the token cannot be found byte by byte from response times.
bool sameSecret(std::string_view offered, std::string_view secret);

// The header values of one request that decide whether it is served; empty when absent.
struct RequestFacts {
    std::string host;           // Host
    std::string origin;         // Origin
    std::string fetchSite;      // Sec-Fetch-Site
    std::string authorization;  // Authorization ("Bearer TOKEN")
    // A GET of one of the page's own files (its HTML, scripts and style sheets), which hold no
    // secret: the page loads them before its script can add the token to its requests.
    bool pageFile = false;
};

enum class Verdict {
    kAllowed,
    kForeignHost,    // a Host other than the loopback address and port: DNS rebinding
    kForeignOrigin,  // sent by a page of another origin, or a cross-site fetch
    kNoToken,        // no "Authorization: Bearer" header
    kWrongToken,
};

// Decides on a request to the server listening on `port` whose token is `token`. The Host must be
// 127.0.0.1:PORT or localhost:PORT; an Origin, when sent, must be http:// and one of those;
// Sec-Fetch-Site, when sent, must be "same-origin" or "none" (typed into the address bar), so that
// no page of another origin, not even one on another port of this machine, can load or read
// anything. Every request but a page file needs the token as "Authorization: Bearer TOKEN"; no
// cookie and no parameter of the URL stands for it, since cookies are shared by every port of a
// host and addresses end up in histories and logs.
Verdict checkRequest(const RequestFacts& request, const std::string& token, int port);

// A phrase for the refusal's body ("the request names another host", ...).
const char* describeVerdict(Verdict verdict);

}  // namespace torvek::front::serve
