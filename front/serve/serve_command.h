#pragma once

#include <string>
#include <vector>

#include "front/import/survey_input.h"

namespace torvek::front {

// What `torvek-front serve [INPUT...] [--port N] [--program PATH] [--covariance-unit m2|mm2]`
// asks for.
struct ServeOptions {
    std::vector<std::string> inputs;  // opened at start: none, one input, or a DynaML pair
    int port = 0;                     // 0 to 65535; 0: a free one
    std::string program;              // the adjustment program; empty: $TORVEK_BINARY or beside us
    SurveyOptions survey;             // the covariance unit of survey files
};

// The browser workspace. Serves the page on the loopback address, prints its address with the
// access token, and runs until Ctrl-C or SIGTERM, when runs still going are aborted and their
// programs reaped. Returns an exit code (0, or kExitBadInput).
int runServe(const ServeOptions& options);

}  // namespace torvek::front
