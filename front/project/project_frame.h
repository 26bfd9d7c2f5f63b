#pragma once
// The frame the project's coordinates are in, and their epoch: settings.frame and settings.epoch.

#include <optional>
#include <string>

#include "front/project/project_json.h"

namespace torvek::front {

// The decimal years taken as an epoch of coordinates: older ones predate any geodetic frame, later
// ones are typing errors.
inline constexpr double kEarliestEpoch = 1900.0;
inline constexpr double kLatestEpoch = 2200.0;

struct ProjectFrame {
    std::string crs;              // settings.frame as written ("EPSG:7912"); empty: not given
    std::optional<double> epoch;  // settings.epoch, a decimal year; none: not given
};

// The frame a project document names; fields it lacks, or of the wrong type, stay empty (the
// import has refused such a project before).
ProjectFrame projectFrame(const Json& project);

}  // namespace torvek::front
