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
//   retried         makes the scratch copy torvek.tmp in its working directory, as the program
//                   does after a failed first attempt, then runs as "fast"
//   stubborn        as stall, but ignores SIGTERM: only SIGKILL ends it
//   midframe        polls stage 0 once, sends the first bytes of a report piece, then sleeps
//   deaf            sends abort polls as fast as it can without reading a single answer
//   grandchild      leaves a process that holds the endpoints open for a minute, then polls
//                   stage 0 and ends as the program does
//   emptied         as the program after a failed copy (a full disk): an error line, an empty
//                   output data set, then the end of the run as usual
//   pieces          300 report pieces in a row ("piece N"), then says on standard error how many
//                   were answered as delivered, polls stage 0 and ends as the program does
//   any other       polls 0..99 without pausing, then ends as the program does
// In every mode the input file is first copied onto the output path, and "chatter" written to
// standard error shows up in the front end's notes, with the number of descriptors the child was
// given beyond the standard three (the two endpoints, nothing more, when the front end is tidy).
// When TORVEK_FAKE_READY names a file, that file is made once the copy is done: a sign for the
// tests that the child has started.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "link/endpoint_io.h"
#include "link/frame_codec.h"
#include "link/messages.h"

namespace {

namespace link = torvek::link;

// The payload length the "oversized" mode announces: 2 GiB, far beyond any real frame.
constexpr std::uint32_t kOversizedLength = 0x80000000u;

// Report pieces the "pieces" mode sends in a row: more than the front end answers ahead at once.
constexpr int kPiecesInARow = 300;

int progressFd = -1;
int reportFd = -1;

// Sends one frame and returns the answer (0 when there is none).
std::int32_t send(int endpoint, link::Message message, std::uint32_t wParam,
                  std::string_view payload = {}) {
    std::int32_t answer = link::kAnswerNone;
    link::exchangeFrame(endpoint, message, wParam, payload, answer);
    return answer;
}

void reportLine(const std::string& text) {
    send(reportFd, link::Message::kReportPiece, 0,
         link::encodeReportPiece(link::kDataWordAtSelection, text + " "));
}

bool poll(int stage) {
    return send(progressFd, link::Message::kAbortPoll, static_cast<std::uint32_t>(stage)) !=
           link::kAnswerNone;
}

void exitNotice() {
    send(progressFd, link::Message::kExitNotice, 0);
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

// An empty data set, as the program writes one: three zero counts and a zero header of 328 bytes.
void writeEmptyDataSet(const char* path) {
    constexpr std::size_t kEmptyDataSetSize = 12 + 328;
    const std::string empty(kEmptyDataSetSize, '\0');
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        (void)!::write(fd, empty.data(), empty.size());
        ::close(fd);
    }
}

// Descriptors open in this process, the one that lists them left out.
int openDescriptors() {
    DIR* listing = ::opendir("/proc/self/fd");
    if (listing == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent* entry = ::readdir(listing)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    ::closedir(listing);
    return count - 1;
}

int askBox() {
    const std::int32_t answer = send(
        progressFd, link::Message::kWarningBox, link::kWarningBoxStyle,
        link::encodeWarningBox("Only one part will be adjusted.", "The network connectivity test"));
    reportLine("warning box answer: " + std::to_string(answer) + "\n");
    exitNotice();
    return 0;
}

// The "pieces" mode: kPiecesInARow report pieces, then how many were answered as delivered.
int sendPieces() {
    int delivered = 0;
    for (int n = 0; n < kPiecesInARow; ++n) {
        const std::string piece = "piece " + std::to_string(n) + "\n ";
        const std::int32_t answer =
            send(reportFd, link::Message::kReportPiece, 0,
                 link::encodeReportPiece(link::kDataWordAtSelection, piece));
        delivered += answer == link::kAnswerDelivered ? 1 : 0;
    }
    std::fprintf(stderr, "pieces delivered: %d of %d\n", delivered, kPiecesInARow);
    std::fflush(stderr);
    poll(0);
    exitNotice();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The model options torvek-large takes before its paths ("--model rigorous", ...) come in
    // pairs; the stand-in copies its input and so leaves the run without results or statistics.
    while (argc > 2 && std::strncmp(argv[1], "--", 2) == 0) {
        argv[2] = argv[0];
        argv += 2;
        argc -= 2;
    }
    if (argc != 5) {
        return 1;
    }
    progressFd = std::atoi(argv[3]);
    reportFd = std::atoi(argv[4]);
    copyFile(argv[1], argv[2]);
    if (const char* ready = std::getenv("TORVEK_FAKE_READY")) {
        const int fd = ::open(ready, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0)
            ::close(fd);
    }
    std::fputs("chatter from the fake child\n", stderr);
    std::fprintf(stderr, "descriptors beyond the standard three: %d\n", openDescriptors() - 3);
    std::fflush(stderr);
    const char* modeText = std::getenv("TORVEK_FAKE_MODE");
    const std::string mode = modeText != nullptr ? modeText : "slow";

    // The class query: the report goes out only to a RICHEDIT. The answer's name is read too, so
    // that later answers stay in step.
    std::string className;
    link::queryClassName(reportFd, className);

    if (mode == "box") {
        return askBox();
    }
    if (mode == "retried") {
        copyFile(argv[1], "torvek.tmp");
    }
    if (mode == "stubborn") {
        ::signal(SIGTERM, SIG_IGN);
    }
    if (mode == "stall" || mode == "stubborn") {
        poll(0);
        ::sleep(60);
        exitNotice();
        return 0;
    }
    if (mode == "emptied") {
        poll(0);
        reportLine("Error: Cannot copy the input data set to " + std::string(argv[2]) + "\n");
        writeEmptyDataSet(argv[2]);
        exitNotice();
        return 0;
    }
    if (mode == "midframe") {
        poll(0);
        const std::string frame = link::encodeFrame(link::Message::kReportPiece, 0,
                                                    link::encodeReportPiece(2, "cut short\n"));
        link::writeFully(reportFd, frame.substr(0, frame.size() / 2));
        ::sleep(60);
        return 0;
    }
    if (mode == "deaf") {
        // As fast as it can, until the front end gives the endpoint up or a minute has passed.
        const std::string frame = link::encodeFrame(link::Message::kAbortPoll, 1);
        const time_t end = ::time(nullptr) + 60;
        while (::time(nullptr) < end && link::writeFully(progressFd, frame)) {
        }
        return 0;
    }
    if (mode == "grandchild") {
        if (::fork() == 0) {
            ::sleep(60);
            ::_exit(0);
        }
        poll(0);
        reportLine("stage 0\n");
        exitNotice();
        return 0;
    }
    if (mode == "pieces") {
        return sendPieces();
    }
    if (mode == "oversized") {
        link::writeFully(reportFd,
                         link::encodeFrameHead(link::Message::kReportPiece, 0, kOversizedLength));
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
