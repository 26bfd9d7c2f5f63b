#include "front/documents/report_document.h"

#include <algorithm>
#include <cstring>

#include "link/messages.h"
#include "report/report_styles.h"

namespace torvek::front {
namespace {

// A report far beyond any real one (a full 500-site network reports well under a megabyte); past
// it, pieces are dropped so that a runaway child cannot exhaust memory.
constexpr std::size_t kMaximumReportBytes = 64u << 20;
// The most lines kept: a report of pieces that are nothing but line feeds would otherwise cost
// a hundred times its bytes in lines. The largest network the program takes reports a few
// thousand lines.
constexpr std::size_t kMaximumReportLines = 200000;
// RTF's default font size when \plain resets the character format: 12 points.
constexpr int kPlainHalfPoints = 24;
constexpr int kColourCount = report_colour::kCount;

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexDigit(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Groups whose content is not text: the font and colour tables and the like.
bool isSkippedDestination(std::string_view word) {
    static const char* const kDestinations[] = {"fonttbl", "colortbl",  "stylesheet", "info",
                                                "pict",    "object",    "header",     "footer",
                                                "fldinst", "listtable", "generator"};
    for (const char* d : kDestinations) {
        if (word == d) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string ReportLine::plainText() const {
    std::string text;
    for (const TextRun& run : runs) {
        text += run.text;
    }
    return text;
}

std::uint32_t reportColour(int index) {
    return (index >= 0 && index < kColourCount) ? report_colour::kRgb[index] : 0;
}

std::string ReportDocument::plainText() const {
    std::string text;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        text += lines_[i].plainText();
        if (i + 1 < lines_.size()) {
            text += '\n';
        }
    }
    return text;
}

void ReportDocument::clear() {
    lines_.assign(1, ReportLine{});
    lines_.back().centred = paragraphCentred_;
}

void ReportDocument::stopTaking(const std::string& notice) {
    truncated_ = true;
    // One line beyond the bound, for the notice alone.
    lines_.push_back(ReportLine{});
    lines_.back().runs.push_back(TextRun{TextFormat{}, notice});
}

void ReportDocument::insertText(std::string_view text, const TextFormat& format) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string piece;
        for (char c : text.substr(start, end - start)) {
            if (c != '\r' && c != '\0') {
                piece += c;
            }
        }
        if (!piece.empty()) {
            std::vector<TextRun>& runs = lines_.back().runs;
            if (!runs.empty() && runs.back().format == format) {
                runs.back().text += piece;
            } else {
                runs.push_back(TextRun{format, piece});
            }
        }
        if (end == text.size()) {
            break;
        }
        if (lines_.size() >= kMaximumReportLines) {
            stopTaking("[The rest of the report is not shown: it exceeds " +
                       std::to_string(kMaximumReportLines) + " lines.]");
            return;
        }
        lines_.push_back(ReportLine{});
        lines_.back().centred = paragraphCentred_;
        start = end + 1;
    }
}

void ReportDocument::addPiece(std::uint32_t dataWord, std::string_view text) {
    if (truncated_) {
        return;
    }
    if (total_ + text.size() > kMaximumReportBytes) {
        stopTaking("[The rest of the report is not shown: it exceeds 64 MiB.]");
        return;
    }
    total_ += text.size();
    ++pieceCount_;
    if ((dataWord & link::kDataWordAtSelection) == 0) {
        clear();
    }
    if ((dataWord & link::kDataWordRtf) != 0) {
        addRtf(text);
    } else {
        insertText(text, insertionFormat_);
    }
}

void ReportDocument::addRtf(std::string_view rtf) {
    struct GroupState {
        TextFormat format;
        bool skip = false;
    };
    std::vector<GroupState> stack{GroupState{}};
    stack.back().format = insertionFormat_;
    TextFormat lastEmitted;
    bool emitted = false;
    std::size_t skipFallback = 0;  // characters after \uN that stand in for it

    auto emit = [&](std::string_view text) {
        if (stack.back().skip || text.empty()) {
            return;
        }
        insertText(text, stack.back().format);
        lastEmitted = stack.back().format;
        emitted = true;
    };
    auto setCentred = [&](bool centred) {
        if (stack.back().skip) {
            return;
        }
        paragraphCentred_ = centred;
        lines_.back().centred = centred;
    };

    std::size_t i = 0;
    while (i < rtf.size()) {
        const char c = rtf[i];
        if (c == '{') {
            // The program's nesting is shallow; a deeper one is cut rather than grown.
            if (stack.size() < 256) {
                stack.push_back(stack.back());
            }
            ++i;
            continue;
        }
        if (c == '}') {
            if (stack.size() > 1) {
                stack.pop_back();
            }
            ++i;
            continue;
        }
        if (c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c != '\\') {
            const std::size_t start = i;
            while (i < rtf.size() && rtf[i] != '\\' && rtf[i] != '{' && rtf[i] != '}' &&
                   rtf[i] != '\r' && rtf[i] != '\n') {
                ++i;
            }
            std::string_view text = rtf.substr(start, i - start);
            while (skipFallback > 0 && !text.empty()) {
                text.remove_prefix(1);
                --skipFallback;
            }
            emit(text);
            continue;
        }
        // A control word or symbol.
        ++i;
        if (i >= rtf.size()) {
            break;
        }
        const char next = rtf[i];
        if (!isLetter(next)) {
            ++i;
            switch (next) {
                case '\\':
                case '{':
                case '}':
                    emit(std::string_view(&next, 1));
                    break;
                case '~':
                    emit(" ");
                    break;
                case '_':
                    emit("-");
                    break;
                case '*':
                    stack.back().skip = true;
                    break;
                case '\r':
                case '\n':
                    emit("\n");
                    break;
                case '\'':
                    if (i + 1 < rtf.size() && hexDigit(rtf[i]) >= 0 && hexDigit(rtf[i + 1]) >= 0) {
                        const char byte =
                            static_cast<char>(hexDigit(rtf[i]) * 16 + hexDigit(rtf[i + 1]));
                        i += 2;
                        if (skipFallback > 0) {
                            --skipFallback;
                        } else {
                            emit(std::string_view(&byte, 1));
                        }
                    }
                    break;
                default:
                    break;
            }
            continue;
        }
        const std::size_t wordStart = i;
        while (i < rtf.size() && isLetter(rtf[i]) && i - wordStart < 32) {
            ++i;
        }
        const std::string_view word = rtf.substr(wordStart, i - wordStart);
        bool hasParameter = false;
        bool negative = false;
        long parameter = 0;
        if (i < rtf.size() && rtf[i] == '-' && i + 1 < rtf.size() && isDigit(rtf[i + 1])) {
            negative = true;
            ++i;
        }
        int digits = 0;
        while (i < rtf.size() && isDigit(rtf[i])) {
            if (digits < 9) {
                parameter = parameter * 10 + (rtf[i] - '0');
            }
            ++digits;
            ++i;
            hasParameter = true;
        }
        if (negative) {
            parameter = -parameter;
        }
        if (i < rtf.size() && rtf[i] == ' ') {
            ++i;  // the blank that ends a control word is not text
        }

        TextFormat& format = stack.back().format;
        const bool on = !hasParameter || parameter != 0;
        if (isSkippedDestination(word)) {
            stack.back().skip = true;
        } else if (word == "plain") {
            format = TextFormat{};
            format.halfPoints = kPlainHalfPoints;
        } else if (word == "fs") {
            format.halfPoints =
                hasParameter ? static_cast<int>(std::clamp(parameter, 2L, 400L)) : kPlainHalfPoints;
        } else if (word == "cf") {
            format.colour = (parameter >= 0 && parameter < kColourCount) ? int(parameter) : 0;
        } else if (word == "b") {
            format.bold = on;
        } else if (word == "i") {
            format.italic = on;
        } else if (word == "ul") {
            format.underline = on;
        } else if (word == "ulnone") {
            format.underline = false;
        } else if (word == "pard") {
            setCentred(false);
        } else if (word == "qc") {
            setCentred(true);
        } else if (word == "ql" || word == "qr" || word == "qj") {
            setCentred(false);
        } else if (word == "par" || word == "line") {
            emit("\n");
        } else if (word == "tab") {
            emit("\t");
        } else if (word == "u") {
            emit("?");
            skipFallback = 1;
        }
        // Every other word (\rtf1, \ansi, \deff0, \deftab720, \f2, \deflang1033, ...) changes
        // nothing that is shown here.
    }
    if (emitted) {
        insertionFormat_ = lastEmitted;
    }
}

}  // namespace torvek::front
