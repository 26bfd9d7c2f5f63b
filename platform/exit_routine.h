#pragma once

namespace torvek::platform {

/// Registers `routine` to run at normal process exit, after main has returned. False when the
/// runtime refused the registration.
bool registerExitRoutine(void (*routine)());

/// Keeps a vanished front end from killing the process: writes to a closed socket then fail with an
/// error instead of raising SIGPIPE.
void ignoreBrokenPipes();

}  // namespace torvek::platform
