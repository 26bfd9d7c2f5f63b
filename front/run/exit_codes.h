#pragma once

namespace torvek::front {

// Exit codes of torvek-front.
inline constexpr int kExitSucceeded = 0;    // adjusted (the chi-square test may still fail)
inline constexpr int kExitBadInput = 1;     // bad command line, project or data set; nothing run
inline constexpr int kExitNotAdjusted = 2;  // the run ended without results: failed, aborted or
                                            // cancelled at the warning box
inline constexpr int kExitChildFailed = 3;  // torvek could not be started, crashed or exited
                                            // before finishing its run
inline constexpr int kExitWriteFailed = 4;  // adjusted, but an output could not be written
inline constexpr int kExitOutputBusy = 5;   // another run is writing the same output; nothing run
inline constexpr int kExitOutOfMemory = 6;  // an allocation failed; no output half-written

}  // namespace torvek::front
