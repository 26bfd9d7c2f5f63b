#pragma once

#include <string>

#include "front/documents/results_document.h"
#include "front/results/network_results.h"

namespace torvek::front {

// The results summary printed after a run: whether the adjustment succeeded, the statistics and
// the chi-square test with a reading of its outcome, adjusted coordinates with their standard
// deviations (in millimetres), grid coordinates when the view has them, the vectors whose
// normalized residuals exceed the tau critical value (largest first, with their signs) and the
// vectors left out with their misfits. Plain text, lines ended by line feeds.
std::string formatResultsSummary(const ResultsView& view);

// The same without grid coordinates.
std::string formatResultsSummary(const NetworkResults& results);

// `text` broken into lines of at most `width` characters (words longer than that stand alone),
// each led by `indent` and ended by a line feed.
std::string wrapText(const std::string& text, const std::string& indent, std::size_t width);

}  // namespace torvek::front
