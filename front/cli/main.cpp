// torvek-front: the command-line front end. `torvek-front --help` lists the commands.
#include <csignal>
#include <cstdio>
#include <new>

#include "front/cli/command_line.h"
#include "front/cli/serve_handover.h"
#include "front/run/exit_codes.h"
#include "platform/process_memory.h"

int main(int argc, char** argv) {
    // Under a file size limit (ulimit -f) a write then fails and is reported, and the partial
    // temporary is removed, instead of the process being killed in the middle of it.
    std::signal(SIGXFSZ, SIG_IGN);
    // A run allocates, frees and allocates again documents of some megabytes; kept in the heap,
    // they are not faulted in page by page each time (a fifth of an adjust of the national
    // network).
    torvek::platform::prepareHeapForShortRun();
    try {
        return torvek::front::runCommandLine(argc, argv, torvek::front::handServeToItsProgram);
    } catch (const std::bad_alloc&) {
        // Nothing here allocates: the message is a literal written as it is.
        std::fputs("torvek-front: not enough memory\n", stderr);
        return torvek::front::kExitOutOfMemory;
    }
}
