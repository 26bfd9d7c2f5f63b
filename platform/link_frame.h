#pragma once
// The bytes that stand in for the host platform's window messages: every message to the front end
// is one frame on an inherited UNIX stream socket, followed by a synchronous wait for the answer.
#include <cstdint>
#include <string>

namespace torvek::platform {

/// Message numbers of the front-end link.
inline constexpr std::uint32_t kMessageCopyData = 74;       // a report piece
inline constexpr std::uint32_t kMessageExitNotice = 1028;   // user message 4: the process ends
inline constexpr std::uint32_t kMessageAbortPoll = 1033;    // user message 9: stage poll
inline constexpr std::uint32_t kMessageClassQuery = 65536;  // asks for the endpoint's class name
inline constexpr std::uint32_t kMessageBox = 65537;         // the modal warning box

/// Length of the fixed frame head: message, wParam, lParam, payload length (four uint32).
inline constexpr std::size_t kFrameHeadSize = 16;

/// Sends one frame to the endpoint `window` (an inherited socket descriptor; 0 means none) and
/// waits for its int32 answer. Returns false, and leaves `answer` 0, when there is no endpoint, the
/// descriptor is not a connected socket, or the peer went away (short write, EOF, error). Never
/// raises SIGPIPE.
bool exchangeFrame(std::int32_t window, std::uint32_t message, std::uint32_t wParam,
                   const void* payload, std::uint32_t payloadLength, std::int32_t& answer);

/// Synchronous send in the manner of the host platform: the answer of the endpoint, or 0 when the
/// send failed (exactly like a send to a destroyed window).
std::int32_t sendMessage(std::int32_t window, std::uint32_t message, std::uint32_t wParam,
                         const void* payload = nullptr, std::uint32_t payloadLength = 0);

/// Reads exactly `size` bytes from `fd`; false on EOF or error.
bool readFully(int fd, void* buffer, std::size_t size);

/// Writes exactly `size` bytes to the socket `fd` without SIGPIPE; false on any failure.
bool writeFully(int fd, const void* buffer, std::size_t size);

}  // namespace torvek::platform
