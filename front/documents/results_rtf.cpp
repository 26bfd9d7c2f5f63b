#include "front/documents/results_rtf.h"

#include <algorithm>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "front/documents/report_rendering.h"
#include "report/report_styles.h"

namespace torvek::front {
namespace {

// Tables of more rows than this have no rules between their rows.
constexpr std::size_t kLongestRuledTable = 1000;
// A4 in twips (1/1440 inch): 210 mm x 297 mm, with 2 cm margins at the sides and 1.5 cm at the
// top and bottom (the page header sits within the top one).
constexpr int kPageWidth = 11906;
constexpr int kPageHeight = 16838;
constexpr int kMargin = 1134;
constexpr int kTopBottomMargin = 851;
constexpr int kHeaderDistance = 425;  // 7.5 mm from the top edge to the page header
constexpr int kTextWidth = kPageWidth - 2 * kMargin;
// Half of the space between the text of two neighbouring cells.
constexpr int kCellGap = 60;
// Font sizes in half-points: title, headings, body text, tables (smaller for wide ones).
constexpr int kTitleSize = 32;
constexpr int kHeadingSize = 22;
constexpr int kBodySize = 18;
constexpr int kTableSize = 16;
constexpr int kWideTableSize = 14;
constexpr int kHairlineSize = 2;
// The program sizes its report for a window (10 points for its text); on an A4 page its lines
// take 0.75 of that, about the 8 points of the tables, and no size goes below 6 points.
constexpr double kReportScale = 0.75;
constexpr int kSmallestReportSize = 12;
constexpr int kTwipsPerHalfPoint = 10;
// Room a cell needs beyond its text, in twips: the gaps on both sides and a little for rounding.
constexpr int kCellPadding = 2 * kCellGap + 40;

// Colours after the report's sixteen, numbered from report_colour::kCount on.
enum ExtraColour { kHeadingFill, kFlaggedFill, kFlaggedText, kMutedText, kRuleColour };
const std::vector<std::uint32_t> kExtraColours = {0xeeeeff, 0xfde2e2, 0xaa0000, 0x777777, 0xbbbbbb};

int colourNumber(ExtraColour colour) {
    return report_colour::kCount + static_cast<int>(colour);
}

std::string font(int halfPoints) {
    return "\\plain\\f4\\fs" + std::to_string(halfPoints);
}

void paragraph(std::string& out, const std::string& text, int halfPoints,
               const std::string& extra = "") {
    out += "\\pard\\sa80" + font(halfPoints) + extra + " " + rtfText(text) + "\\par\n";
}

// A section heading: space above it (10 points) and below (4 points), kept on the page of what
// follows it.
void heading(std::string& out, const std::string& text) {
    out += "\\pard\\sb200\\sa80\\keepn" + font(kHeadingSize) + "\\b " + rtfText(text) + "\\par\n";
}

// The advance of a character of Arial (Helvetica's metrics) in em, by kind: capitals are wide,
// digits take 0.556, most lower-case letters about 0.5, blanks and marks little.
double advance(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c == 'I' ? 0.28 : (c == 'M' || c == 'W') ? 0.94 : 0.72;
    }
    if (c >= '0' && c <= '9') {
        return 0.556;
    }
    if (c >= 'a' && c <= 'z') {
        return (c == 'i' || c == 'l' || c == 'j') ? 0.23 : (c == 'm' || c == 'w') ? 0.83 : 0.53;
    }
    return c == ' ' || c == '.' || c == ',' || c == ':' ? 0.28 : 0.4;
}

// Twips the text takes at `halfPoints` in bold (a little wider than regular, enough for both).
int textTwips(const std::string& text, int halfPoints) {
    double ems = 0.0;
    for (char c : text) {
        ems += advance(c);
    }
    constexpr double kBoldWidening = 1.08;
    return static_cast<int>(ems * kBoldWidening * halfPoints * kTwipsPerHalfPoint) + kCellPadding;
}

// The widest word of a text: a cell may wrap between words, never within one.
int widestWord(const std::string& text, int halfPoints) {
    int widest = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        widest = std::max(widest, textTwips(text.substr(start, end - start), halfPoints));
        start = end + 1;
    }
    return widest;
}

// Widths of the columns (twips): `natural` holds every cell on one line (headings may wrap),
// `least` only the widest word of each cell. Cells that span the rest of their row do not count.
struct ColumnWidths {
    std::vector<int> natural, least;
};

ColumnWidths columnWidths(const ResultTable& table, int halfPoints) {
    ColumnWidths w;
    for (const TableColumn& column : table.columns) {
        w.natural.push_back(widestWord(column.heading, halfPoints));
        w.least.push_back(w.natural.back());
    }
    for (const TableRow& row : table.rows) {
        const bool spans = row.cells.size() < table.columns.size();
        for (std::size_t i = 0; i < row.cells.size() && i < w.natural.size(); ++i) {
            if (spans && i + 1 == row.cells.size()) {
                break;
            }
            w.natural[i] = std::max(w.natural[i], textTwips(row.cells[i], halfPoints));
            w.least[i] = std::max(w.least[i], widestWord(row.cells[i], halfPoints));
        }
    }
    return w;
}

int sum(const std::vector<int>& values) {
    int total = 0;
    for (int v : values) {
        total += v;
    }
    return total;
}

// The row definition of a row of `cellCount` cells (\trowd, each cell's shading, rules and right
// edge), which every row of the table with that style and count shares.
std::string rowDefinition(std::size_t cellCount, const std::vector<int>& widths,
                          const ResultTable& table, bool heading, RowStyle style) {
    std::string out = "\\trowd\\trgaph" + std::to_string(kCellGap) + "\\trleft0";
    if (heading) {
        out += "\\trhdr";
    }
    const std::string rule = "\\brdrs\\brdrw5\\brdrcf" + std::to_string(colourNumber(kRuleColour));
    // Rules between the rows only, as tables in print have them; the heading is boxed. A table of
    // thousands of rows goes without them, a third of its size.
    const bool ruled = heading || table.rows.size() <= kLongestRuledTable;
    int edge = 0;
    for (std::size_t i = 0; i < cellCount; ++i) {
        edge = i + 1 == cellCount ? sum(widths) : edge + widths[i];
        if (heading) {
            out += "\\clcbpat" + std::to_string(colourNumber(kHeadingFill));
        } else if (style == RowStyle::kFlagged) {
            out += "\\clcbpat" + std::to_string(colourNumber(kFlaggedFill));
        }
        if (heading) {
            out += "\\clbrdrt" + rule;
        }
        if (ruled) {
            out += "\\clbrdrb" + rule;
        }
        out += "\\cellx" + std::to_string(edge);
    }
    return out + "\n";
}

// What opens a cell of a row with this style: paragraph, alignment, size and emphasis.
std::string cellOpening(bool rightAligned, int halfPoints, bool heading, RowStyle style) {
    std::string out =
        std::string("\\pard\\intbl") + (rightAligned ? "\\qr" : "\\ql") + font(halfPoints);
    if (heading) {
        out += "\\b";
    } else if (style == RowStyle::kFlagged) {
        out += "\\cf" + std::to_string(colourNumber(kFlaggedText));
    } else if (style == RowStyle::kMuted) {
        out += "\\cf" + std::to_string(colourNumber(kMutedText));
    } else if (style == RowStyle::kFailed) {
        out += "\\b\\cf" + std::to_string(colourNumber(kFlaggedText));
    } else if (style == RowStyle::kPassed) {
        out += "\\b\\cf" + std::to_string(report_colour::kGreen);
    }
    return out + " ";
}

// Writes the rows of one table. The row definitions and cell openings are the same for every row
// of a style, so each is made once (a large network's tables have thousands of rows).
class TableRows {
  public:
    TableRows(const ResultTable& table, const std::vector<int>& widths, int halfPoints)
        : table_(table), widths_(widths), halfPoints_(halfPoints) {}

    void write(std::string& out, const std::vector<std::string>& cells, bool heading,
               RowStyle style) {
        const Shape shape{cells.size(), heading, style};
        auto known = definitions_.find(shape);
        if (known == definitions_.end()) {
            known =
                definitions_
                    .emplace(shape, rowDefinition(cells.size(), widths_, table_, heading, style))
                    .first;
        }
        out += known->second;
        // A table of thousands of rows states its cells' formatting once a row: a cell's paragraph
        // and characters keep those of the one before (only \\pard and \\plain reset them), so the
        // later cells say only a change of alignment. That is a third of such a table's size.
        const bool compact = !heading && table_.rows.size() > kLongestRuledTable;
        bool wasRight = false;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const bool spanning = i + 1 == cells.size() && cells.size() < table_.columns.size();
            const bool rightAligned =
                !heading && !spanning && table_.columns[i].alignment == CellAlignment::kRight;
            if (compact && i > 0) {
                out += rightAligned == wasRight ? "" : rightAligned ? "\\qr " : "\\ql ";
            } else {
                out += opening(rightAligned, heading, style);
            }
            wasRight = rightAligned;
            out += rtfText(cells[i]);
            out += "\\cell\n";
        }
        out += "\\row\n";
    }

  private:
    using Shape = std::tuple<std::size_t, bool, RowStyle>;
    const std::string& opening(bool rightAligned, bool heading, RowStyle style) {
        const std::tuple<bool, bool, RowStyle> key{rightAligned, heading, style};
        auto known = openings_.find(key);
        if (known == openings_.end()) {
            known = openings_.emplace(key, cellOpening(rightAligned, halfPoints_, heading, style))
                        .first;
        }
        return known->second;
    }

    const ResultTable& table_;
    const std::vector<int>& widths_;
    int halfPoints_;
    std::map<Shape, std::string> definitions_;
    std::map<std::tuple<bool, bool, RowStyle>, std::string> openings_;
};

// Widths that fit the page: the natural ones when they do; otherwise each column gives up room
// in proportion to what it has beyond its widest word, so that cells wrap between words.
std::vector<int> fittedWidths(const ColumnWidths& w) {
    std::vector<int> widths = w.natural;
    const int excess = sum(w.natural) - kTextWidth;
    const int slack = sum(w.natural) - sum(w.least);
    if (excess <= 0 || slack <= 0) {
        return widths;
    }
    const double share = std::min(1.0, double(excess) / slack);
    for (std::size_t i = 0; i < widths.size(); ++i) {
        widths[i] -= static_cast<int>(share * (w.natural[i] - w.least[i]) + 0.5);
    }
    return widths;
}

void table(std::string& out, const ResultTable& t) {
    int halfPoints = kTableSize;
    ColumnWidths natural = columnWidths(t, halfPoints);
    if (sum(natural.natural) > kTextWidth) {
        halfPoints = kWideTableSize;
        natural = columnWidths(t, halfPoints);
    }
    const std::vector<int> widths = fittedWidths(natural);
    std::vector<std::string> headings;
    for (const TableColumn& column : t.columns) {
        headings.push_back(column.heading);
    }
    TableRows rows(t, widths, halfPoints);
    rows.write(out, headings, true, RowStyle::kNormal);
    for (const TableRow& row : t.rows) {
        if (!row.cells.empty()) {
            rows.write(out, row.cells, false, row.style);
        }
    }
    // A table ends with a paragraph outside it: a hairline one, the heading that follows brings
    // its own space.
    out += "\\pard\\sa0" + font(kHairlineSize) + "\\par\n";
}

void headerTable(std::string& out, const ResultsDocument& d) {
    ResultTable t;
    t.columns = {{"", CellAlignment::kLeft}, {"", CellAlignment::kLeft}};
    const int labelWidth = kTextWidth / 5;
    const std::vector<int> widths = {labelWidth, kTextWidth - labelWidth};
    for (std::size_t i = 0; i < d.header.size(); ++i) {
        const auto& [label, value] = d.header[i];
        if (i > 0 && value == kNotStated) {
            continue;  // the page lists what the project gives, and whether it has a name
        }
        out += "\\trowd\\trgaph" + std::to_string(kCellGap) + "\\trleft0\\cellx" +
               std::to_string(widths[0]) + "\\cellx" + std::to_string(kTextWidth) + "\n";
        out += "\\pard\\intbl\\ql" + font(kBodySize) + "\\b " + rtfText(label) + "\\cell\n";
        out += "\\pard\\intbl\\ql" + font(kBodySize) + " " + rtfText(value) + "\\cell\n\\row\n";
    }
    out += "\\pard\\sa0" + font(kHairlineSize) + "\\par\n";
}

// The report for paper: every run of blank lines shortened to one, since the program spaces its
// sections for a window and a page needs only their separation, and its type set at
// kReportScale of the program's sizes, at the size of the tables' text.
ReportDocument compactReport(const ReportDocument& report) {
    ReportDocument compact = report;
    std::vector<ReportLine>& lines = compact.editableLines();
    for (ReportLine& line : lines) {
        for (TextRun& run : line.runs) {
            run.format.halfPoints = std::max(
                kSmallestReportSize, static_cast<int>(run.format.halfPoints * kReportScale + 0.5));
        }
    }
    const auto blank = [](const ReportLine& line) {
        return line.plainText().find_first_not_of(" \t") == std::string::npos;
    };
    const auto end =
        std::unique(lines.begin(), lines.end(),
                    [&](const ReportLine& a, const ReportLine& b) { return blank(a) && blank(b); });
    lines.erase(end, lines.end());
    return compact;
}

}  // namespace

std::string renderRtfDocument(const ResultsDocument& d, const ReportDocument& report,
                              const std::string& notes) {
    std::string out = rtfHeader(kExtraColours);
    out += "\\paperw" + std::to_string(kPageWidth) + "\\paperh" + std::to_string(kPageHeight) +
           "\\margl" + std::to_string(kMargin) + "\\margr" + std::to_string(kMargin) + "\\margt" +
           std::to_string(kTopBottomMargin) + "\\margb" + std::to_string(kTopBottomMargin) +
           "\\headery" + std::to_string(kHeaderDistance) + "\n";
    out += "{\\header\\pard\\qr" + font(kWideTableSize) + "\\cf" +
           std::to_string(colourNumber(kMutedText)) + " " + rtfText(d.title) +
           " - page \\chpgn\\par}\n";
    paragraph(out, d.title, kTitleSize, "\\b");
    headerTable(out, d);
    if (!notes.empty()) {
        std::size_t start = 0;
        while (start < notes.size()) {
            const std::size_t end = std::min(notes.find('\n', start), notes.size());
            paragraph(out, notes.substr(start, end - start), kBodySize,
                      "\\cf" + std::to_string(colourNumber(kFlaggedText)));
            start = end + 1;
        }
    }
    // The sections follow one another on the page: a heading keeps with what it introduces, and
    // only a table's own length makes a new page.
    heading(out, "Report of the adjustment");
    appendRtfReportLines(out, compactReport(report));
    for (const ResultTable& t : d.tables) {
        heading(out, t.title);
        if (t.rows.empty()) {
            // A table without rows says so in its note alone: no empty frame, no introduction to
            // columns that hold nothing.
            for (const std::string& note : t.notes) {
                paragraph(out, note, kBodySize, "\\i");
            }
            continue;
        }
        if (!t.introduction.empty()) {
            out +=
                "\\pard\\sa60\\keepn" + font(kBodySize) + " " + rtfText(t.introduction) + "\\par\n";
        }
        table(out, t);
        for (const std::string& note : t.notes) {
            paragraph(out, note, kBodySize, "\\i");
        }
    }
    out += "}\n";
    return out;
}

}  // namespace torvek::front
