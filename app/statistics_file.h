#pragma once
#include <string>

#include "app/adjustment_job.h"

namespace torvek {

/// The rigorous model's statistics of a finished run as the JSON document of
/// docs/large-engine.md: metres, square metres and degrees; sites by their data set names,
/// vectors by their record numbers, every vector of the output data set (those not in use with
/// "inUse": false and null statistics).
std::string statisticsDocument(const AdjustmentJob& job);

/// Writes `text` to `path` through a temporary file in the same folder, renamed over it. False,
/// leaving no temporary behind, when a step fails.
bool writeFileAtomically(const char* path, const std::string& text);

}  // namespace torvek
