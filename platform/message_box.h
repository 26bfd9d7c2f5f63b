#pragma once
#include <cstdint>
#include <cstdio>

#include "link/messages.h"

namespace torvek::platform {

/// Shows a modal OK/Cancel box owned by the endpoint `owner`, in the look `style` (on the link,
/// link::kWarningBoxStyle). With an owner the box is a frame to it and any answer but OK, a failed
/// send included, counts as Cancel. Without an owner (0) the text and caption go to `prompt`
/// (standard error) and one line is read from `answers` (standard input): an empty line, "ok", "o",
/// "y" or "yes" in any case is OK; anything else and end of input is Cancel. Returns
/// link::kButtonOk or link::kButtonCancel.
int messageBox(std::int32_t owner, const char* text, const char* caption, std::uint32_t style,
               std::FILE* answers = stdin, std::FILE* prompt = stderr);

}  // namespace torvek::platform
