#pragma once

#include <string>

#include "front/documents/report_document.h"
#include "front/documents/results_document.h"
#include "front/results/network_results.h"

namespace torvek::front {

// One self-contained HTML page of a run, for a client: the title and the document header
// (project, client, surveyor, datum, epoch, outcome, software), `notes` about the run that the
// report itself cannot hold (how the child ended, for instance; shown when not empty), the
// program's report with its colours, then the results: statistics with a reading of the
// chi-square test, the network plot and the tables of buildResultsDocument. A print stylesheet
// sets it on A4 pages with every table on a page of its own.
std::string renderHtmlPage(const std::string& title, const ReportDocument& report,
                           const ResultsView& view, const std::string& notes);

// The same with the tables built already (buildResultsDocument(title, view)), which the RTF
// report shares.
std::string renderHtmlPage(const std::string& title, const ReportDocument& report,
                           const ResultsView& view, const ResultsDocument& tables,
                           const std::string& notes);

// The same for results alone: no document header fields, no grid coordinates.
std::string renderHtmlPage(const std::string& title, const ReportDocument& report,
                           const NetworkResults& results, const std::string& notes);

// One results table as an HTML <section> with its heading (id = the table's id), introduction,
// <table class="<id>"> and notes; flagged, muted, passed and failed rows carry those classes.
std::string renderHtmlTable(const ResultTable& table);

// The CSS of the page, the print rules included.
std::string htmlPageStyle();

}  // namespace torvek::front
