// torvek-front-serve: the browser workspace, which `torvek-front serve` hands its command line to
// (cli/serve_handover.h). It takes the same command line as torvek-front.
#include <csignal>
#include <cstdio>
#include <new>

#include "front/cli/command_line.h"
#include "front/run/exit_codes.h"

namespace {

int serveHere(const torvek::front::ServeOptions& options, int /*argc*/,
              const char* const* /*argv*/) {
    return torvek::front::runServe(options);
}

}  // namespace

int main(int argc, char** argv) {
    // As torvek-front: a write beyond a file size limit fails and is reported.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return torvek::front::runCommandLine(argc, argv, serveHere);
    } catch (const std::bad_alloc&) {
        std::fputs("torvek-front: not enough memory\n", stderr);
        return torvek::front::kExitOutOfMemory;
    }
}
