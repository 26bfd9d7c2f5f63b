#include "engine/bias_results.h"

namespace torvek {

static_assert(kBiasValueCount == kBiasResultCount, "the stored block is the computed block");

bool storeBiasResults(AdjustedDataSet& dataSet, BiasParameters adjusted, double latitude,
                      double longitude) {
    for (BiasEstimate* parameter :
         {&adjusted.aboutNorth, &adjusted.aboutEast, &adjusted.aboutUp, &adjusted.scale}) {
        parameter->sigma = applyConstraintSigmaRule(parameter->sigma);
    }
    return dataSet.setBiasResultBlock(biasResultBlock(adjusted, latitude, longitude));
}

}  // namespace torvek
