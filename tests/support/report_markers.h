#pragma once
// How the tests write an expected styled report: RunResult::styledReport shows each style
// fragment as a marker "<size,colour,attribute,tabs>" followed by the plain text sent after it.
#include <string>

#include "report/report_styles.h"

namespace torvek::testing {

/// The marker that styledReport() writes for a fragment of `look`.
inline std::string marker(const ReportStyle& look) {
    std::string out = "<";
    out += std::to_string(look.size);
    out += ',';
    out += std::to_string(look.colour);
    out += ',';
    out += std::to_string(look.attribute);
    out += ',';
    out += std::to_string(look.tabs);
    out += '>';
    return out;
}

/// The marker of `look` followed by `text`: one styled stretch of an expected report.
inline std::string inStyle(const ReportStyle& look, const std::string& text) {
    return marker(look) + text;
}

}  // namespace torvek::testing
