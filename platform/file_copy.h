#pragma once

namespace torvek::platform {

/// Which side of a failed copy is to blame.
enum class CopyFailure { kNone, kSource, kTarget };

/// Copies the file `source` onto `target`, replacing any file there. Returns false when the source
/// cannot be read, the target cannot be written, or both name the same file (a copy onto itself
/// would truncate the source before reading it). The copy is written to a temporary file beside
/// the target and renamed over it, so a failed copy never leaves a half-written target. When
/// `failure` is given it says which side failed: kSource when the source cannot be opened or
/// read or is no regular file, kTarget otherwise.
bool copyFile(const char* source, const char* target, CopyFailure* failure = nullptr);

}  // namespace torvek::platform
