#include "front/html_page.h"

#include <cmath>
#include <cstdio>

#include "front/network_plot.h"
#include "front/report_rendering.h"
#include "front/text_format.h"

namespace torvek::front {
namespace {

std::string cell(const std::string& text, const char* cls = nullptr) {
    return cls ? "<td class=\"" + std::string(cls) + "\">" + text + "</td>"
               : "<td>" + text + "</td>";
}

std::string pageStyle() {
    return "body{font-family:Helvetica,Arial,sans-serif;margin:1.5em;color:#222;"
           "background:#f7f7f5}\nh1{font-size:1.5em}h2{font-size:1.2em;margin-top:1.6em}\n"
           "table{border-collapse:collapse;background:#fff;font-size:0.9em}\n"
           "th,td{border:1px solid #ccc;padding:0.2em 0.6em}th{background:#eef}\n"
           "td.num{text-align:right;font-family:'Courier New',monospace;white-space:nowrap}\n"
           "tr.flagged td{background:#fde2e2;color:#a00}\n.passed{color:#080;font-weight:bold}\n"
           ".failed{color:#c00;font-weight:bold}\n.notes{background:#fff3cd;border:1px solid "
           "#e0c36a;padding:0.6em;white-space:pre-wrap}\n.plot{background:#fff;border:1px solid "
           "#ccc;display:inline-block}\n" +
           reportStyleSheet();
}

std::string statisticsSection(const NetworkResults& r) {
    std::string out =
        "<h2 id=\"statistics\">Outcome and statistics</h2>\n<table class=\"statistics\">\n";
    auto row = [&](const std::string& name, const std::string& value) {
        out += "<tr><th>" + name + "</th>" + cell(value, "num") + "</tr>\n";
    };
    row("Adjustment", r.succeeded ? "succeeded" : "did not succeed");
    if (r.succeeded) {
        row("Type", r.minimallyConstrained ? "minimally constrained" : "over constrained");
        row("Iterations", std::to_string(r.iterations));
        row("Observations", std::to_string(r.observations));
        row("Unknowns", std::to_string(r.unknowns));
        row("Degrees of freedom", std::to_string(r.degreesOfFreedom));
        row("Confidence level", formatText("%.1f %%", r.confidenceLevel));
        row("Chi-square test", r.chiSquarePassed() ? "<span class=\"passed\">passed</span>"
                                                   : "<span class=\"failed\">failed</span>");
        row("Chi-square", formatText("%.3f", r.chiSquare));
        row("Limits", formatText("%.3f to %.3f", r.chiSquareLower, r.chiSquareUpper));
        row("Standard error of unit weight", formatText("%.3f", r.unitWeightStandardError));
        row("Tau critical value", formatText("%.3f", r.tauCriticalValue));
        row("Vectors above tau", std::to_string(r.flaggedCount()));
    }
    out += "</table>\n";
    return out;
}

std::string sitesSection(const NetworkResults& r) {
    std::string out =
        "<h2 id=\"coordinates\">Adjusted coordinates</h2>\n<table "
        "class=\"sites\">\n<tr><th>Site</th>"
        "<th>Latitude</th><th>Longitude</th><th>Latitude (deg)</th><th>Longitude (deg)</th>"
        "<th>Elevation (m)</th><th>sN (mm)</th><th>sE (mm)</th><th>sU (mm)</th>"
        "<th>Control</th></tr>\n";
    for (const SiteResult& s : r.sites) {
        const std::string control = controlDescription(s);
        out += "<tr>" + cell(escapeHtml(s.name));
        if (!s.adjusted) {
            out += "<td colspan=\"8\">not adjusted</td>" + cell(control) + "</tr>\n";
            continue;
        }
        out += cell(formatSexagesimal(s.adjustedLatitude, "NS", 5), "num") +
               cell(formatSexagesimal(s.adjustedLongitude, "EW", 5), "num") +
               cell(formatText("%.9f", s.adjustedLatitude), "num") +
               cell(formatText("%.9f", s.adjustedLongitude), "num") +
               cell(formatText("%.4f", s.adjustedElevation), "num") +
               cell(formatText("%.1f", s.sigmaNorth * kMillimetresPerMetre), "num") +
               cell(formatText("%.1f", s.sigmaEast * kMillimetresPerMetre), "num") +
               cell(formatText("%.1f", s.sigmaUp * kMillimetresPerMetre), "num") + cell(control) +
               "</tr>\n";
    }
    out += "</table>\n";
    return out;
}

std::string vectorsSection(const NetworkResults& r) {
    std::string out = formatText(
        "<h2 id=\"vectors\">Vectors</h2>\n<p>Normalized residuals are the residuals divided by "
        "their a-priori standard deviations; rows above the tau critical value %.3f are "
        "marked.</p>\n",
        r.tauCriticalValue);
    out +=
        "<table class=\"vectors\">\n<tr><th>From</th><th>To</th><th>Record</th><th>Length (m)</th>"
        "<th>vN (mm)</th><th>vE (mm)</th><th>vU (mm)</th><th>wN</th><th>wE</th><th>wU</th>"
        "<th></th></tr>\n";
    for (const VectorResult& v : r.vectors) {
        out += v.flagged ? "<tr class=\"flagged\">" : "<tr>";
        out += cell(escapeHtml(v.from)) + cell(escapeHtml(v.to)) +
               cell(std::to_string(v.record), "num") + cell(formatText("%.3f", v.length), "num");
        if (!v.adjusted) {
            out += "<td colspan=\"6\">not adjusted</td><td></td></tr>\n";
            continue;
        }
        for (double residual : v.residual) {
            out += cell(formatText("%.1f", residual * kMillimetresPerMetre), "num");
        }
        for (double w : v.normalized) {
            out += cell(formatText("%.2f", w), "num");
        }
        out += cell(v.flagged ? "above tau" : "") + "</tr>\n";
    }
    out += "</table>\n";
    return out;
}

}  // namespace

std::string renderHtmlPage(const std::string& title, const ReportDocument& report,
                           const NetworkResults& results, const std::string& notes) {
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n<title>" +
        escapeHtml(title) + "</title>\n<style>\n" + pageStyle() +
        "</style>\n</head>\n<body>\n<h1>" + escapeHtml(title) + "</h1>\n";
    if (!results.title.empty()) {
        out += "<p class=\"project-title\">" + escapeHtml(results.title) + "</p>\n";
    }
    out +=
        "<p><a href=\"#statistics\">Statistics</a> &middot; <a href=\"#plot\">Network plot</a> "
        "&middot; <a href=\"#coordinates\">Coordinates</a> &middot; <a href=\"#vectors\">Vectors"
        "</a> &middot; <a href=\"#report\">Report</a></p>\n";
    if (!notes.empty()) {
        out += "<div class=\"notes\">" + escapeHtml(notes) + "</div>\n";
    }
    out += statisticsSection(results);
    out += "<h2 id=\"plot\">Network plot</h2>\n<div class=\"plot\">\n" + renderNetworkSvg(results) +
           "</div>\n";
    out += sitesSection(results);
    out += vectorsSection(results);
    out += "<h2 id=\"report\">Report</h2>\n" + renderReportHtml(report);
    out += "</body>\n</html>\n";
    return out;
}

}  // namespace torvek::front
