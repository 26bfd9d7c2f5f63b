#pragma once
// A second reading of the front-end link, written from the link's document alone (the frame
// layout, the message table and the answers of docs/frontend-link.md). It shares no code and no
// names with link/, so that the tests can hold the link library's bytes against it; it must never
// include anything from there.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torvek::testing::oracle {

/// One frame as the document describes it.
struct Frame {
    std::string kind;  // a row of the document's table ("abort poll" ...) or "unknown"
    std::uint32_t number = 0, wParam = 0, lParam = 0;
    std::string payload;
    std::uint32_t dataWord = 0, byteCount = 0;  // report piece
    std::string text;                           // report piece, without its terminating zero
    std::string boxText, boxCaption;            // warning box
};

/// The number the document gives to the message `kind`; 0 for a kind it does not name.
std::uint32_t numberOf(std::string_view kind);

/// Splits everything the program wrote on one endpoint into frames. Returns what breaks the
/// document (a frame cut short, lParam not 0, a report piece whose byte count or terminator is
/// wrong, a warning box without its two zero bytes); empty when nothing does.
std::string decodeStream(std::string_view bytes, std::vector<Frame>& frames);

/// A frame as the document lays it out, built field by field.
std::string frameBytes(std::string_view kind, std::uint32_t wParam, std::string_view payload);
/// An int32 answer, and the class query's answer (length, then the name without terminator).
std::string answerBytes(std::int32_t value);
std::string classAnswerBytes(std::string_view name);

}  // namespace torvek::testing::oracle
