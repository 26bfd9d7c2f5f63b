#include "support/link_oracle.h"

namespace torvek::testing::oracle {
namespace {

// The message table of docs/frontend-link.md.
struct Row {
    const char* kind;
    std::uint32_t number;
};
constexpr Row kTable[] = {{"abort poll", 1033},
                          {"exit notice", 1028},
                          {"report piece", 74},
                          {"class query", 65536},
                          {"warning box", 65537}};

std::uint32_t littleEndian(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

std::string kindOf(std::uint32_t number) {
    for (const Row& row : kTable)
        if (row.number == number)
            return row.kind;
    return "unknown";
}

// Checks and splits the payload of a report piece or a warning box.
std::string decodePayload(Frame& frame) {
    const std::string& p = frame.payload;
    if (frame.kind == "report piece") {
        if (p.size() < 8)
            return "report piece without its two words";
        frame.dataWord = littleEndian(p, 0);
        frame.byteCount = littleEndian(p, 4);
        if (frame.byteCount != p.size() - 8 || frame.byteCount == 0 || p.back() != '\0')
            return "report piece whose byte count does not end at its terminator";
        frame.text = p.substr(8, frame.byteCount - 1);
    }
    if (frame.kind == "warning box") {
        const std::size_t first = p.find('\0');
        if (first == std::string::npos || p.back() != '\0' || first == p.size() - 1)
            return "warning box without text, zero, caption, zero";
        frame.boxText = p.substr(0, first);
        frame.boxCaption = p.substr(first + 1, p.size() - first - 2);
    }
    return "";
}

}  // namespace

std::uint32_t numberOf(std::string_view kind) {
    for (const Row& row : kTable)
        if (kind == row.kind)
            return row.number;
    return 0;
}

std::string decodeStream(std::string_view bytes, std::vector<Frame>& frames) {
    frames.clear();
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 16)
            return "frame head cut short";
        Frame frame;
        frame.number = littleEndian(bytes, at);
        frame.kind = kindOf(frame.number);
        frame.wParam = littleEndian(bytes, at + 4);
        frame.lParam = littleEndian(bytes, at + 8);
        const std::uint32_t length = littleEndian(bytes, at + 12);
        if (bytes.size() - at - 16 < length)
            return "payload cut short";
        frame.payload = std::string(bytes.substr(at + 16, length));
        at += 16 + length;
        if (frame.lParam != 0)
            return "lParam is not 0";
        if (std::string error = decodePayload(frame); !error.empty())
            return error;
        frames.push_back(frame);
    }
    return "";
}

std::string answerBytes(std::int32_t value) {
    std::string out;
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xff));
    return out;
}

std::string frameBytes(std::string_view kind, std::uint32_t wParam, std::string_view payload) {
    return answerBytes(static_cast<std::int32_t>(numberOf(kind))) +
           answerBytes(static_cast<std::int32_t>(wParam)) + answerBytes(0) +
           answerBytes(static_cast<std::int32_t>(payload.size())) + std::string(payload);
}

std::string classAnswerBytes(std::string_view name) {
    return answerBytes(static_cast<std::int32_t>(name.size())) + std::string(name);
}

}  // namespace torvek::testing::oracle
