#pragma once
#include <string>

#include "report/report_styles.h"

namespace torvek {

/// The RTF header that opens the banner and every style fragment: four fonts (the report uses font
/// 2, a fixed-pitch font), a default tab of 720 twips, the sixteen-colour table whose index is the
/// colour number of a style, and language 1033. 528 characters.
extern const char* const kRtfHeader;

/// A style fragment: the RTF header and a paragraph that sets the size (points), colour,
/// attribute and leading tabs of `look`. It carries no text but the tabs and one blank, so the
/// plain text sent next continues in that look.
std::string styleFragment(const ReportStyle& look);

/// The banner that opens the report: a centred title, a centred line of small text, an empty line.
std::string bannerFragment();

}  // namespace torvek
