#include "link/frame_codec.h"

#include <algorithm>

namespace torvek::link {

void appendWord(std::string& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xffu));
}

std::uint32_t wordAt(const unsigned char* at) {
    return std::uint32_t(at[0]) | (std::uint32_t(at[1]) << 8) | (std::uint32_t(at[2]) << 16) |
           (std::uint32_t(at[3]) << 24);
}

std::string encodeFrameHead(Message message, std::uint32_t wParam, std::uint32_t payloadLength) {
    std::string head;
    head.reserve(kFrameHeadSize);
    appendWord(head, static_cast<std::uint32_t>(message));
    appendWord(head, wParam);
    appendWord(head, 0);  // lParam is 0 in every frame of the link
    appendWord(head, payloadLength);
    return head;
}

std::string encodeFrame(Message message, std::uint32_t wParam, std::string_view payload) {
    std::string frame =
        encodeFrameHead(message, wParam, static_cast<std::uint32_t>(payload.size()));
    frame.append(payload);
    return frame;
}

FrameHead decodeFrameHead(const unsigned char* bytes) {
    FrameHead head;
    head.message = static_cast<Message>(wordAt(bytes));
    head.wParam = wordAt(bytes + 4);
    head.lParam = wordAt(bytes + 8);
    head.payloadLength = wordAt(bytes + 12);
    return head;
}

std::string encodeReportPiece(std::uint32_t dataWord, std::string_view text) {
    std::string payload;
    payload.reserve(kReportPieceHeadSize + text.size() + 1);
    appendWord(payload, dataWord);
    appendWord(payload, static_cast<std::uint32_t>(text.size() + 1));
    payload.append(text);
    payload.push_back('\0');
    return payload;
}

bool decodeReportPiece(std::string_view payload, ReportPiece& piece) {
    piece = ReportPiece{};
    if (payload.size() < kReportPieceHeadSize)
        return false;
    const auto* words = reinterpret_cast<const unsigned char*>(payload.data());
    piece.dataWord = wordAt(words);
    piece.byteCount = wordAt(words + 4);
    const std::size_t available = payload.size() - kReportPieceHeadSize;
    piece.countExceedsPayload = piece.byteCount > available;
    std::string_view text =
        payload.substr(kReportPieceHeadSize, std::min<std::size_t>(piece.byteCount, available));
    piece.text = text.substr(0, text.find('\0'));
    return true;
}

std::string encodeWarningBox(std::string_view text, std::string_view caption) {
    std::string payload(text);
    payload.push_back('\0');
    payload.append(caption);
    payload.push_back('\0');
    return payload;
}

WarningBox decodeWarningBox(std::string_view payload) {
    WarningBox box;
    const std::size_t zero = payload.find('\0');
    box.text = std::string(payload.substr(0, zero));
    if (zero != std::string_view::npos) {
        const std::string_view rest = payload.substr(zero + 1);
        box.caption = std::string(rest.substr(0, rest.find('\0')));
    }
    return box;
}

std::string encodeAnswer(std::int32_t value) {
    std::string bytes;
    appendWord(bytes, static_cast<std::uint32_t>(value));
    return bytes;
}

std::string encodeClassAnswer(std::int32_t length, std::string_view name) {
    std::string bytes = encodeAnswer(length);
    bytes.append(name);
    return bytes;
}

std::int32_t decodeAnswer(const unsigned char* bytes) {
    return static_cast<std::int32_t>(wordAt(bytes));
}

}  // namespace torvek::link
