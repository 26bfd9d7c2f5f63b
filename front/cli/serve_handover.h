#pragma once
// torvek-front's `serve`: the workspace's web server lives in a program of its own.
#include "front/serve/serve_command.h"

namespace torvek::front {

// Replaces this process by torvek-front-serve (locateServeProgram) with the same command line,
// `argv` as main received it, so that the workspace runs as if torvek-front had served it. The
// server and its libraries (TLS, compression) stay out of every other command: they cost each
// start of torvek-front about 3 ms. Returns only when that program cannot be started, after
// naming it and the reason on the standard error stream, with kExitChildFailed.
int handServeToItsProgram(const ServeOptions& options, int argc, const char* const* argv);

}  // namespace torvek::front
