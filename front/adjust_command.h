#pragma once

#include <string>

#include "front/survey_input.h"

namespace torvek::front {

// Exit codes of torvek-front.
inline constexpr int kExitSucceeded = 0;    // adjusted (the chi-square test may still fail)
inline constexpr int kExitBadInput = 1;     // bad command line, project or data set; nothing run
inline constexpr int kExitNotAdjusted = 2;  // the run ended without results: failed, aborted or
                                            // cancelled at the warning box
inline constexpr int kExitChildFailed = 3;  // torvek could not be started, crashed or exited
                                            // before finishing its run
inline constexpr int kExitWriteFailed = 4;  // adjusted, but an output could not be written

enum class WarningAnswer { kAsk, kOk, kCancel };
enum class ColourChoice { kAuto, kAlways, kNever };

struct AdjustOptions {
    std::string input;        // a data set, a project or a survey file (recognised by content)
    std::string secondInput;  // the other file of a DynaML station and measurement pair
    SurveyOptions survey;     // the covariance unit of survey files
    std::string output;       // the output data set; empty: beside the input, "-adjusted.dat"
    std::string program;      // the adjustment program; empty: $TORVEK_BINARY or next to us
    // Answer the first abort poll with this stage code with an abort, as Ctrl-C would (for
    // tests and demonstrations); -1 for none.
    int abortAtStage = -1;
    WarningAnswer warningAnswer = WarningAnswer::kAsk;
    bool showReport = true;
    ColourChoice colour = ColourChoice::kAuto;
};

// The adjust command: prepares the input data set (from JSON when given one), runs the program
// as a linked child and serves it (progress bar, Ctrl-C, warning box, report), shows the report,
// writes it as RTF and HTML beside the output data set, and prints the results summary. Returns
// one of the exit codes above.
int runAdjust(const AdjustOptions& options);

// Where the adjustment program is: `explicitProgram` when given, else $TORVEK_BINARY when set,
// else "torvek" in the directory of the running executable.
std::string locateProgram(const std::string& explicitProgram);

}  // namespace torvek::front
