// The front end's report: rebuilding it from the program's pieces, and showing it on a terminal,
// as one RTF document and as HTML.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "front/documents/report_document.h"
#include "front/documents/report_rendering.h"
#include "front/documents/report_site_names.h"
#include "front/documents/results_rtf.h"
#include "link/messages.h"
#include "report/closing_report.h"
#include "report/rtf_fragments.h"
#include "support/in_process_front_end.h"

namespace torvek::front {
namespace {

constexpr std::uint32_t kRtf = 3;
constexpr std::uint32_t kPlain = 2;

TextFormat format(int halfPoints, int colour, bool bold = false, bool italic = false,
                  bool underline = false) {
    TextFormat f;
    f.halfPoints = halfPoints;
    f.colour = colour;
    f.bold = bold;
    f.italic = italic;
    f.underline = underline;
    return f;
}

// The report of a short run as the program sends it: a blank line, the banner, the date, a
// bold heading, a tabbed line, a green "passed" and an error line.
ReportDocument sampleReport() {
    ReportDocument d;
    d.addPiece(kPlain, "\n ");
    d.addPiece(kRtf, bannerFragment());
    d.addPiece(kRtf, styleFragment(style::kBody));
    d.addPiece(kPlain, "\n ");
    d.addPiece(kPlain, "Mon Dec 07 08:41:11 2026\n ");
    d.addPiece(kRtf, styleFragment(style::kHeading));
    d.addPiece(kPlain, "Adjustment Tests\n ");
    d.addPiece(kRtf, styleFragment(style::kIndented));
    d.addPiece(kPlain, "Chi-square test:  ");
    d.addPiece(kRtf, styleFragment(style::kPassed));
    d.addPiece(kPlain, "passed\n ");
    d.addPiece(kRtf, styleFragment(style::kError));
    d.addPiece(kPlain, "Error: path C:\\data\\{net}\n ");
    return d;
}

TEST(FrontReportDocument, PlainTextTakesTheLookOfThePrecedingStyle) {
    ReportDocument d;
    d.addPiece(kRtf, styleFragment(style::kHeading));
    d.addPiece(kPlain, "Adjustment Tests\n ");
    ASSERT_EQ(d.lines().size(), 2u);
    // The fragment's own blank and the text are one bold 9-point dark-blue run.
    ASSERT_EQ(d.lines()[0].runs.size(), 1u);
    EXPECT_EQ(d.lines()[0].runs[0].text, " Adjustment Tests");
    EXPECT_EQ(d.lines()[0].runs[0].format, format(18, report_colour::kDarkBlue, true));
    EXPECT_EQ(d.lines()[1].runs[0].text, " ");

    // Tabs of the fragment lead the line; two-digit colours are read whole.
    d.addPiece(kRtf, styleFragment({9, report_colour::kMagenta, report_attribute::kItalic, 2}));
    d.addPiece(kPlain, "x\n");
    const ReportLine& line = d.lines()[1];
    ASSERT_EQ(line.runs.size(), 2u);
    EXPECT_EQ(line.runs[1].text, "\t\t x");
    EXPECT_EQ(line.runs[1].format, format(18, report_colour::kMagenta, false, true));
    EXPECT_EQ(d.pieceCount(), 4u);
}

TEST(FrontReportDocument, BannerIsCentredAndTheFollowingTextIsNot) {
    const ReportDocument d = sampleReport();
    const auto& lines = d.lines();
    ASSERT_GE(lines.size(), 8u);
    EXPECT_FALSE(lines[0].centred);
    EXPECT_TRUE(lines[1].centred);
    EXPECT_EQ(lines[1].plainText(), " TORVEK - Brenlow Network Adjustment Package");
    EXPECT_EQ(lines[1].runs.back().format, format(20, report_colour::kDarkBlue, true, false, true));
    EXPECT_TRUE(lines[2].centred);
    EXPECT_EQ(lines[2].runs[0].format.halfPoints, 16);
    EXPECT_FALSE(lines[3].centred);
    EXPECT_NE(d.plainText().find("Mon Dec 07 08:41:11 2026"), std::string::npos);
    EXPECT_NE(d.plainText().find(" \t Chi-square test:  \t passed"), std::string::npos);
}

TEST(FrontReportDocument, RtfEscapesAndUnknownGroupsAreHandled) {
    ReportDocument d;
    d.addPiece(kRtf,
               "{\\rtf1{\\fonttbl{\\f0 Hidden;}}{\\*\\generator skipped}\\pard\\plain\\cf8 "
               "a\\\\b\\{c\\}d\\'e9\\u8364?\\tab e\\par f}");
    EXPECT_EQ(d.plainText(), "a\\b{c}d\xe9?\te\nf");
    EXPECT_EQ(d.lines()[0].runs[0].format.colour, 8);
    EXPECT_EQ(d.lines()[0].runs[0].format.halfPoints, 24);  // \plain: 12 points

    // Broken RTF neither crashes nor loses the document: unbalanced braces, a lone backslash,
    // absurd numbers.
    d.addPiece(kRtf, "}}}{{{\\fs99999999999\\cf-5 x\\");
    d.addPiece(kPlain, "y");
    EXPECT_NE(d.plainText().find("xy"), std::string::npos);
}

TEST(FrontReportDocument, APieceWithoutTheSelectionFlagReplacesTheText) {
    ReportDocument d;
    d.addPiece(kPlain, "old text\nmore");
    d.addPiece(0, "new");
    EXPECT_EQ(d.plainText(), "new");
    d.addPiece(1, "{\\rtf1 fresh}");
    EXPECT_EQ(d.plainText(), "fresh");
}

// Counts unescaped braces; false when a closing brace comes before its opening one.
bool balanced(const std::string& rtf, int& groups) {
    int depth = 0;
    groups = 0;
    for (std::size_t i = 0; i < rtf.size(); ++i) {
        if (rtf[i] == '\\') {
            ++i;  // the escaped character, whatever it is
            continue;
        }
        if (rtf[i] == '{') {
            ++depth;
            ++groups;
        } else if (rtf[i] == '}') {
            if (--depth < 0) {
                return false;
            }
        }
    }
    return depth == 0;
}

std::size_t occurrences(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

TEST(FrontReportRtf, OneWellFormedDocument) {
    const std::string rtf = renderRtf(sampleReport());
    int groups = 0;
    EXPECT_TRUE(balanced(rtf, groups));
    EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
    EXPECT_EQ(occurrences(rtf, "\\rtf1"), 1u);
    EXPECT_EQ(occurrences(rtf, "\\fonttbl"), 1u);
    EXPECT_EQ(occurrences(rtf, "\\colortbl"), 1u);
    EXPECT_EQ(rtf.substr(rtf.size() - 2), "}\n");
    // The document ends with the closing brace of its one outer group.
    EXPECT_EQ(rtf.find_last_of('}'), rtf.size() - 2);
    // The fragments' colour table is kept, so colour numbers mean the same.
    EXPECT_NE(rtf.find("\\red0\\green0\\blue128;"), std::string::npos);
    // Text escaped; styles applied.
    EXPECT_NE(rtf.find("Error: path C:\\\\data\\\\\\{net\\}"), std::string::npos) << rtf;
    EXPECT_NE(rtf.find("\\plain\\f2\\fs18\\cf3\\b  Adjustment Tests\\par"), std::string::npos);
    EXPECT_NE(rtf.find("\\plain\\f2\\fs18\\cf5 \\tab  passed\\par"), std::string::npos) << rtf;
    EXPECT_NE(rtf.find("\\pard\\qc"), std::string::npos);

    // Read back, the document gives the same text.
    ReportDocument again;
    again.addPiece(kRtf, rtf);
    EXPECT_EQ(again.plainText(), sampleReport().plainText() + "\n");
}

TEST(FrontReportRtf, CharactersBeyondAsciiAreUnicodeEscapes) {
    ReportDocument d;
    d.addPiece(kPlain,
               "Z\xc3\xbcrich \xe2\x82\xac \xf0\x9f\x98\x80 \xff");  // UTF-8, then a stray byte
    const std::string rtf = renderRtf(d);
    EXPECT_NE(rtf.find("Z\\u252?rich \\u8364? \\u-10179?\\u-8704? \\u255?"), std::string::npos)
        << rtf;
    for (unsigned char c : rtf) {
        EXPECT_LT(c, 0x80);
    }
}

TEST(FrontReportTerminal, ColoursOnlyWhenAsked) {
    const ReportDocument d = sampleReport();
    const std::string plain = renderTerminal(d, false, 80);
    EXPECT_EQ(plain.find('\x1b'), std::string::npos);
    EXPECT_NE(plain.find(" Adjustment Tests\n"), std::string::npos);
    // The centred title: (80 - 44) / 2 = 18 blanks before it.
    EXPECT_NE(plain.find("\n" + std::string(18, ' ') + " TORVEK"), std::string::npos) << plain;

    const std::string coloured = renderTerminal(d, true, 80);
    EXPECT_NE(coloured.find("\x1b[0;1m Adjustment Tests"), std::string::npos);  // bold, body colour
    EXPECT_NE(coloured.find("\x1b[0;32m\t passed"), std::string::npos);         // green
    EXPECT_NE(coloured.find("\x1b[0;31m Error:"), std::string::npos);           // dark red
    EXPECT_NE(coloured.find("\x1b[0;1;4m"), std::string::npos);                 // banner title
}

TEST(FrontReportTerminal, ControlCharactersCannotSteerTheTerminal) {
    ReportDocument d;
    d.addPiece(kPlain, "site \x1b]0;owned\x07 and \x1b[2J\tend\n");
    const std::string shown = renderTerminal(d, false, 80);
    EXPECT_EQ(shown, "site ?]0;owned? and ?[2J\tend\n");
}

TEST(FrontReportHtml, TextIsEscapedAndStyled) {
    ReportDocument d = sampleReport();
    d.addPiece(kPlain, "<script>alert('x')</script> & more\n");
    const std::string html = renderReportHtml(d);
    EXPECT_EQ(html.find("<script>"), std::string::npos);
    EXPECT_NE(html.find("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; more"),
              std::string::npos);
    EXPECT_NE(html.find("<div class=\"line centred\">"), std::string::npos);
    EXPECT_NE(html.find("<span class=\"c3 b\" style=\"font-size:9pt\"> Adjustment Tests</span>"),
              std::string::npos)
        << html;
    EXPECT_NE(html.find("<span class=\"c5\" style=\"font-size:9pt\">\t passed</span>"),
              std::string::npos);
    EXPECT_NE(reportStyleSheet().find(".report .c3{color:#000080}"), std::string::npos);
    EXPECT_EQ(escapeHtml("a\x01"
                         "b\xe9"),
              "ab\xc3\xa9");  // Latin-1 byte to UTF-8
}

}  // namespace
}  // namespace torvek::front

namespace torvek::front {
namespace {

TEST(FrontReportDocument, RandomPiecesNeverBreakTheRenderers) {
    std::mt19937 random(5);
    ReportDocument d;
    for (int i = 0; i < 300; ++i) {
        std::string piece(random() % 200, '\0');
        for (char& c : piece) {
            static const char pool[] = "{}\\'abcfsplainpardtabqcu0123456789 \n\t\x01\xff";
            c = pool[random() % (sizeof pool - 1)];
        }
        d.addPiece(random() % 4, piece);
    }
    const std::string rtf = renderRtf(d);
    int depth = 0;
    for (std::size_t i = 0; i < rtf.size(); ++i) {
        if (rtf[i] == '\\') {
            ++i;
        } else if (rtf[i] == '{') {
            ++depth;
        } else if (rtf[i] == '}') {
            ASSERT_GE(--depth, 0);
        }
    }
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(renderTerminal(d, true).find('\x01'), std::string::npos);
    const std::string html = renderReportHtml(d);
    EXPECT_EQ(html.find("\x01"), std::string::npos);
}

// The closing report as the program prints it, with every parameter held: the documents read
// "held at" and the value, zero without its sign; the adjusted rows and every other line stay.
TEST(FrontReportRtf, HeldParametersReadAsHeld) {
    torvek::testing::InProcessFrontEnd frontEnd;
    frontEnd.clearFrames();
    ClosingReport closing;
    closing.semiMajorAxis = 6378137.0;
    closing.reciprocalFlattening = 298.257223563;
    closing.geocentricRotations[0].value = -1e-9;  // prints as -0.000
    closing.geocentricRotations[1].value = 1.25;
    closing.minimallyConstrained = true;
    closing.aprioriScale = 2.5;
    printClosingReport(frontEnd.report(), closing);
    ReportDocument report;
    for (const torvek::testing::Frame& f : frontEnd.frames()) {
        if (f.message == link::Message::kReportPiece) {
            report.addPiece(f.dataWord, f.text);
        }
    }
    ASSERT_NE(report.plainText().find("-0.000    fixed"), std::string::npos);
    const std::string before = report.plainText();
    showHeldParameters(report);
    const std::string text = report.plainText();
    EXPECT_EQ(text.find("fixed"), std::string::npos) << text;
    EXPECT_EQ(text.find("-0.000"), std::string::npos) << text;
    EXPECT_NE(text.find("  X                      held at 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  Y                      held at 1.250\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Scale correction (ppm)   held at 2.500\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Reciprocal of flattening: 298.257223563"), std::string::npos);
    // A line that merely ends in "fixed" is not a parameter's.
    ReportDocument other;
    other.addPiece(kPlain, "Control sites held fixed\n  A    x.000    fixed\n");
    showHeldParameters(other);
    EXPECT_EQ(other.plainText(), "Control sites held fixed\n  A    x.000    fixed\n");
    EXPECT_NE(before, text);
}

// The RTF of a run: the project's title heads it, header fields the project leaves empty are
// left out, a table without rows shows its note but no frame, and nothing forces a new page.
TEST(FrontReportRtf, ResultsDocumentIsCompact) {
    ResultsDocument d;
    d.title = "Hillside control 2026";
    d.header = {{"Project", "Hillside control 2026"}, {"Client", kNotStated}, {"Datum", "ETRS89"}};
    ResultTable full;
    full.title = "Geodetic coordinates";
    full.columns = {leftColumn("Site"), rightColumn("h (m)")};
    full.rows = {{{"BM 2041-A", "1382.618"}, RowStyle::kNormal}};
    ResultTable empty;
    empty.title = "Vectors left out";
    empty.introduction = "Vectors that took no part in the adjustment.";
    empty.columns = {leftColumn("From"), leftColumn("To")};
    empty.notes = {"Every vector took part in the adjustment."};
    d.tables = {full, empty};
    const std::string rtf = renderRtfDocument(d, sampleReport(), "");
    int groups = 0;
    EXPECT_TRUE(balanced(rtf, groups));
    EXPECT_EQ(occurrences(rtf, "\\page"), 0u);
    EXPECT_EQ(occurrences(rtf, "Hillside control 2026"), 3u);  // page header, title, project
    EXPECT_EQ(occurrences(rtf, "not stated"), 0u);
    EXPECT_NE(rtf.find("ETRS89"), std::string::npos);
    // The header's two given rows, the table's heading and data row: none for the empty table.
    EXPECT_EQ(occurrences(rtf, "\\trowd"), 2u + 2u);
    const std::size_t left = rtf.find("Vectors left out");
    ASSERT_NE(left, std::string::npos);
    EXPECT_EQ(rtf.find("\\trowd", left), std::string::npos);
    EXPECT_EQ(rtf.find("took no part"), std::string::npos);
    EXPECT_NE(rtf.find("Every vector took part", left), std::string::npos);
}

}  // namespace
}  // namespace torvek::front

namespace torvek::front {
namespace {

// Plain printable text passes through as it is; every character with a meaning in HTML or XML is
// escaped, control bytes (but tab and line feed) are dropped and other bytes read as UTF-8 (or as
// Latin-1 where they are not), wherever they stand in the text.
TEST(FrontReportHtml, EscapingOfEveryKindOfCharacter) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"P001 12.5 mm (n=3) ~!", "P001 12.5 mm (n=3) ~!"},
        {"a&b", "a&amp;b"},
        {"<x>", "&lt;x&gt;"},
        {"say \"hi\"", "say &quot;hi&quot;"},
        {"it's", "it&#39;s"},
        {"tab\there\nnext", "tab\there\nnext"},
        {"bell\x07\x7f!", "bell!"},
        {"Z\xc3\xbcrich", "Z\xc3\xbcrich"},            // UTF-8 kept
        {"Z\xfcrich & co", "Z\xc3\xbcrich &amp; co"},  // Latin-1 byte to UTF-8
    };
    for (const auto& [text, escaped] : cases) {
        EXPECT_EQ(escapeHtml(text), escaped) << text;
    }
}

}  // namespace
}  // namespace torvek::front
