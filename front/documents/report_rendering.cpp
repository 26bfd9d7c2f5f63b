#include "front/documents/report_rendering.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "front/text/unicode_text.h"
#include "report/report_styles.h"

namespace torvek::front {
namespace {

constexpr int kTabWidth = 8;
// The ANSI foreground code that selects the terminal's own text colour.
constexpr int kAnsiDefault = 39;
// The report's body colour and black: left to the terminal's foreground.
constexpr int kBodyColour = report_colour::kDarkBlue;
constexpr int kBlack = report_colour::kBlack;

// Columns a line takes on the terminal, tabs advancing to the next multiple of kTabWidth.
int visibleWidth(const ReportLine& line) {
    int column = 0;
    for (const TextRun& run : line.runs) {
        for (char32_t code : decodeCharacters(run.text)) {
            column = code == '\t' ? (column / kTabWidth + 1) * kTabWidth : column + 1;
        }
    }
    return column;
}

// The ANSI foreground of a report colour: the nearest of the sixteen terminal colours.
int ansiForeground(int colour) {
    static const int kAnsi[report_colour::kCount] = {39, 31, 33, 39, 35, 32, 90, 37,
                                                     91, 36, 93, 94, 95, 92, 97, 96};
    return (colour >= 0 && colour < report_colour::kCount) ? kAnsi[colour] : kAnsiDefault;
}

std::string sgr(const TextFormat& format) {
    std::string code = "\x1b[0";
    if (format.bold) {
        code += ";1";
    }
    if (format.italic) {
        code += ";3";
    }
    if (format.underline) {
        code += ";4";
    }
    if (format.colour != kBodyColour && format.colour != kBlack) {
        code += ';';
        code += std::to_string(ansiForeground(format.colour));
    }
    return code + "m";
}

}  // namespace

void appendEscapedHtml(std::string& out, std::string_view text) {
    // Most texts (names, numbers) are printable ASCII without a character to escape: they stay as
    // they are, without decoding each character (a GIS file escapes a million of them).
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        return c >= ' ' && c <= '~' && c != '&' && c != '<' && c != '>' && c != '"' && c != '\'';
    });
    if (plain) {
        out += text;
        return;
    }
    for (char32_t code : decodeCharacters(std::string(text))) {
        switch (code) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                if (code == '\t' || code == '\n' || !isControlCharacter(code)) {
                    appendUtf8(out, code);
                }
        }
    }
}

std::string escapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    appendEscapedHtml(out, text);
    return out;
}

std::string renderTerminal(const ReportDocument& document, bool colours, int width) {
    std::string out;
    const std::vector<ReportLine>& lines = document.lines();
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const ReportLine& line = lines[n];
        // The last line is open: it ends without a line feed unless it holds text.
        if (n + 1 == lines.size() && line.runs.empty()) {
            break;
        }
        if (line.centred) {
            const int pad = (width - visibleWidth(line)) / 2;
            if (pad > 0) {
                out.append(static_cast<std::size_t>(pad), ' ');
            }
        }
        for (const TextRun& run : line.runs) {
            if (colours) {
                out += sgr(run.format);
            }
            for (char32_t code : decodeCharacters(run.text)) {
                if (code == '\t' || !isControlCharacter(code)) {
                    appendUtf8(out, code);
                } else {
                    out += '?';
                }
            }
        }
        if (colours && !line.runs.empty()) {
            out += "\x1b[0m";
        }
        out += '\n';
    }
    return out;
}

std::string rtfText(const std::string& text) {
    std::string out;
    for (char32_t code : decodeCharacters(text)) {
        if (code == '\\' || code == '{' || code == '}') {
            out += '\\';
            out += static_cast<char>(code);
        } else if (code == '\t') {
            out += "\\tab ";
        } else if (isControlCharacter(code)) {
            continue;
        } else if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x10000) {
            // \u takes a signed 16-bit number; '?' stands in for readers without Unicode.
            const int value = code > 0x7fff ? int(code) - 0x10000 : int(code);
            out += "\\u" + std::to_string(value) + "?";
        } else {
            const char32_t v = code - 0x10000;
            const int high = int(0xd800 + (v >> 10)) - 0x10000;
            const int low = int(0xdc00 + (v & 0x3ff)) - 0x10000;
            out += "\\u" + std::to_string(high) + "?\\u" + std::to_string(low) + "?";
        }
    }
    return out;
}

std::string rtfHeader(const std::vector<std::uint32_t>& extraColours) {
    // One header: the fonts and the colour table of the report's fragments, so that colour
    // numbers mean the same here as in the program's styles; the extra colours follow them.
    std::string out =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deftab720\\uc1"
        "{\\fonttbl{\\f0\\fnil MS Sans Serif;}{\\f1\\froman\\fcharset2 Symbol;}"
        "{\\f2\\fmodern Courier New;}{\\f3\\froman Times New Roman;}{\\f4\\fswiss Arial;}}\n"
        "{\\colortbl";
    std::vector<std::uint32_t> colours;
    for (int i = 0; i < report_colour::kCount; ++i) {
        colours.push_back(reportColour(i));
    }
    colours.insert(colours.end(), extraColours.begin(), extraColours.end());
    for (const std::uint32_t rgb : colours) {
        char entry[48];
        std::snprintf(entry, sizeof entry, "\\red%u\\green%u\\blue%u;", (rgb >> 16) & 0xffu,
                      (rgb >> 8) & 0xffu, rgb & 0xffu);
        out += entry;
    }
    out += "}\n\\deflang1033\n";
    return out;
}

void appendRtfReportLines(std::string& out, const ReportDocument& document) {
    const std::vector<ReportLine>& lines = document.lines();
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const ReportLine& line = lines[n];
        const bool last = n + 1 == lines.size();
        if (last && line.runs.empty()) {
            break;
        }
        out += line.centred ? "\\pard\\qc" : "\\pard";
        for (const TextRun& run : line.runs) {
            const TextFormat& f = run.format;
            out += "\\plain\\f2\\fs" + std::to_string(f.halfPoints) + "\\cf" +
                   std::to_string(f.colour);
            if (f.bold) {
                out += "\\b";
            }
            if (f.italic) {
                out += "\\i";
            }
            if (f.underline) {
                out += "\\ul";
            }
            out += ' ';
            out += rtfText(run.text);
        }
        out += "\\par\n";
    }
}

std::string renderRtf(const ReportDocument& document) {
    std::string out = rtfHeader({});
    appendRtfReportLines(out, document);
    out += "}\n";
    return out;
}

std::string reportStyleSheet() {
    std::string css =
        ".report{font-family:'Courier New',Courier,monospace;tab-size:8;-moz-tab-size:8;"
        "background:#fff;border:1px solid #ccc;padding:0.8em;overflow-x:auto}\n"
        // Only the lines keep their blanks: the line feeds between the line elements are markup.
        ".report .line{white-space:pre;min-height:1.15em}\n.report .centred{text-align:center}\n"
        ".report .b{font-weight:bold}\n.report .i{font-style:italic}\n"
        ".report .u{text-decoration:underline}\n";
    for (int i = 0; i < report_colour::kCount; ++i) {
        char rule[48];
        std::snprintf(rule, sizeof rule, ".report .c%d{color:#%06x}\n", i,
                      static_cast<unsigned>(reportColour(i)));
        css += rule;
    }
    return css;
}

std::string renderReportHtml(const ReportDocument& document) {
    std::string out = "<div class=\"report\">";
    const std::vector<ReportLine>& lines = document.lines();
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const ReportLine& line = lines[n];
        if (n + 1 == lines.size() && line.runs.empty()) {
            break;
        }
        out += line.centred ? "<div class=\"line centred\">" : "<div class=\"line\">";
        for (const TextRun& run : line.runs) {
            const TextFormat& f = run.format;
            std::string classes = "c";
            classes += std::to_string(f.colour);
            if (f.bold) {
                classes += " b";
            }
            if (f.italic) {
                classes += " i";
            }
            if (f.underline) {
                classes += " u";
            }
            char size[32];
            std::snprintf(size, sizeof size, "%g", f.halfPoints / 2.0);
            out += "<span class=\"" + classes + "\" style=\"font-size:" + size + "pt\">" +
                   escapeHtml(run.text) + "</span>";
        }
        out += "</div>\n";
    }
    out += "</div>\n";
    return out;
}

}  // namespace torvek::front
