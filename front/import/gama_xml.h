#pragma once

// The two XML forms of the open adjustment package's input: the local form ("gama-local":
// points with x, y, z attributes and blocks of vectors with one covariance matrix) and the
// geodetic form ("gnu-gama-data" with a "g3-model": points in X, Y, Z or latitude, longitude and
// height, vectors in observation blocks with their covariance). docs/importers.md gives the
// mappings.

#include <optional>
#include <string_view>

#include "front/import/survey_network.h"

namespace torvek::front {

// Reads either form into `network` (empty before). Covariances are in mm^2 unless `unit` says
// otherwise. Throws SurveyError on the first damaged or unreadable element.
void readGamaLocal(std::string_view text, std::optional<CovarianceUnit> unit,
                   SurveyNetwork& network);
void readGamaG3(std::string_view text, std::optional<CovarianceUnit> unit, SurveyNetwork& network);

}  // namespace torvek::front
