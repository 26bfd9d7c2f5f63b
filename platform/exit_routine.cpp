#include "platform/exit_routine.h"

#include <csignal>
#include <cstdlib>

namespace torvek::platform {

bool registerExitRoutine(void (*routine)()) {
    return std::atexit(routine) == 0;
}

void ignoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

void ignoreFileSizeLimit() {
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace torvek::platform
