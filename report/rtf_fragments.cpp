#include "report/rtf_fragments.h"

#include <cstdio>

namespace torvek {

const char* const kRtfHeader =
    "{\\rtf1\\ansi\\deff0\\deftab720{\\fonttbl{\\f0\\fnil MS Sans Serif;}{\\f1\\froman\\fcharset2 "
    "Symbol;}{\\f2\\fmodern Courier New;}{\\f3\\froman Times New Roman;}}{\\colortbl\\red0\\green0"
    "\\blue0;\\red128\\green0\\blue0;\\red128\\green128\\blue0;\\red0\\green0\\blue128;\\red128"
    "\\green0\\blue128;\\red0\\green128\\blue0;\\red128\\green128\\blue128;\\red192\\green192"
    "\\blue192;\\red255\\green0\\blue0;\\red0\\green128\\blue128;\\red255\\green255\\blue0;\\red0"
    "\\green0\\blue255;\\red255\\green0\\blue255;\\red0\\green255\\blue0;\\red255\\green255"
    "\\blue255;\\red0\\green255\\blue255;}\\deflang1033";

namespace {

// The paragraph of a style fragment: size in half-points, colour, attribute code, tab string.
constexpr const char* kStyleTemplate =
    "\\pard\\plain\\f2\\fs%1d\\cf%1d%s %s \\plain\\f2\\fs20\\cf0 }";

const char* attributeCode(int attribute) {
    switch (attribute) {
        case report_attribute::kBold:
            return "\\b";
        case report_attribute::kItalic:
            return "\\i";
        case report_attribute::kUnderline:
            return "\\ul";
        default:
            return "";
    }
}

// Leading tabs beyond any sensible indent are cut, so a fragment stays within its paragraph buffer.
constexpr int kMostTabs = 64;

// The second banner line; its wording is ours.
constexpr const char* kBannerSubtitle = "Least-squares adjustment of GPS baseline vectors";

}  // namespace

std::string styleFragment(const ReportStyle& look) {
    std::string tabText;
    // A tab count beyond any sensible indent is cut, so a bad caller cannot grow the fragment.
    for (int i = 0; i < look.tabs && i < kMostTabs; ++i)
        tabText += "\\tab ";
    char paragraph[512];
    std::snprintf(paragraph, sizeof paragraph, kStyleTemplate, 2 * look.size, look.colour,
                  attributeCode(look.attribute), tabText.c_str());
    return std::string(kRtfHeader) + paragraph;
}

std::string bannerFragment() {
    return std::string(kRtfHeader) +
           "\\pard\\qc\\plain\\f2\\fs20\\cf3\\b\\ul TORVEK - Brenlow Network Adjustment "
           "Package\\par "
           "\\plain\\f2\\fs16\\cf3 " +
           kBannerSubtitle + " \\par \\pard\\plain\\f2\\fs18\\cf3  \\plain\\f2\\fs16 \\par }";
}

}  // namespace torvek
