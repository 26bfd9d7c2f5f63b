#pragma once

// The plain-text GPS vector format that most GNSS processing packages export: "C" coordinate
// records and "G1" vectors with their "G2" variances (or standard errors) and "G3" covariances
// (or correlations). docs/importers.md gives the mapping.

#include <optional>
#include <string>
#include <string_view>

#include "front/import/survey_network.h"

namespace torvek::front {

// True when the first record of `text` is one of this format's (a "C" or "G" record, or a ".GPS"
// option); comments and blank lines before it are skipped.
bool looksLikeGpsVectorText(std::string_view text);

// Reads the records of `text` into `network` (empty before). Covariances are in m^2 unless
// `unit` says otherwise; standard errors are in metres (millimetres with mm2). Throws SurveyError
// ("line 12", what) on the first damaged record.
void readGpsVectorText(std::string_view text, std::optional<CovarianceUnit> unit,
                       SurveyNetwork& network);

}  // namespace torvek::front
