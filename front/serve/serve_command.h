#pragma once

#include <string>
#include <vector>

namespace torvek::front {

// `torvek-front serve [PROJECT...] [--port N] [--program PATH] [--covariance-unit m2|mm2]`: the
// browser workspace. Serves the page on the loopback address, prints its address with the access
// token, and runs until Ctrl-C or SIGTERM, when runs still going are aborted and their programs
// reaped. Returns an exit code (0, or kExitBadInput).
int runServeCommand(const std::vector<std::string>& args);

}  // namespace torvek::front
