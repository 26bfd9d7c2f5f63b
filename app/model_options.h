#pragma once
#include <string>

namespace torvek {

/// Most rounds of data snooping a run accepts: each round is a whole adjustment.
inline constexpr int kMaxSnoopRounds = 1000;

/// The options of torvek-large before its positional arguments:
/// `[--model classic|rigorous] [--snoop ROUNDS] [--scale-by apriori|aposteriori]
/// [--statistics FILE] [--preanalysis]`.
struct ModelOptions {
    bool rigorous = false;
    int snoopRounds = 0;                   // 0: no snooping; else 1..kMaxSnoopRounds
    bool scaleByPosterior = false;         // --scale-by aposteriori
    const char* statisticsPath = nullptr;  // --statistics FILE
    bool preanalysis = false;              // --preanalysis: every vector in use is planned
};

/// Reads the options from argv[1] on and sets `next` to the first positional argument. False,
/// with `error` set to a line starting "Error: ", for an unknown option, a missing or bad value
/// (ROUNDS outside 1..kMaxSnoopRounds), --snoop, --scale-by, --statistics or --preanalysis
/// without --model rigorous, or --preanalysis with --snoop or --scale-by aposteriori (a
/// pre-analysis has no residuals to snoop and no a-posteriori sigma0).
bool parseModelOptions(int argc, const char* const* argv, ModelOptions& options, int& next,
                       std::string& error);

}  // namespace torvek
