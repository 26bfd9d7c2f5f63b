#pragma once
// The blocking exchanges of the link on its UNIX stream sockets, with the link's failure rules: a
// send to no endpoint, to a descriptor that is not a socket or to a peer that has gone away fails
// quietly and never raises SIGPIPE; every loop retries after a signal.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/frame_codec.h"
#include "link/messages.h"

namespace torvek::link {

/// Reads exactly `size` bytes from `fd` into `buffer`; false on end of input or an error.
bool readFully(int fd, void* buffer, std::size_t size);

/// Writes all of `bytes` to the socket `fd`; false on any failure. Descriptors that are not
/// sockets are refused, so an endpoint number that happens to name a file or the terminal is
/// never written to.
bool writeFully(int fd, std::string_view bytes);

// ---- The program's side ----------------------------------------------------------------------

/// Sends one frame to `endpoint` (an inherited socket descriptor; 0 or less means none) and waits
/// for its int32 answer. Returns false, with `answer` kAnswerNone, when there is no endpoint or
/// the exchange failed (short write, end of input or error while reading the answer).
bool exchangeFrame(std::int32_t endpoint, Message message, std::uint32_t wParam,
                   std::string_view payload, std::int32_t& answer);

/// The most bytes of an unwanted answer that are read and dropped, and how long each wait for
/// them lasts (milliseconds): a peer that announces more, or stops sending, is not waited for.
inline constexpr std::uint32_t kMaxDiscardedAnswer = 1u << 16;
inline constexpr int kDiscardWaitMs = 250;

/// Reads and drops up to `count` bytes from `fd` (at most kMaxDiscardedAnswer), giving up when
/// none arrive for kDiscardWaitMs or the peer closes.
void discardBytes(int fd, std::uint32_t count);

/// Asks `endpoint` for its class name. False, with `name` empty, when the exchange fails or the
/// answered length is outside 1..kMaxClassNameLength; the name of a longer answer is read and
/// dropped (discardBytes), so that closing the endpoint later closes it cleanly.
bool queryClassName(std::int32_t endpoint, std::string& name);

// ---- The front end's side --------------------------------------------------------------------

/// One frame as received.
struct Frame {
    FrameHead head;
    std::string payload;
};

enum class ReadResult {
    kFrame,    // `frame` holds a whole frame
    kClosed,   // end of input or an error, possibly inside a frame
    kTooLong,  // the head announced more than the caller's maximum; the payload was not read
};

/// Reads one frame from `fd`. A payload longer than `maximumPayload` bytes is refused before
/// anything is allocated for it, so that a broken peer cannot make the reader allocate at will.
ReadResult readFrame(int fd, std::uint32_t maximumPayload, Frame& frame);

/// Sends one int32 answer; false when it could not be sent.
bool writeAnswer(int fd, std::int32_t value);

}  // namespace torvek::link
