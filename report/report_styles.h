#pragma once
// The looks of the report. Every piece of report text is preceded by one of the named styles
// below; code and tests name them instead of spelling out their four numbers, so that a look is
// chosen by what the text is (a heading, an error line) and defined in this one place. The styles
// travel in the report stream, so a front end draws the report with them too: this header is the
// library torvek_report_styles, which report/ and front/documents/ link.
#include <cstdint>

namespace torvek {

/// Colour numbers of a style: indices into the sixteen-colour table that every style fragment
/// declares in its RTF header (rtf_fragments.cpp), named after their look.
namespace report_colour {
inline constexpr int kBlack = 0;
inline constexpr int kDarkRed = 1;
inline constexpr int kOlive = 2;
inline constexpr int kDarkBlue = 3;
inline constexpr int kPurple = 4;
inline constexpr int kGreen = 5;
inline constexpr int kGrey = 6;
inline constexpr int kSilver = 7;
inline constexpr int kRed = 8;
inline constexpr int kTeal = 9;
inline constexpr int kYellow = 10;
inline constexpr int kBlue = 11;
inline constexpr int kMagenta = 12;
inline constexpr int kLime = 13;
inline constexpr int kWhite = 14;
inline constexpr int kCyan = 15;
inline constexpr int kCount = 16;

/// The colour table of the RTF header as 0xRRGGBB, by colour number; front ends that draw the
/// report themselves use it so that a colour number looks the same everywhere.
inline constexpr std::uint32_t kRgb[kCount] = {
    0x000000, 0x800000, 0x808000, 0x000080, 0x800080, 0x008000, 0x808080, 0xc0c0c0,
    0xff0000, 0x008080, 0xffff00, 0x0000ff, 0xff00ff, 0x00ff00, 0xffffff, 0x00ffff};
}  // namespace report_colour

/// Attribute codes of a style; any other value gives plain text.
namespace report_attribute {
inline constexpr int kNone = 0;
inline constexpr int kBold = 1;
inline constexpr int kItalic = 2;
inline constexpr int kUnderline = 3;
}  // namespace report_attribute

/// The look of the report text that follows a style fragment.
struct ReportStyle {
    int size = 9;  // points; the fragment carries twice this as half-points
    int colour = report_colour::kDarkBlue;    // report_colour number, 0..15
    int attribute = report_attribute::kNone;  // report_attribute code
    int tabs = 0;                             // leading tabs, 0..64 (more are cut to 64)

    bool operator==(const ReportStyle&) const = default;
};

/// The styles the report uses, by what they are used for.
namespace style {
/// Ordinary report text: 9-point dark blue.
inline constexpr ReportStyle kBody{9, report_colour::kDarkBlue, report_attribute::kNone, 0};
/// Section and line headings.
inline constexpr ReportStyle kHeading{9, report_colour::kDarkBlue, report_attribute::kBold, 0};
/// Indented lines and table rows.
inline constexpr ReportStyle kIndented{9, report_colour::kDarkBlue, report_attribute::kNone, 1};
/// Lines indented under an indented line.
inline constexpr ReportStyle kDoublyIndented{9, report_colour::kDarkBlue, report_attribute::kNone,
                                             2};
/// Sub-headings within a section.
inline constexpr ReportStyle kSubheading{9, report_colour::kDarkBlue, report_attribute::kItalic, 1};
/// Error lines ("Error: ...").
inline constexpr ReportStyle kError{9, report_colour::kDarkRed, report_attribute::kNone, 0};
/// An error that ends the run before any adjustment, as a heading.
inline constexpr ReportStyle kErrorHeading{9, report_colour::kDarkRed, report_attribute::kBold, 0};
/// The word for a passed test, after its indented label.
inline constexpr ReportStyle kPassed{9, report_colour::kGreen, report_attribute::kNone, 1};
/// The word for a failed test, after its indented label.
inline constexpr ReportStyle kFailed{9, report_colour::kRed, report_attribute::kNone, 1};
/// The line that says the user aborted the run: larger than the body, dark red.
inline constexpr ReportStyle kAbortNotice{10, report_colour::kDarkRed, report_attribute::kNone, 0};
/// A residual that the tau test flags as an outlier, in the rigorous model's lines.
inline constexpr ReportStyle kOutlier{9, report_colour::kRed, report_attribute::kNone, 2};
/// The black look left in force when the report is closed.
inline constexpr ReportStyle kClosed{9, report_colour::kBlack, report_attribute::kNone, 0};
}  // namespace style

}  // namespace torvek
