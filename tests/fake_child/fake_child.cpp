// A stand-in for the adjustment program that speaks the front-end link and misbehaves on request,
// for the front end's end-to-end tests. Called as the program is: INPUT OUTPUT PROGRESS REPORT.
// What it does comes from the environment variable TORVEK_FAKE_MODE:
//   slow            polls stages 0, 1, ..., 99 with 100 ms between them, one report line each;
//                   an abort answer ends the run as the program does (report line, exit notice)
//   crash:N         polls 0..N, then dies of SIGSEGV
//   exit:N:CODE     polls 0..N, then exits with CODE without the exit notice
//   box             asks the warning box and reports the answer it got
//   oversized       sends a frame announcing a payload of 2 GiB, then runs as "box"
//   stall           polls stage 0 once, then sleeps for a minute without a word
// In every mode the input file is first copied onto the output path, and "chatter" written to
// standard error shows up in the front end's notes.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int progressFd = -1;
int reportFd = -1;

void putUint32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xffu);
    }
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (put <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

// Sends one frame and reads the int32 answer (0 when there is none).
std::int32_t send(int fd, std::uint32_t message, std::uint32_t wParam, const std::string& payload) {
    std::string frame;
    putUint32(frame, message);
    putUint32(frame, wParam);
    putUint32(frame, 0);
    putUint32(frame, static_cast<std::uint32_t>(payload.size()));
    frame += payload;
    if (fd < 0 || !writeAll(fd, frame)) {
        return 0;
    }
    unsigned char answer[4];
    std::size_t got = 0;
    while (got < 4) {
        const ssize_t n = ::read(fd, answer + got, 4 - got);
        if (n <= 0) {
            return 0;
        }
        got += static_cast<std::size_t>(n);
    }
    return static_cast<std::int32_t>(std::uint32_t(answer[0]) | (std::uint32_t(answer[1]) << 8) |
                                     (std::uint32_t(answer[2]) << 16) |
                                     (std::uint32_t(answer[3]) << 24));
}

void reportLine(const std::string& text) {
    std::string payload;
    putUint32(payload, 2);
    putUint32(payload, static_cast<std::uint32_t>(text.size() + 2));
    payload += text + " ";
    payload += '\0';
    send(reportFd, 74, 0, payload);
}

bool poll(int stage) {
    return send(progressFd, 1033, static_cast<std::uint32_t>(stage), "") != 0;
}

void exitNotice() {
    send(progressFd, 1028, 0, "");
}

void copyFile(const char* from, const char* to) {
    const int in = ::open(from, O_RDONLY);
    const int out = ::open(to, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char buffer[4096];
    for (ssize_t n; in >= 0 && out >= 0 && (n = ::read(in, buffer, sizeof buffer)) > 0;) {
        (void)!::write(out, buffer, static_cast<std::size_t>(n));
    }
    if (in >= 0)
        ::close(in);
    if (out >= 0)
        ::close(out);
}

int askBox() {
    std::string payload = "Only one part will be adjusted.";
    payload += '\0';
    payload += "The network connectivity test";
    payload += '\0';
    const std::int32_t answer = send(progressFd, 65537, 0x31, payload);
    reportLine("warning box answer: " + std::to_string(answer) + "\n");
    exitNotice();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        return 1;
    }
    progressFd = std::atoi(argv[3]);
    reportFd = std::atoi(argv[4]);
    copyFile(argv[1], argv[2]);
    std::fputs("chatter from the fake child\n", stderr);
    std::fflush(stderr);
    const char* modeText = std::getenv("TORVEK_FAKE_MODE");
    const std::string mode = modeText != nullptr ? modeText : "slow";

    // The class query: the report goes out only to a RICHEDIT. The answer's name follows its
    // length and is read too, so that later answers stay in step.
    const std::int32_t nameLength = send(reportFd, 65536, 0, "");
    char name[64];
    if (nameLength > 0 && nameLength < 64) {
        std::size_t got = 0;
        while (got < static_cast<std::size_t>(nameLength)) {
            const ssize_t n =
                ::read(reportFd, name + got, static_cast<std::size_t>(nameLength) - got);
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
    }

    if (mode == "box") {
        return askBox();
    }
    if (mode == "stall") {
        poll(0);
        ::sleep(60);
        exitNotice();
        return 0;
    }
    if (mode == "oversized") {
        std::string head;
        putUint32(head, 74);
        putUint32(head, 0);
        putUint32(head, 0);
        putUint32(head, 0x80000000u);
        writeAll(reportFd, head);
        return askBox();
    }
    int lastStage = 99;
    int exitCode = -1;
    bool crash = false;
    if (mode.rfind("crash:", 0) == 0) {
        lastStage = std::atoi(mode.c_str() + 6);
        crash = true;
    } else if (mode.rfind("exit:", 0) == 0) {
        lastStage = std::atoi(mode.c_str() + 5);
        const char* colon = std::strchr(mode.c_str() + 5, ':');
        exitCode = colon != nullptr ? std::atoi(colon + 1) : 1;
    }
    for (int stage = 0; stage <= lastStage; ++stage) {
        if (poll(stage)) {
            reportLine("Adjustment aborted by user\n");
            std::printf("aborted at stage %d\n", stage);
            std::fflush(stdout);
            exitNotice();
            return 0;
        }
        reportLine("stage " + std::to_string(stage) + "\n");
        if (mode == "slow") {
            ::usleep(100 * 1000);
        }
    }
    if (crash) {
        ::signal(SIGSEGV, SIG_DFL);
        ::raise(SIGSEGV);
    }
    if (exitCode >= 0) {
        ::_exit(exitCode);
    }
    exitNotice();
    return 0;
}
