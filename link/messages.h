#pragma once
// The messages of the front-end link and the values their words and answers carry. The numbers
// are those of the host platform's window messages that the link stands in for
// (docs/frontend-link.md); nothing outside this folder spells them out.
#include <cstdint>
#include <string_view>

namespace torvek::link {

/// The first word of every frame.
enum class Message : std::uint32_t {
    kReportPiece = 74,    // the copy-data message: one report piece, to the report endpoint
    kExitNotice = 1028,   // user message 4: the process ends; the last frame of every run
    kAbortPoll = 1033,    // user message 9: wParam carries the stage code, 0 to 100
    kClassQuery = 65536,  // asks the report endpoint for its class name
    kWarningBox = 65537,  // the modal OK/Cancel box, owned by the progress endpoint
};

/// Data word bits of a report piece: RTF rather than plain text, and inserted at the selection
/// rather than replacing what the endpoint shows.
inline constexpr std::uint32_t kDataWordRtf = 1;
inline constexpr std::uint32_t kDataWordAtSelection = 2;

/// The only class name that opens the report channel, compared exactly (case-sensitive, whole).
inline constexpr std::string_view kReportClassName = "RICHEDIT";
/// Longest class name the query accepts, in bytes without terminator; answers of 1 to this many
/// bytes are valid (the platform's buffer holds 64 bytes).
inline constexpr std::int32_t kMaxClassNameLength = 63;

/// wParam of the warning box: OK and Cancel buttons with the warning icon.
inline constexpr std::uint32_t kWarningBoxStyle = 0x31;
/// Answers to the warning box; any other answer counts as Cancel.
inline constexpr std::int32_t kButtonOk = 1;
inline constexpr std::int32_t kButtonCancel = 2;

/// The answer of a failed send, and the poll answer that lets the program go on. Any other poll
/// answer aborts; any other answer to a report piece means it was delivered.
inline constexpr std::int32_t kAnswerNone = 0;
inline constexpr std::int32_t kAnswerAbort = 1;
inline constexpr std::int32_t kAnswerDelivered = 1;

}  // namespace torvek::link
