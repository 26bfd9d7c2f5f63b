#include "front/documents/report_document.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

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

// Reads one RTF piece of the report: text goes to `insert` with its format, paragraph alignment
// to `centre`. Knows what the program's style fragments use (see ReportDocument).
class RtfReader {
  public:
    using Insert = std::function<void(std::string_view, const TextFormat&)>;
    using Centre = std::function<void(bool)>;

    RtfReader(std::string_view rtf, const TextFormat& start, Insert insert, Centre centre)
        : rtf_(rtf), insert_(std::move(insert)), centre_(std::move(centre)) {
        stack_.push_back(GroupState{start, false});
    }

    // Reads the whole piece; the format of the last text inserted, when there was any.
    std::optional<TextFormat> read() {
        while (i_ < rtf_.size()) {
            const char c = rtf_[i_];
            if (c == '{') {
                // The program's nesting is shallow; a deeper one is cut rather than grown.
                if (stack_.size() < 256) {
                    stack_.push_back(stack_.back());
                }
                ++i_;
            } else if (c == '}') {
                if (stack_.size() > 1) {
                    stack_.pop_back();
                }
                ++i_;
            } else if (c == '\r' || c == '\n') {
                ++i_;
            } else if (c != '\\') {
                text();
            } else if (++i_ >= rtf_.size()) {
                break;
            } else if (!isLetter(rtf_[i_])) {
                controlSymbol(rtf_[i_++]);
            } else {
                controlWord();
            }
        }
        return emitted_ ? std::optional<TextFormat>(lastEmitted_) : std::nullopt;
    }

  private:
    struct GroupState {
        TextFormat format;
        bool skip = false;
    };

    void emit(std::string_view text) {
        if (stack_.back().skip || text.empty()) {
            return;
        }
        insert_(text, stack_.back().format);
        lastEmitted_ = stack_.back().format;
        emitted_ = true;
    }

    void setCentred(bool centred) {
        if (!stack_.back().skip) {
            centre_(centred);
        }
    }

    // A run of plain characters, less those that stand in for a \uN just read.
    void text() {
        const std::size_t start = i_;
        while (i_ < rtf_.size() && rtf_[i_] != '\\' && rtf_[i_] != '{' && rtf_[i_] != '}' &&
               rtf_[i_] != '\r' && rtf_[i_] != '\n') {
            ++i_;
        }
        std::string_view text = rtf_.substr(start, i_ - start);
        while (skipFallback_ > 0 && !text.empty()) {
            text.remove_prefix(1);
            --skipFallback_;
        }
        emit(text);
    }

    // A control symbol: a backslash and the character `next` (read) that is no letter.
    void controlSymbol(char next) {
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
                stack_.back().skip = true;
                break;
            case '\r':
            case '\n':
                emit("\n");
                break;
            case '\'':
                hexByte();
                break;
            default:
                break;
        }
    }

    // The two hex digits of \'hh, a byte of the text (or the stand-in for a \uN).
    void hexByte() {
        if (i_ + 1 < rtf_.size() && hexDigit(rtf_[i_]) >= 0 && hexDigit(rtf_[i_ + 1]) >= 0) {
            const char byte = static_cast<char>(hexDigit(rtf_[i_]) * 16 + hexDigit(rtf_[i_ + 1]));
            i_ += 2;
            if (skipFallback_ > 0) {
                --skipFallback_;
            } else {
                emit(std::string_view(&byte, 1));
            }
        }
    }

    // A control word with its parameter and the blank that ends it.
    void controlWord() {
        const std::size_t wordStart = i_;
        while (i_ < rtf_.size() && isLetter(rtf_[i_]) && i_ - wordStart < 32) {
            ++i_;
        }
        const std::string_view word = rtf_.substr(wordStart, i_ - wordStart);
        bool hasParameter = false;
        bool negative = false;
        long parameter = 0;
        if (i_ < rtf_.size() && rtf_[i_] == '-' && i_ + 1 < rtf_.size() && isDigit(rtf_[i_ + 1])) {
            negative = true;
            ++i_;
        }
        int digits = 0;
        while (i_ < rtf_.size() && isDigit(rtf_[i_])) {
            if (digits < 9) {
                parameter = parameter * 10 + (rtf_[i_] - '0');
            }
            ++digits;
            ++i_;
            hasParameter = true;
        }
        if (i_ < rtf_.size() && rtf_[i_] == ' ') {
            ++i_;  // the blank that ends a control word is not text
        }
        applyWord(word, hasParameter, negative ? -parameter : parameter);
    }

    void applyWord(std::string_view word, bool hasParameter, long parameter) {
        TextFormat& format = stack_.back().format;
        const bool on = !hasParameter || parameter != 0;
        if (isSkippedDestination(word)) {
            stack_.back().skip = true;
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
        } else if (word == "pard" || word == "ql" || word == "qr" || word == "qj") {
            setCentred(false);
        } else if (word == "qc") {
            setCentred(true);
        } else if (word == "par" || word == "line") {
            emit("\n");
        } else if (word == "tab") {
            emit("\t");
        } else if (word == "u") {
            emit("?");
            skipFallback_ = 1;
        }
        // Every other word (\rtf1, \ansi, \deff0, \deftab720, \f2, \deflang1033, ...) changes
        // nothing that is shown here.
    }

    std::string_view rtf_;
    std::size_t i_ = 0;
    std::vector<GroupState> stack_;
    TextFormat lastEmitted_;
    bool emitted_ = false;
    std::size_t skipFallback_ = 0;  // characters after \uN that stand in for it
    Insert insert_;
    Centre centre_;
};

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
    RtfReader reader(
        rtf, insertionFormat_,
        [this](std::string_view text, const TextFormat& format) { insertText(text, format); },
        [this](bool centred) {
            paragraphCentred_ = centred;
            lines_.back().centred = centred;
        });
    if (const std::optional<TextFormat> last = reader.read()) {
        insertionFormat_ = *last;
    }
}

}  // namespace torvek::front
