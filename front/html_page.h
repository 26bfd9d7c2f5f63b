#pragma once

#include <string>

#include "front/network_results.h"
#include "front/report_document.h"

namespace torvek::front {

// One self-contained HTML page of a run: the outcome and statistics, the network plot (SVG), the
// adjusted coordinates, the vectors with their normalized residuals (those above the tau critical
// value marked), and the program's report with its colours. `title` heads the page; `notes` are
// lines about the run that the report itself cannot hold (how the child ended, for instance),
// shown above everything when not empty.
std::string renderHtmlPage(const std::string& title, const ReportDocument& report,
                           const NetworkResults& results, const std::string& notes);

}  // namespace torvek::front
