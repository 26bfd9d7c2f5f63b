#include "front/documents/report_site_names.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "dataset/site_name.h"
#include "front/text/unicode_text.h"

namespace torvek::front {
namespace {

// The report's layout, as the program prints it (report/connectivity_section.cpp for the control
// sites and the decomposition, the engine's loaders and solver for the error lines). Its report
// writer appends one blank to every print, and each change of style adds one more, so that a list
// printed as "%4.4s " items reads "CODE  CODE  " and a line may start with blanks.
constexpr std::string_view kControlHeading = "Control sites    Constraints";
constexpr std::size_t kControlNameColumns = 20;  // "%4.4s" and 16 blanks
constexpr std::size_t kConstraintColumns = 9;    // "Latitude ", "Longitude", "Elevation"
constexpr std::string_view kConstraintWords[3] = {"Latitude ", "Longitude", "Elevation"};
constexpr std::size_t kControlRow = kControlNameColumns + 3 * (kConstraintColumns + 1);
constexpr std::size_t kWriterBlank = 1;
constexpr std::string_view kSitesLead = "Sites:";
constexpr std::string_view kVectorsLead = "Vectors:";
constexpr std::string_view kErrorLead = "Error: ";
constexpr std::string_view kErrorSite = "Error: Site ";
constexpr std::string_view kErrorVector = "Error: The vector #";
constexpr std::string_view kUnknownSite = "( site ";
// Width of a listed site ("%4.4s " and the writer's blank) and a listed vector ("%4.4s-%4.4s ").
constexpr std::size_t kListedSite = kSiteNameSize + 1 + kWriterBlank;
constexpr std::size_t kListedVector = 2 * kSiteNameSize + 2 + kWriterBlank;

// A replacement within a line's text: `length` bytes at `offset` become `text`.
struct Edit {
    std::size_t offset;
    std::size_t length;
    std::string text;
};

std::size_t indentation(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t");
    return first == std::string_view::npos ? line.size() : first;
}

bool allBlank(std::string_view text) {
    return text.find_first_not_of(' ') == std::string_view::npos;
}

class LineMapper {
  public:
    explicit LineMapper(const SiteNameTable& names) : names_(names) {}

    // The edits that name the sites of one line; whether the control sites are being listed is
    // kept from line to line.
    std::vector<Edit> edits(std::string_view line) {
        const std::size_t start = indentation(line);
        const std::string_view body = line.substr(start);
        std::vector<Edit> out;
        if (body.substr(0, kControlHeading.size()) == kControlHeading) {
            inControlTable_ = true;
            return out;
        }
        if (inControlTable_ && isControlRow(body)) {
            const std::string* name = renamed(body.substr(0, kSiteNameSize));
            if (name != nullptr) {
                const std::size_t width = displayWidth(*name);
                const std::size_t blanks =
                    width < kControlNameColumns ? kControlNameColumns - width : 1;
                out.push_back({start, kControlNameColumns, *name + std::string(blanks, ' ')});
            }
            return out;
        }
        inControlTable_ = false;
        if (const std::size_t sites = listStart(body, kSitesLead, kListedSite)) {
            for (std::size_t at = sites; at + kListedSite <= body.size(); at += kListedSite) {
                replaceCode(body, start, at, out);
            }
        } else if (const std::size_t vectors = listStart(body, kVectorsLead, kListedVector)) {
            for (std::size_t at = vectors; at + kListedVector <= body.size(); at += kListedVector) {
                replaceCode(body, start, at, out);
                replaceCode(body, start, at + kSiteNameSize + 1, out);
            }
        } else {
            errorLine(body.substr(0, body.find_last_not_of(' ') + 1), start, out);
        }
        return out;
    }

  private:
    const std::string* renamed(std::string_view code) const {
        return names_.renamed(std::string(code));
    }

    void replaceCode(std::string_view body, std::size_t start, std::size_t at,
                     std::vector<Edit>& out) const {
        if (const std::string* name = renamed(body.substr(at, kSiteNameSize))) {
            out.push_back({start + at, kSiteNameSize, *name});
        }
    }

    // "CODE" + 16 blanks + three constraint columns, each followed by a blank.
    static bool isControlRow(std::string_view body) {
        if (body.size() < kControlRow || !allBlank(body.substr(kControlRow)) ||
            !allBlank(body.substr(kSiteNameSize, kControlNameColumns - kSiteNameSize))) {
            return false;
        }
        for (std::size_t k = 0; k < 3; ++k) {
            const std::size_t at = kControlNameColumns + k * (kConstraintColumns + 1);
            const std::string_view word = body.substr(at, kConstraintColumns);
            if ((word != kConstraintWords[k] && !allBlank(word)) ||
                body[at + kConstraintColumns] != ' ') {
                return false;
            }
        }
        return true;
    }

    // Where the items of a list line start: `lead`, blanks, then items of `width` columns (a code,
    // for vectors a '-' and a second code, then blanks), then blanks only. 0 when the line is no
    // such list. The first code starts with no blank, as no code made by the front end does.
    static std::size_t listStart(std::string_view body, std::string_view lead, std::size_t width) {
        if (body.substr(0, lead.size()) != lead) {
            return 0;
        }
        const std::size_t first = body.find_first_not_of(' ', lead.size());
        if (first == lead.size() || first == std::string_view::npos) {
            return 0;
        }
        const bool vectors = width == kListedVector;
        std::size_t at = first;
        for (; at + width <= body.size(); at += width) {
            const std::size_t gap = vectors ? 2 * kSiteNameSize + 1 : kSiteNameSize;
            if ((vectors && body[at + kSiteNameSize] != '-') ||
                !allBlank(body.substr(at + gap, width - gap))) {
                return 0;
            }
        }
        return allBlank(body.substr(at)) ? first : 0;
    }

    void errorLine(std::string_view body, std::size_t start, std::vector<Edit>& out) const {
        if (body.substr(0, kErrorSite.size()) == kErrorSite &&
            body.size() > kErrorSite.size() + kSiteNameSize &&
            body[kErrorSite.size() + kSiteNameSize] == ' ') {
            replaceCode(body, start, kErrorSite.size(), out);
            return;
        }
        if (body.substr(0, kErrorVector.size()) == kErrorVector) {
            const std::size_t colon = body.find(':', kErrorVector.size());
            const std::size_t from = colon + 1, to = from + kSiteNameSize + 1;
            if (colon != std::string_view::npos && body.size() > to + kSiteNameSize &&
                body[from + kSiteNameSize] == '-' && body[to + kSiteNameSize] == ' ') {
                replaceCode(body, start, from, out);
                replaceCode(body, start, to, out);
            }
            return;
        }
        // "( site CODE)" ends the line.
        const std::size_t tail = kUnknownSite.size() + kSiteNameSize + 1;
        if (body.substr(0, kErrorLead.size()) == kErrorLead && body.size() >= tail &&
            body.substr(body.size() - tail, kUnknownSite.size()) == kUnknownSite &&
            body.back() == ')') {
            replaceCode(body, start, body.size() - kSiteNameSize - 1, out);
        }
    }

    const SiteNameTable& names_;
    bool inControlTable_ = false;
};

// Applies edits (in any order, not overlapping) to the runs of a line; an edit that does not lie
// within one run is left out.
void apply(ReportLine& line, std::vector<Edit> edits) {
    std::sort(edits.begin(), edits.end(),
              [](const Edit& a, const Edit& b) { return a.offset > b.offset; });
    for (const Edit& edit : edits) {
        std::size_t runStart = 0;
        for (TextRun& run : line.runs) {
            const std::size_t runEnd = runStart + run.text.size();
            if (edit.offset >= runStart && edit.offset + edit.length <= runEnd) {
                run.text.replace(edit.offset - runStart, edit.length, edit.text);
                break;
            }
            runStart = runEnd;
        }
    }
}

}  // namespace

void showFullSiteNames(ReportDocument& document, const SiteNameTable& names) {
    if (names.empty()) {
        return;
    }
    LineMapper mapper(names);
    for (ReportLine& line : document.editableLines()) {
        std::vector<Edit> edits = mapper.edits(line.plainText());
        if (!edits.empty()) {
            apply(line, std::move(edits));
        }
    }
}

namespace {

// The tail of a held parameter's line as the closing report prints it: "%7.3f    fixed".
constexpr std::string_view kHeldTail = "    fixed";
constexpr std::size_t kHeldValueWidth = 7;  // the width of "%7.3f"

// The held value's text at the end of `line` before kHeldTail, with where it starts; nullopt
// when the line is not a held parameter's.
std::optional<Edit> heldEdit(std::string_view line) {
    if (line.size() <= kHeldTail.size() ||
        line.substr(line.size() - kHeldTail.size()) != kHeldTail) {
        return std::nullopt;
    }
    const std::string_view head = line.substr(0, line.size() - kHeldTail.size());
    const std::size_t start = head.find_last_of(' ') + 1;  // npos + 1 == 0
    const std::string_view value = head.substr(start);
    const std::size_t point = value.find('.');
    const std::size_t digits = value.find_first_not_of("-0123456789.");
    if (point == std::string_view::npos || value.size() - point != 4 ||
        digits != std::string_view::npos || point == 0 || value == "-") {
        return std::nullopt;
    }
    const bool zero = value.find_first_not_of("-0.") == std::string_view::npos;
    const std::string shown = zero ? "0" : std::string(value);
    // The words start where the number's field does, so that every held line reads alike.
    const std::size_t field = std::min(head.size(), std::max(value.size(), kHeldValueWidth));
    const std::size_t from = head.size() - field;
    return Edit{from, line.size() - from, "held at " + shown};
}

}  // namespace

void showHeldParameters(ReportDocument& document) {
    for (ReportLine& line : document.editableLines()) {
        if (const std::optional<Edit> edit = heldEdit(line.plainText())) {
            apply(line, {*edit});
        }
    }
}

}  // namespace torvek::front
