#pragma once

#include <string>

#include "front/network_results.h"

namespace torvek::front {

// The results summary printed after a run: whether the adjustment succeeded, the statistics and
// the chi-square test, adjusted coordinates with their standard deviations (in millimetres), and
// the vectors whose normalized residuals exceed the tau critical value. Plain text, lines ended by
// line feeds.
std::string formatResultsSummary(const NetworkResults& results);

}  // namespace torvek::front
