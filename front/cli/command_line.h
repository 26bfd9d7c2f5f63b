#pragma once
// The command line of torvek-front: its commands (adjust, import, export, serve, help), their
// options, --help for each and --version.
#include <string>

namespace torvek::front {

// Parses `argc` and `argv` as main receives them and runs the command they name. Returns the
// exit code: the command's own, 0 after --help or --version, kExitBadInput (1) for a bad command
// line, after saying what is wrong on the standard error stream.
int runCommandLine(int argc, const char* const* argv);

// What `torvek-front --version` prints: the version, then the libraries in use, one a line
// (PROJ for grid coordinates, and the sparse factorisation torvek-large is built with).
std::string versionText();

}  // namespace torvek::front
