#pragma once

#include "dataset/adjusted_data_set.h"
#include "geodesy/datum_bias.h"

namespace torvek {

/// Stores the adjusted datum bias parameters of one bias group in the output data set: every sigma
/// passes the constraint sigma rule first (0 stays 0, anything else is at least kMinimumSigma),
/// since the data set reads a sigma of 0 as a free parameter; then the block of biasResultBlock at
/// the reference point (latitude in decimal degrees [-90, 90], longitude in decimal degrees) is
/// stored. Appends an adjustment record when there is none; false only when none could be
/// appended.
bool storeBiasResults(AdjustedDataSet& dataSet, BiasParameters adjusted, double latitude,
                      double longitude);

}  // namespace torvek
