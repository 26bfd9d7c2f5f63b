#pragma once
// The bytes of the link without any I/O: frames, the payloads of report pieces and warning boxes,
// and the answers. Every integer is a little-endian 32-bit word.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/messages.h"

namespace torvek::link {

/// Size of the fixed frame head in bytes: message, wParam, lParam, payload length.
inline constexpr std::size_t kFrameHeadSize = 16;
/// Size of an answer in bytes: one int32.
inline constexpr std::size_t kAnswerSize = 4;
/// Size of the two words (data word, byte count) in front of a report piece's text, in bytes.
inline constexpr std::size_t kReportPieceHeadSize = 8;

/// The head of one frame. `message` may hold a number that names no Message when a peer sent it.
struct FrameHead {
    Message message = Message::kAbortPoll;
    std::uint32_t wParam = 0;
    std::uint32_t lParam = 0;
    std::uint32_t payloadLength = 0;  // bytes that follow the head
};

/// Appends `value` as four little-endian bytes.
void appendWord(std::string& out, std::uint32_t value);
/// The little-endian word at `at`, which must hold at least four bytes.
std::uint32_t wordAt(const unsigned char* at);

/// The head alone, announcing `payloadLength` bytes (any value; lParam is always 0).
std::string encodeFrameHead(Message message, std::uint32_t wParam, std::uint32_t payloadLength);
/// A whole frame. `payload` must be shorter than 4 GiB.
std::string encodeFrame(Message message, std::uint32_t wParam, std::string_view payload = {});
/// Reads a head from `bytes`, which must hold kFrameHeadSize bytes.
FrameHead decodeFrameHead(const unsigned char* bytes);

/// The payload of a report piece: data word, byte count, `text` and its terminating zero (so the
/// byte count is the text's length plus one). `text` must be shorter than 4 GiB.
std::string encodeReportPiece(std::uint32_t dataWord, std::string_view text);

/// A report piece as received.
struct ReportPiece {
    std::uint32_t dataWord = 0;
    std::uint32_t byteCount = 0;       // as announced, terminator included
    std::string_view text;             // up to the first zero byte, within both count and payload
    bool countExceedsPayload = false;  // the count announced more bytes than the payload holds
};
/// Decodes a report piece's payload; false when it is shorter than its two words. The text views
/// `payload`.
bool decodeReportPiece(std::string_view payload, ReportPiece& piece);

/// The payload of the warning box: text, zero, caption, zero.
std::string encodeWarningBox(std::string_view text, std::string_view caption);

/// A warning box as received: the text up to the first zero, the caption up to the next one
/// (empty when there is no first zero).
struct WarningBox {
    std::string text;
    std::string caption;
};
WarningBox decodeWarningBox(std::string_view payload);

/// An int32 answer.
std::string encodeAnswer(std::int32_t value);
/// The answer to the class query: `length` as the int32 answer, then the bytes of `name` without
/// terminator. `length` is normally name.size(); a different one lets tests lie about it.
std::string encodeClassAnswer(std::int32_t length, std::string_view name);
/// The int32 answer in `bytes`, which must hold kAnswerSize bytes.
std::int32_t decodeAnswer(const unsigned char* bytes);

}  // namespace torvek::link
