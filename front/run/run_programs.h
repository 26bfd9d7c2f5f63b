#pragma once

#include <string>

#include "dataset/adjusted_data_set.h"
#include "dataset/project_data_set.h"

namespace torvek::front {

// Which adjustment program runs: torvek within its limits and torvek-large beyond (kAuto), or the
// one named.
enum class EngineChoice { kAuto, kStandard, kLarge };

// Most sites in use that torvek adjusts (the data set's kMaxSites); beyond them the front end runs
// torvek-large.
inline constexpr int kStandardEngineSiteLimit = kMaxSites;
// Where the adjustment program is: `explicitProgram` when given, else $TORVEK_BINARY when set,
// else "torvek" in the directory of the running executable.
std::string locateProgram(const std::string& explicitProgram);
// The same for torvek-large: `explicitProgram`, else $TORVEK_LARGE_BINARY, else "torvek-large"
// beside the running executable.
std::string locateLargeProgram(const std::string& explicitProgram);
// The workspace's server: $TORVEK_FRONT_SERVE_BINARY when set, else "torvek-front-serve" beside
// the running executable. It holds the web server and its libraries (TLS, compression), which
// every other command would otherwise load at each start.
std::string locateServeProgram();
// The engine to run for a data set with `sitesInUse` sites in use (>= 0) when `choice` is given.
EngineChoice chooseEngine(EngineChoice choice, int sitesInUse);

// Sites in use in the data set (>= 0).
int sitesInUse(const AdjustedDataSet& input);

}  // namespace torvek::front
