#pragma once

#include <string>

#include "front/documents/report_document.h"
#include "front/documents/results_document.h"

namespace torvek::front {

// The RTF document of a run, for a client: A4 pages with the title and page number in their
// header; first the title, the document header (project, client, surveyor, datum, epoch,
// software) and `notes` (how the run ended, when that needs saying; may be empty); then the
// program's report as renderRtfDocument's caller hands it (see showHeldParameters); then every
// results table after its heading and introduction, with its notes. The sections run on from
// page to page; a heading stays on the page of what it introduces, and a table without rows
// shows only its note. Tables too wide for the page are set in a smaller font and their columns
// narrowed until they fit; their heading rows repeat on every page.
std::string renderRtfDocument(const ResultsDocument& document, const ReportDocument& report,
                              const std::string& notes);

}  // namespace torvek::front
