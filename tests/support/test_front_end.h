#pragma once
// A front end for the tests: it starts the program as a child with two socket pairs, serves both
// endpoints exactly as a real front end would, answers from a script and records every frame.
#include <cstdint>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "link/messages.h"

namespace torvek::link {
/// Shows a message as its number in test failures.
void PrintTo(Message message, std::ostream* out);
}  // namespace torvek::link

namespace torvek::testing {

enum class Endpoint { kProgress, kReport };

/// One frame the program sent, in the order received over both endpoints.
struct Frame {
    Endpoint endpoint = Endpoint::kProgress;
    link::Message message = link::Message::kAbortPoll;
    std::uint32_t wParam = 0;
    std::uint32_t lParam = 0;
    std::string payload;
    // Report pieces decoded:
    std::uint32_t dataWord = 0;
    std::uint32_t byteCount = 0;
    std::string text;  // without the terminating zero
    // Warning boxes decoded:
    std::string boxText, boxCaption;
};

/// How the front end answers.
struct FrontEndScript {
    std::set<int> abortAtStages;  // polls with these stage codes are answered 1
    std::set<std::pair<int, int>>
        abortAtOccurrence;                          // (stage, n): only its n-th poll is answered 1
    std::string className{link::kReportClassName};  // answered to the class query
    static constexpr int kRealLength = -2147483647 - 1;
    int classNameLength = kRealLength;       // otherwise sent as the length instead of the real one
    int messageBoxButton = link::kButtonOk;  // or link::kButtonCancel, or any other answer
    bool refusePieces = false;               // answer 0 to report pieces
    int closeProgressAfterFrames = -1;  // close the progress socket after this many frames on it
    int closeReportAfterFrames = -1;    // close the report socket after this many frames on it
    bool garbageAnswers = false;        // answer every frame with a short, odd reply
    bool giveEndpoints = true;          // append the two descriptor numbers to the arguments
    std::string standardInput;          // what the child reads on stdin
    std::string workingDirectory;       // empty: a fresh folder of the run's own, then removed
    // When 0 or more: the child can open only this many descriptors beyond its standard streams
    // and its two endpoints (the limit on open files is set so), to take temporary files away.
    int freeDescriptors = -1;
    // Runs the child as the unprivileged user "nobody" when the tests run as root, so that file
    // permissions refuse it what they would refuse a surveyor (root reads and writes anything).
    bool unprivileged = false;
    // When 0 or more: the child's limits on its address space and on the size of a file it
    // writes, in bytes, as `ulimit -v` and `ulimit -f` set them.
    long long addressSpaceLimit = -1;
    long long fileSizeLimit = -1;
    // Files removed when a poll with this stage code arrives, before it is answered.
    std::map<int, std::string> removeAtStage;
};

/// The user id an unprivileged child runs as.
inline constexpr unsigned kUnprivilegedUser = 65534;

struct RunResult {
    int exitCode = -1;  // exit status, or 128 + signal
    bool timedOut = false;
    std::vector<Frame> frames;
    std::string standardOutput;
    std::string standardError;

    /// Frames of one endpoint, in order.
    std::vector<Frame> framesOf(Endpoint endpoint) const;
    /// Stage codes of the abort polls, in order.
    std::vector<int> stages() const;
    /// The plain text of the report: every plain piece concatenated (appended blanks included).
    std::string reportText() const;
    /// The report with style markers: each style fragment becomes "<size,colour,attr,tabs>".
    std::string styledReport() const;
    /// How many frames carried this message.
    int countMessage(link::Message message) const;
};

/// Reads one frame from the front end's end of a socket, decoding report pieces and message boxes;
/// false when the program closed its end (or sent a frame longer than 64 MiB).
bool readFrame(int fd, Frame& frame);

/// Runs `program` with `arguments` (after argv[0]). "{P}" and "{R}" in an argument are replaced by
/// the child's progress and report descriptor numbers; with `script.giveEndpoints` and no
/// placeholder in the arguments, the two numbers are appended. Gives up after `timeoutSeconds`.
RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const FrontEndScript& script = {}, int timeoutSeconds = 120);

/// Runs the adjustment program built with the tests.
RunResult runTorvek(const std::vector<std::string>& arguments, const FrontEndScript& script = {});

/// Parses "(size,colour,attr,tabs)" back out of a style fragment; false when `text` is not one.
bool decodeStyleFragment(const std::string& text, int& size, int& colour, int& attribute,
                         int& tabs);

/// Whole file as bytes; empty when it cannot be read.
std::string readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);

}  // namespace torvek::testing
