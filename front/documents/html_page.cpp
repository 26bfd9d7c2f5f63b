#include "front/documents/html_page.h"

#include "front/documents/network_plot.h"
#include "front/documents/report_rendering.h"

namespace torvek::front {
namespace {

const char* rowClass(RowStyle style) {
    switch (style) {
        case RowStyle::kFlagged:
            return "flagged";
        case RowStyle::kMuted:
            return "muted";
        case RowStyle::kPassed:
            return "passed";
        case RowStyle::kFailed:
            return "failed";
        case RowStyle::kNormal:
            break;
    }
    return nullptr;
}

std::string headerBlock(const ResultsDocument& d) {
    std::string out = "<header class=\"document\">\n<h1>" + escapeHtml(d.title) +
                      "</h1>\n<table class=\"document-header\">\n";
    for (const auto& [label, value] : d.header) {
        out += "<tr><th>" + escapeHtml(label) + "</th><td>" + escapeHtml(value) + "</td></tr>\n";
    }
    return out + "</table>\n</header>\n";
}

std::string navigation(const ResultsDocument& d) {
    std::string out = "<nav><a href=\"#report\">Report</a>";
    for (const ResultTable& t : d.tables) {
        out += " &middot; <a href=\"#" + t.id + "\">" + escapeHtml(t.title) + "</a>";
        if (t.id == "statistics") {
            out += " &middot; <a href=\"#plot\">Network plot</a>";
        }
    }
    return out + "</nav>\n";
}

}  // namespace

std::string htmlPageStyle() {
    return "body{font-family:Helvetica,Arial,sans-serif;margin:1.5em;color:#222;"
           "background:#f7f7f5}\nh1{font-size:1.5em}h2{font-size:1.2em;margin-top:1.6em}\n"
           "table{border-collapse:collapse;background:#fff;font-size:0.9em}\n"
           "th,td{border:1px solid #ccc;padding:0.2em 0.6em}th{background:#eef}\n"
           "td.num{text-align:right;font-family:'Courier New',monospace;white-space:nowrap}\n"
           "td.span{font-style:italic}\n"
           "tr.flagged td{background:#fde2e2;color:#a00}\ntr.muted td{color:#777}\n"
           "tr.passed td{color:#080;font-weight:bold}\ntr.failed td{color:#c00;font-weight:bold}\n"
           "table.document-header th{text-align:left;background:#f3f3f8}\n"
           "p.reading{max-width:50em;font-style:italic}\n"
           ".notes{background:#fff3cd;border:1px solid #e0c36a;padding:0.6em;"
           "white-space:pre-wrap}\n.plot{background:#fff;border:1px solid #ccc;"
           "display:inline-block}\n"
           // On paper: A4, no page colour or navigation, the report and every results section
           // starting a page, heading rows repeated and rows kept whole.
           "@page{size:A4;margin:14mm}\n"
           "@media print{body{background:#fff;margin:0;font-size:9pt}nav{display:none}"
           "section.report-section,section.results{break-before:page;page-break-before:always}"
           "table{font-size:7pt}th,td{padding:0.1em 0.35em}thead{display:table-header-group}"
           "tr{break-inside:avoid;page-break-inside:avoid}.plot{border:none}"
           ".plot svg{width:100%;height:auto}.report{border:none;overflow:visible}"
           ".report .line{white-space:pre-wrap}}\n" +
           reportStyleSheet();
}

std::string renderHtmlTable(const ResultTable& t) {
    std::string out =
        "<section class=\"results\" id=\"" + t.id + "\">\n<h2>" + escapeHtml(t.title) + "</h2>\n";
    if (!t.introduction.empty()) {
        out += "<p>" + escapeHtml(t.introduction) + "</p>\n";
    }
    out += "<table class=\"" + t.id + "\">\n<thead><tr>";
    for (const TableColumn& column : t.columns) {
        out += "<th>" + escapeHtml(column.heading) + "</th>";
    }
    out += "</tr></thead>\n<tbody>\n";
    for (const TableRow& row : t.rows) {
        const char* cls = rowClass(row.style);
        out += cls != nullptr ? std::string("<tr class=\"") + cls + "\">" : std::string("<tr>");
        for (std::size_t i = 0; i < row.cells.size() && i < t.columns.size(); ++i) {
            const bool spanning = i + 1 == row.cells.size() && row.cells.size() < t.columns.size();
            if (spanning) {
                out +=
                    "<td class=\"span\" colspan=\"" + std::to_string(t.columns.size() - i) + "\">";
            } else {
                out +=
                    t.columns[i].alignment == CellAlignment::kRight ? "<td class=\"num\">" : "<td>";
            }
            out += escapeHtml(row.cells[i]) + "</td>";
        }
        out += "</tr>\n";
    }
    out += "</tbody>\n</table>\n";
    for (const std::string& note : t.notes) {
        out += "<p class=\"reading\">" + escapeHtml(note) + "</p>\n";
    }
    return out + "</section>\n";
}

std::string renderHtmlPage(const std::string& title, const ReportDocument& report,
                           const ResultsView& view, const std::string& notes) {
    return renderHtmlPage(title, report, view, buildResultsDocument(title, view), notes);
}

std::string renderHtmlPage(const std::string& title, const ReportDocument& report,
                           const ResultsView& view, const ResultsDocument& d,
                           const std::string& notes) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n<title>" +
        escapeHtml(title) + "</title>\n<style>\n" + htmlPageStyle() + "</style>\n</head>\n<body>\n";
    out += headerBlock(d);
    out += navigation(d);
    if (!notes.empty()) {
        out += "<div class=\"notes\">" + escapeHtml(notes) + "</div>\n";
    }
    out += "<section class=\"report-section\">\n<h2 id=\"report\">Report of the adjustment</h2>\n" +
           renderReportHtml(report) + "</section>\n";
    for (const ResultTable& t : d.tables) {
        out += renderHtmlTable(t);
        if (t.id == "statistics") {
            out +=
                "<section class=\"results\" id=\"plot\">\n<h2>Network plot</h2>\n<div "
                "class=\"plot\">\n" +
                renderNetworkSvg(view.results, view.plot) + "</div>\n</section>\n";
        }
    }
    out += "</body>\n</html>\n";
    return out;
}

std::string renderHtmlPage(const std::string& title, const ReportDocument& report,
                           const NetworkResults& results, const std::string& notes) {
    return renderHtmlPage(title, report, makeResultsView(results, DocumentHeader{}, nullptr),
                          notes);
}

}  // namespace torvek::front
