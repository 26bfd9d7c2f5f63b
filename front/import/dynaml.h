#pragma once

// The open XML format of station and measurement files ("DnaXmlFormat"): stations in X, Y, Z or
// latitude, longitude and height, and GNSS baselines (type G, and the baselines of clusters of
// type X) with their covariance. docs/importers.md gives the mapping.

#include <optional>
#include <string>
#include <string_view>

#include "front/import/survey_network.h"

namespace torvek::front {

enum class DynaFileKind { kNone, kStations, kMeasurements };

// What a DnaXmlFormat file holds, from its root's type attribute; kNone for other files.
DynaFileKind dynaFileKind(std::string_view text);

// Reads a station file and its measurement file into `network` (empty before). Covariances are
// in m^2 unless `unit` says otherwise. Throws SurveyError on the first damaged element; `where`
// names the station or the measurement (by its number, from 1).
void readDynaml(std::string_view stationText, std::string_view measurementText,
                std::optional<CovarianceUnit> unit, SurveyNetwork& network);

}  // namespace torvek::front
