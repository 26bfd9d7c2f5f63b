#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "front/documents/report_document.h"

namespace torvek::front {

// The three ways the report is shown or kept. Each reproduces every character of the document;
// report text is taken as UTF-8, and bytes that are not UTF-8 are read as Latin-1 characters.

// For a terminal of `width` columns (centred lines are centred within it, tabs counted to the
// next multiple of 8). With `colours`, ANSI escape sequences give bold, italic, underline and the
// colours of the report; the report's ordinary dark blue and its black are left to the terminal's
// own foreground, since both vanish on a dark background. Control characters of the text other
// than tabs are shown as '?', so report text can never steer the terminal.
std::string renderTerminal(const ReportDocument& document, bool colours, int width = 80);

// One RTF document that a word processor opens: one header with the report's font table
// (Courier New as font 2, the report's font) and its sixteen-colour table (rtfHeader), then every
// line as a paragraph with its runs' size, colour and attributes; backslashes and braces are
// escaped, tabs become \tab and characters beyond ASCII \uN.
std::string renderRtf(const ReportDocument& document);

// The pieces of renderRtf, for documents that hold the report among other things:
// `text` with backslashes and braces escaped, tabs as \tab and characters beyond ASCII as \uN;
std::string rtfText(const std::string& text);
// the opening of an RTF document with the report's fonts (and Arial as font 4) and colours,
// followed by `extraColours` (0xRRGGBB, numbered from 16 on);
std::string rtfHeader(const std::vector<std::uint32_t>& extraColours);
// every line of the report as a paragraph.
void appendRtfReportLines(std::string& out, const ReportDocument& document);

// The report as an HTML fragment: a <div class="report"> with one <div> per line and a <span> per
// run, with the classes of reportStyleSheet() and the run's size. Text is escaped.
std::string renderReportHtml(const ReportDocument& document);

// The CSS rules that renderReportHtml's classes need.
std::string reportStyleSheet();

// `text` escaped for HTML element content and attribute values (&, <, >, " and '); bytes that are
// not UTF-8 become Latin-1 characters, control characters other than tab and line feed are
// dropped.
std::string escapeHtml(const std::string& text);
// escapeHtml(text) appended to `out`.
void appendEscapedHtml(std::string& out, std::string_view text);

}  // namespace torvek::front
