#pragma once
// The command line of torvek-front: its commands (adjust, import, export, serve, help), their
// options, --help for each and --version.
#include <string>

#include "front/serve/serve_command.h"

namespace torvek::front {

// How `serve` is carried out once its command line was parsed and found good: with `options` in
// this process (torvek-front-serve), or by handing `argc` and `argv` to the program that holds the
// server (torvek-front, which thus starts without the server's libraries). Returns the exit code.
using ServeCommand = int (*)(const ServeOptions& options, int argc, const char* const* argv);

// Parses `argc` and `argv` as main receives them and runs the command they name, `serve` through
// `serve`. Returns the exit code: the command's own, 0 after --help or --version, kExitBadInput
// (1) for a bad command line, after saying what is wrong on the standard error stream.
int runCommandLine(int argc, const char* const* argv, ServeCommand serve);

// What `torvek-front --version` prints: the version, then the libraries in use, one a line
// (PROJ for grid coordinates, and the sparse factorisation torvek-large is built with).
std::string versionText();

}  // namespace torvek::front
