#pragma once

// Several survey files of one network read together: vectors from some, control and coordinates
// from others (a file of C records, a DynaML station file, ...). Each file is read by its own
// importer; the networks are then joined site by site, matched by their full names exactly as
// each importer matches them within one file.

#include <string>
#include <vector>

#include "front/import/survey_network.h"

namespace torvek::front {

// Two files place one site alike when their positions lie within this distance (metres): 1 mm,
// well below what GNSS control is given to and well above the rounding of printed coordinates.
inline constexpr double kSamePositionTolerance = 0.001;

// One file (or a DynaML station and measurement pair) as its importer read it.
struct SurveySource {
    std::string name;  // the file, for messages
    SurveyNetwork network;
};

// The network of all `sources` (at least one), in their order. A site takes its coordinates from
// the first file that gives them; a later file may repeat them within kSamePositionTolerance, and
// a component held in either file is held. Sites placed by latitude and longitude on the
// ellipsoid are turned into Earth-centred X, Y, Z on their own file's ellipsoid, so that files
// with different ellipsoids still compare. Vectors keep their order and are brought to the
// covariance unit of the first file that has vectors. The title, ellipsoid and confidence level
// come from the first file that gives them. Throws SurveyError (without a place: the message
// names both files) when two files place a site apart or name different ellipsoids.
SurveyNetwork mergeSurveys(std::vector<SurveySource> sources);

}  // namespace torvek::front
