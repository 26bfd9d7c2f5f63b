#pragma once

namespace torvek::platform {

/// Copies the file `source` onto `target`, replacing any file there. Returns false when the source
/// cannot be read, the target cannot be written, or both name the same file (a copy onto itself
/// would truncate the source before reading it). The copy is written to a temporary file beside
/// the target and renamed over it, so a failed copy never leaves a half-written target.
bool copyFile(const char* source, const char* target);

}  // namespace torvek::platform
