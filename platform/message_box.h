#pragma once
#include <cstdint>
#include <cstdio>

namespace torvek::platform {

/// Buttons answered by the message box.
inline constexpr int kButtonOk = 1;
inline constexpr int kButtonCancel = 2;

/// Style of the warning box: OK and Cancel buttons with the warning icon.
inline constexpr std::uint32_t kStyleOkCancelWarning = 0x31;

/// Shows a modal OK/Cancel box owned by the endpoint `owner`. With an owner the box is a frame to
/// it and any answer but OK, a failed send included, counts as Cancel. Without an owner (0) the
/// text and caption go to `prompt` (standard error) and one line is read from `answers` (standard
/// input): an empty line, "ok", "o", "y" or "yes" in any case is OK; anything else and end of input
/// is Cancel. Returns kButtonOk or kButtonCancel.
int messageBox(std::int32_t owner, const char* text, const char* caption, std::uint32_t style,
               std::FILE* answers = stdin, std::FILE* prompt = stderr);

}  // namespace torvek::platform
