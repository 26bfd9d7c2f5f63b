#pragma once

#include <string>

#include "dataset/adjusted_data_set.h"
#include "front/project/site_name_mapping.h"

namespace torvek::front {

// The data set as comma-separated values for a spreadsheet: three tables one after another, each
// led by a line "# sites", "# vectors" or "# adjustment" and a header row, separated by an empty
// line. Every field the program reads or writes is a column (the adjustment table has one row of
// name and value per field). Numbers carry 17 significant digits so that they read back exactly;
// names and texts are quoted where they hold a comma, a quote or a line end, and led by a quote
// (') where they start with =, +, -, @ or a control byte, so that no spreadsheet takes them for a
// formula; numbers are never changed (their minus sign stays, and they stay numbers). With `names`,
// sites are named in full and their codes follow in columns "code" (sites), "fromCode" and "toCode"
// (vectors).
std::string exportCsv(const AdjustedDataSet& dataSet, const SiteNameTable* names = nullptr);

}  // namespace torvek::front
