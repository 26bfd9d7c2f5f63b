#include "front/cli/serve_handover.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "front/run/exit_codes.h"
#include "front/run/run_programs.h"

namespace torvek::front {

int handServeToItsProgram(const ServeOptions& /*options: parsed again there*/, int argc,
                          const char* const* argv) {
    const std::string program = locateServeProgram();
    std::vector<char*> words;
    for (int i = 0; i < argc; ++i) {
        words.push_back(const_cast<char*>(argv[i]));  // execv does not change them
    }
    words.push_back(nullptr);
    std::fflush(nullptr);
    ::execv(program.c_str(), words.data());
    const int error = errno;
    std::fprintf(stderr,
                 "torvek-front: the workspace is served by %s, which cannot be started: %s\n",
                 program.c_str(), std::strerror(error));
    return kExitChildFailed;
}

}  // namespace torvek::front
