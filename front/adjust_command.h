#pragma once

#include <string>
#include <vector>

#include "front/network_plot.h"
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
// Which adjustment program runs: torvek within its limits and torvek-large beyond (kAuto), or the
// one named.
enum class EngineChoice { kAuto, kStandard, kLarge };

// Most sites in use that torvek adjusts: its dense normal matrix holds 500 sites (engine/
// engine_limits.h); beyond them the front end runs torvek-large.
inline constexpr int kStandardEngineSiteLimit = 500;
enum class ColourChoice { kAuto, kAlways, kNever };

struct AdjustOptions {
    std::string input;        // a data set, a project or a survey file (recognised by content)
    std::string secondInput;  // the other file of a DynaML station and measurement pair
    SurveyOptions survey;     // the covariance unit of survey files
    // For a data set input: the project or survey files whose full site names it shows.
    std::vector<std::string> names;
    std::string output;   // the output data set; empty: beside the input, "-adjusted.dat"
    std::string program;  // the adjustment program; empty: $TORVEK_BINARY or next to us
    EngineChoice engine = EngineChoice::kAuto;
    // Answer the first abort poll with this stage code with an abort, as Ctrl-C would (for
    // tests and demonstrations); -1 for none.
    int abortAtStage = -1;
    WarningAnswer warningAnswer = WarningAnswer::kAsk;
    bool showReport = true;
    ColourChoice colour = ColourChoice::kAuto;
    // The grid system of the grid coordinates (see GridSystem::open: "EPSG:25832", "utm", ...);
    // empty for none.
    std::string crs;
    PlotOptions plot;
};

// The adjust command: prepares the input data set (from JSON when given one), runs the program
// as a linked child and serves it (progress bar, Ctrl-C, warning box, report), shows the report,
// writes the report with the results as RTF and HTML and the results as GeoJSON and KML beside
// the output data set, and prints the results summary. Returns one of the exit codes above.
int runAdjust(const AdjustOptions& options);

// Where the adjustment program is: `explicitProgram` when given, else $TORVEK_BINARY when set,
// else "torvek" in the directory of the running executable.
std::string locateProgram(const std::string& explicitProgram);
// The same for torvek-large: `explicitProgram`, else $TORVEK_LARGE_BINARY, else "torvek-large"
// beside the running executable.
std::string locateLargeProgram(const std::string& explicitProgram);
// The engine to run for a data set with `sitesInUse` sites in use (>= 0) when `choice` is given.
EngineChoice chooseEngine(EngineChoice choice, int sitesInUse);

}  // namespace torvek::front
