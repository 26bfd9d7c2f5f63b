#pragma once

#include <optional>
#include <string>
#include <vector>

#include "front/documents/grid_coordinates.h"
#include "front/documents/network_plot.h"
#include "front/import/survey_input.h"
#include "front/project/adjustment_model.h"
#include "front/run/exit_codes.h"
#include "front/run/run_programs.h"

namespace torvek::front {

enum class WarningAnswer { kAsk, kOk, kCancel };
enum class ColourChoice { kAuto, kAlways, kNever };

struct AdjustOptions {
    std::string input;  // a data set, a project or a survey file (recognised by content)
    // The other survey files read with `input` (vectors, control, a DynaML measurement file).
    std::vector<std::string> moreInputs;
    SurveyOptions survey;  // the covariance unit of survey files
    // For a data set input: the project or survey files whose full site names it shows.
    std::vector<std::string> names;
    std::string output;   // the output data set; empty: beside the input, "-adjusted.dat"
    std::string program;  // the adjustment program; empty: $TORVEK_BINARY or next to us
    EngineChoice engine = EngineChoice::kAuto;
    // The adjustment model asked for (--model); none: the project's, else the rigorous model.
    std::optional<AdjustmentModel> model;
    int snoopRounds = 0;              // --snoop: rounds of data snooping, 0 for none
    bool scaleByAposteriori = false;  // --scale-by aposteriori
    std::string relativeTolerance;    // --relative-tolerance, e.g. "20mm+50ppm"; empty for none
    bool preanalysis = false;         // --preanalysis: every vector in use is planned (rigorous)
    std::string sigmaModel;  // --sigma-model "5mm+1ppm,10mm+2ppm"; empty: kDefaultSigmaModel
    // Answer the first abort poll with this stage code with an abort, as Ctrl-C would (for
    // tests and demonstrations); -1 for none.
    int abortAtStage = -1;
    WarningAnswer warningAnswer = WarningAnswer::kAsk;
    bool showReport = true;
    ColourChoice colour = ColourChoice::kAuto;
    // The grid system of the grid coordinates (see GridSystem::open: "EPSG:25832", "utm", ...);
    // empty for none.
    std::string crs;
    // --frame and --epoch: the frame of the adjusted coordinates and their epoch, over the
    // project's settings.frame and settings.epoch (empty, NaN: not given).
    CoordinateFrame frame;
    PlotOptions plot;
    bool timings = false;  // --timings: each phase's time and memory on standard error
};

// The adjust command: prepares the input data set (from JSON when given one), runs the program
// as a linked child and serves it (progress bar, Ctrl-C, warning box, report), shows the report,
// writes the report with the results as RTF and HTML and the results as GeoJSON and KML beside
// the output data set, and prints the results summary. Returns one of the exit codes above.
int runAdjust(const AdjustOptions& options);

}  // namespace torvek::front
