#pragma once

namespace torvek::platform {

/// Registers `routine` to run at normal process exit, after main has returned. False when the
/// runtime refused the registration.
bool registerExitRoutine(void (*routine)());

/// Keeps a vanished front end from killing the process: writes to a closed socket then fail with an
/// error instead of raising SIGPIPE.
void ignoreBrokenPipes();

/// Keeps a file size limit (ulimit -f) from killing the process with SIGXFSZ in the middle of a
/// write: the write then fails with EFBIG, and the writer reports it and removes its temporary.
void ignoreFileSizeLimit();

}  // namespace torvek::platform
