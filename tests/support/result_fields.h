#pragma once
// Every field that a run writes as a result into the output data set, looked at for NaN and
// infinite values: a damaged input must never come back as such a result.
#include <string>

#include "dataset/adjusted_data_set.h"

namespace torvek::testing {

/// True when every result field of every site, vector and adjustment record is a finite number;
/// otherwise false with `where` naming the first record and field that is not.
bool resultFieldsAreFinite(const AdjustedDataSet& dataSet, std::string& where);

}  // namespace torvek::testing
