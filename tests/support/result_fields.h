#pragma once
// Every field that a run writes as a result into the output data set, looked at for NaN and
// infinite values: a damaged input must never come back as such a result.
#include <string>
#include <vector>

#include "dataset/project_data_set.h"

namespace torvek::testing {

/// The result fields of one record, in record order.
std::vector<double> resultFields(const SiteRecord& site);
std::vector<double> resultFields(const VectorRecord& vector);
std::vector<double> resultFields(const AdjustmentRecord& record);

/// True when every result field of every site, vector and adjustment record is a finite number;
/// otherwise false with `where` naming the first record that holds one that is not.
bool resultFieldsAreFinite(const ProjectDataSet& dataSet, std::string& where);

/// For data sets that may hold anything, as a fuzzer's do: true unless a result field of `after`
/// is NaN or infinite while the same field of `before` (the record at the same place, or a fresh
/// record where `before` has none) is not that very value, bit for bit, i.e. unless the run
/// stored it. `where` names the first such record.
bool noNonFiniteResultStored(const ProjectDataSet& before, const ProjectDataSet& after,
                             std::string& where);

}  // namespace torvek::testing
