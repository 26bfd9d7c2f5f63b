#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace torvek::front {

// The largest frame payload taken, in bytes. Report pieces stay below 4.2 kB; a larger length can
// only come from a broken peer, and reading it would let that peer make us allocate at will.
inline constexpr std::uint32_t kMaximumPayload = 1u << 20;

// What the front end does with each frame. Every handler is optional.
struct LinkHandlers {
    // Abort poll with its stage code (0 to 100): true to abort.
    std::function<bool(int stage)> pollAbort;
    // A report piece: data word and text (without its zero byte). True when taken.
    std::function<bool(std::uint32_t dataWord, std::string_view text)> reportPiece;
    // The warning box: text and caption. True for OK, false for Cancel.
    std::function<bool(const std::string& text, const std::string& caption)> warningBox;
    // The exit notice, the last frame of a run.
    std::function<void()> exitNotice;
    // Asked about five times a second while serving: true to end the child (the user insisted):
    // SIGTERM to its process group, SIGKILL two seconds later if it is still there.
    std::function<bool()> killRequested;
};

// How the child ended and what the link saw.
struct ChildOutcome {
    bool started = false;
    std::string startError;  // why it could not be started
    bool exited = false;     // ended normally, with exitCode
    int exitCode = -1;
    bool signalled = false;  // ended by a signal
    int signal = 0;
    bool killed = false;  // we killed it on request
    bool exitNoticeReceived = false;
    int framesServed = 0;
    std::vector<std::string> protocolErrors;  // frames that broke the rules
    std::string childOutput;  // what the child wrote on its standard output and error
    long peakKilobytes = 0;   // the child's peak resident memory, 0 when unknown

    // True when the child ran to its end as the link describes: exit notice, then exit code 0.
    bool completed() const {
        return started && exited && exitCode == 0 && exitNoticeReceived && !killed;
    }
    // A sentence for people on how the child ended, e.g. "torvek was killed by signal 11
    // (Segmentation fault)" or "torvek exited with status 3 before finishing its run".
    std::string describe(const std::string& programName) const;
    // What the person should know about how the child ended, the link and what the child printed,
    // one sentence a line; empty after a clean run. Both front ends tell the same.
    std::string notes(const std::string& programName) const;
};

// Starts `program` with `arguments` (after argv[0]) followed by the two descriptor numbers of its
// ends of two fresh socket pairs (progress, then report), serves both endpoints until the child
// has ended, and reaps it. The child's standard input is /dev/null; its standard output and error
// are collected; it runs in a process group of its own and ignores SIGINT, so that Ctrl-C on the
// terminal reaches only the front end, which answers the next poll with an abort instead.
//
// Serving never blocks: frames are gathered as their bytes arrive and answers are sent as the
// child takes them, so a child that stalls in the middle of a frame, sends without reading its
// answers, or leaves a descendant holding the endpoints open cannot hold the front end. An
// endpoint whose frame stays unfinished, or whose answers stay untaken, for 30 seconds is
// closed; after the child has ended, its endpoints are read for one more second at most.
// `cwd`, when not empty, is the child's working directory.
ChildOutcome runLinkedChild(const std::string& program, const std::vector<std::string>& arguments,
                            const LinkHandlers& handlers, const std::string& cwd = {});

}  // namespace torvek::front
