#include "stats/adjustment_tests.h"

#include <cmath>

#include "stats/distributions.h"

namespace torvek {

AdjustmentTestResult evaluateAdjustmentTests(double chiSquare, int observationCount,
                                             int unknownCount, double confidenceLevel) {
    AdjustmentTestResult result;
    result.observationCount = observationCount;
    result.unknownCount = unknownCount;
    result.degreesOfFreedom = observationCount - unknownCount;
    result.chiSquare = chiSquare;
    result.unitWeightStandardError =
        result.degreesOfFreedom != 0 ? std::sqrt(chiSquare / result.degreesOfFreedom) : 1.0;
    const double alpha = 1 - confidenceLevel / 100;
    const ChiSquareBounds bounds =
        ChiSquareQuantiles(result.degreesOfFreedom, alpha / 2, 1 - alpha / 2);
    result.lowerLimit = bounds.lower;
    result.upperLimit = bounds.upper;
    result.tauCriticalValue = TauCriticalValue(result.degreesOfFreedom, observationCount, alpha);
    result.passed = result.lowerLimit <= chiSquare && chiSquare <= result.upperLimit;
    return result;
}

}  // namespace torvek
