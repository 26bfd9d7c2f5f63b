#include "front/results/result_reading.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace torvek::front {

ChiSquareOutcome chiSquareOutcome(double chiSquare, double lower, double upper) {
    if (!std::isfinite(chiSquare) || !std::isfinite(lower) || !std::isfinite(upper)) {
        return ChiSquareOutcome::kNotTested;
    }
    if (chiSquare < lower) {
        return ChiSquareOutcome::kTooLow;
    }
    return chiSquare > upper ? ChiSquareOutcome::kTooHigh : ChiSquareOutcome::kWithin;
}

ChiSquareOutcome chiSquareOutcome(const NetworkResults& r) {
    if (!r.hasAdjustmentRecord || !r.succeeded) {
        return ChiSquareOutcome::kNotTested;
    }
    return chiSquareOutcome(r.chiSquare, r.chiSquareLower, r.chiSquareUpper);
}

const char* chiSquareVerdict(ChiSquareOutcome outcome) {
    switch (outcome) {
        case ChiSquareOutcome::kTooLow:
            return "too low";
        case ChiSquareOutcome::kWithin:
            return "within the limits";
        case ChiSquareOutcome::kTooHigh:
            return "too high";
        case ChiSquareOutcome::kNotTested:
            break;
    }
    return "not tested";
}

std::string chiSquareReading(ChiSquareOutcome outcome) {
    switch (outcome) {
        case ChiSquareOutcome::kTooLow:
            return "The chi-square value is below its lower limit: the vectors fit each other "
                   "better than their a-priori standard deviations say they should. The a-priori "
                   "sigmas are too pessimistic, as when they were scaled up for safety or taken "
                   "from a conservative precision model. The coordinates are sound; reduce the "
                   "vector sigmas (or raise their weights) so that the tests can find blunders.";
        case ChiSquareOutcome::kWithin:
            return "The chi-square value lies within its limits: the residuals agree with the "
                   "a-priori standard deviations of the vectors, and the network as a whole shows "
                   "no sign of blunders or of wrongly stated precision. Vectors above the tau "
                   "critical value, if any, still deserve a look.";
        case ChiSquareOutcome::kTooHigh:
            return "The chi-square value is above its upper limit: the residuals are larger "
                   "than the a-priori standard deviations allow. The usual causes are a blunder "
                   "(a wrong antenna height, a site occupied under another name, a vector from a "
                   "bad session; start with the vectors of the largest normalized residuals), "
                   "a-priori sigmas that are too optimistic, as processing software often gives, "
                   "or control coordinates that do not fit the vectors.";
        case ChiSquareOutcome::kNotTested:
            break;
    }
    return "There is no chi-square test: the adjustment did not succeed.";
}

std::vector<std::size_t> vectorsByNormalizedResidual(const NetworkResults& r) {
    // Sorted as (residual, position) pairs, held together rather than looked up in the large
    // vector records at every comparison; equal residuals keep their order by position.
    // largestNormalized is never NaN (a NaN component is never the largest), so the order is
    // strict.
    std::vector<std::pair<double, std::size_t>> keyed;
    for (std::size_t i = 0; i < r.vectors.size(); ++i) {
        if (r.vectors[i].adjusted) {
            keyed.emplace_back(r.vectors[i].largestNormalized, i);
        }
    }
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        return a.first > b.first || (a.first == b.first && a.second < b.second);
    });
    std::vector<std::size_t> order;
    order.reserve(keyed.size());
    for (const auto& [residual, i] : keyed) {
        order.push_back(i);
    }
    return order;
}

std::vector<std::size_t> excludedVectors(const NetworkResults& r) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < r.vectors.size(); ++i) {
        if (r.vectors[i].excluded) {
            out.push_back(i);
        }
    }
    return out;
}

}  // namespace torvek::front
