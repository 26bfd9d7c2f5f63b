#pragma once
// What the statistics of a run mean, in plain words for the person who reads the results, and the
// order in which the vectors deserve a look.

#include <string>
#include <vector>

#include "front/results/network_results.h"

namespace torvek::front {

enum class ChiSquareOutcome {
    kNotTested,  // no adjustment, or no test limits to compare with
    kTooLow,     // below the lower limit
    kWithin,     // within the limits, limits included
    kTooHigh,    // above the upper limit
};

// Where the chi-square sum lies against its two limits (any finite values, lower <= upper).
// kNotTested when any of them is not finite.
ChiSquareOutcome chiSquareOutcome(double chiSquare, double lower, double upper);

// The outcome of a run's test: kNotTested when the run did not succeed.
ChiSquareOutcome chiSquareOutcome(const NetworkResults& results);

// Whether the outcome passes the test: only a sum within its limits does.
inline bool chiSquareTestPassed(ChiSquareOutcome outcome) {
    return outcome == ChiSquareOutcome::kWithin;
}

// A short word for the outcome: "too low", "within the limits", "too high", "not tested".
const char* chiSquareVerdict(ChiSquareOutcome outcome);

// A few sentences on what the outcome says and what usually causes it, for the report and the
// summary. No line feeds.
std::string chiSquareReading(ChiSquareOutcome outcome);

// Positions in results.vectors of the vectors the run adjusted, largest normalized residual (by
// magnitude, any of north, east, up) first; equal ones keep their list order.
std::vector<std::size_t> vectorsByNormalizedResidual(const NetworkResults& results);

// Positions of the vectors the run left out, in list order.
std::vector<std::size_t> excludedVectors(const NetworkResults& results);

}  // namespace torvek::front
