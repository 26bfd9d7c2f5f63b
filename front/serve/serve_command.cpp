#include "front/serve/serve_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "front/run/exit_codes.h"
#include "front/serve/access_guard.h"
#include "front/serve/workspace_server.h"

namespace torvek::front {

namespace {

// The write end of the pipe on which the signal handler wakes the main thread.
int stopPipeWrite = -1;

void onStopSignal(int) {
    const char byte = 1;
    (void)!::write(stopPipeWrite, &byte, 1);
}

int fail(const std::string& what) {
    std::fprintf(stderr, "torvek-front: %s\n", what.c_str());
    return kExitBadInput;
}

// A private folder for uploads and runs under $TMPDIR (or /tmp), removed when the server ends.
std::string makeWorkFolder(std::string& error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/torvek-serve-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "a work folder cannot be made under " + pattern + " (" + std::strerror(errno) + ")";
        return {};
    }
    return pattern;
}

// Waits for SIGINT or SIGTERM, with the handlers installed only for the wait.
void waitForStopSignal() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        ::pause();
        return;
    }
    stopPipeWrite = fds[1];
    struct sigaction action {
    }, previousInt{}, previousTerm{};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, &previousInt);
    ::sigaction(SIGTERM, &action, &previousTerm);
    pollfd watch{fds[0], POLLIN, 0};
    while (::poll(&watch, 1, -1) <= 0) {
    }
    ::sigaction(SIGINT, &previousInt, nullptr);
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    ::close(fds[0]);
    ::close(fds[1]);
}

}  // namespace

int runServe(const ServeOptions& options) {
    const std::string token = serve::makeAccessToken();
    if (token.empty()) {
        return fail("no random access token can be made (the system's random source fails)");
    }
    std::string error;
    const std::string folder = makeWorkFolder(error);
    if (folder.empty()) {
        return fail(error);
    }
    int status = 0;
    {
        serve::WorkspaceServer server(token, {options.program, folder});
        if (!options.inputs.empty() &&
            !server.workspace().open(options.inputs, options.survey, error)) {
            status = fail(error);
        } else if (!server.bind(options.port, error)) {
            status = fail(error);
        } else {
            server.start();
            std::printf("torvek-front serve: open %s\n(Ctrl-C stops the server)\n",
                        server.address().c_str());
            std::fflush(stdout);
            waitForStopSignal();
            std::fprintf(stderr, "torvek-front serve: stopping\n");
            server.stop();
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}

}  // namespace torvek::front
