#include "front/import/gps_vector_text.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

namespace torvek::front {
namespace {

// Names with blanks or dashes are written in double quotes: C "BM 2041-A" ..., G1 "A 1"-"B-2" ...
constexpr char kQuote = '"';

enum class WeightForm { kCovariance, kStandardErrorCorrelation };

struct Line {
    std::size_t number = 0;
    std::vector<std::string_view> tokens;  // up to the description tail ("--...")
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// The tokens of a line, split at blanks outside double quotes: a quoted name ("BM 2041-A") keeps
// its blanks and dashes, and a quote left open runs to the end of the line (the name's reader
// refuses it).
std::vector<std::string_view> tokensOf(std::string_view line) {
    std::vector<std::string_view> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i])) {
            ++i;
        }
        const std::size_t start = i;
        bool quoted = false;
        while (i < line.size() && (quoted || !isBlank(line[i]))) {
            quoted = line[i] == kQuote ? !quoted : quoted;
            ++i;
        }
        if (i == start) {
            break;
        }
        const std::string_view token = line.substr(start, i - start);
        if (token.size() >= 2 && token[0] == '-' && token[1] == '-') {
            break;  // the description runs to the end of the line
        }
        tokens.push_back(token);
    }
    return tokens;
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

std::string where(const Line& line) {
    return "line " + std::to_string(line.number);
}

double number(const Line& line, std::size_t i, const char* what) {
    const std::optional<double> value = parseNumber(line.tokens[i]);
    if (!value) {
        surveyFail(where(line), numberError(what, line.tokens[i]));
    }
    return *value;
}

// A piece of a line for a message: at most kQuotedLength bytes, so that a quote left open on a
// long line does not copy the line into the message.
constexpr std::size_t kQuotedLength = 60;

std::string shortened(std::string_view text) {
    return text.size() <= kQuotedLength ? std::string(text)
                                        : std::string(text.substr(0, kQuotedLength)) + "...";
}

// The name at the start of `text`: a quoted one up to its closing quote, else everything up to
// `stop` (or the end). `rest` receives what follows it. Throws on an open quote or an empty name.
std::string leadingName(const Line& line, std::string_view text, char stop,
                        std::string_view& rest) {
    if (!text.empty() && text[0] == kQuote) {
        const std::size_t close = text.find(kQuote, 1);
        if (close == std::string_view::npos) {
            surveyFail(where(line), "the name " + shortened(text) + " has no closing quote");
        }
        if (close == 1) {
            surveyFail(where(line), "a name in quotes must not be empty");
        }
        rest = text.substr(close + 1);
        return std::string(text.substr(1, close - 1));
    }
    const std::size_t end = std::min(text.find(stop), text.find(kQuote));
    rest = end == std::string_view::npos ? std::string_view() : text.substr(end);
    return std::string(text.substr(0, end));
}

// The name of a C record: the token itself, or the text between its quotes.
std::string siteName(const Line& line, std::string_view token) {
    std::string_view rest;
    std::string name = leadingName(line, token, '\0', rest);
    if (!rest.empty()) {
        surveyFail(where(line),
                   "a name in quotes must be followed by a blank, not \"" + shortened(rest) + "\"");
    }
    return name;
}

// The two ends of a G1 record, FROM-TO: unquoted names hold no dash, quoted ones may hold any
// character but the quote ("BM 2041-A"-"HILL C", "BM 2041-A"-C, A-"HILL C").
std::pair<std::string, std::string> vectorEnds(const Line& line, std::string_view ends) {
    const auto refuse = [&] {
        surveyFail(where(line),
                   "the ends must read FROM-TO, two names joined by one \"-\" (in double "
                   "quotes when they hold blanks or dashes), not " +
                       shortened(ends));
    };
    std::string_view rest;
    std::string from = leadingName(line, ends, '-', rest);
    if (from.empty() || rest.size() < 2 || rest[0] != '-') {
        refuse();
    }
    std::string_view after;
    std::string to = leadingName(line, rest.substr(1), '-', after);
    if (to.empty() || !after.empty()) {
        refuse();
    }
    return {std::move(from), std::move(to)};
}

// A vector between its G1 and the next record that is not its G2 or G3.
struct PendingVector {
    SurveyVector vector;
    WeightForm form = WeightForm::kCovariance;
    bool hasVariances = false;
    bool hasCovariances = false;
    Vector3 diagonal{};
    Vector3 offDiagonal{};  // xy, xz, yz
    std::size_t line = 0;
};

class Reader {
  public:
    Reader(std::optional<CovarianceUnit> unit, SurveyNetwork& network)
        : unit_(effectiveUnit(unit, CovarianceUnit::kSquareMetres)), network_(network) {
        network_.covarianceUnit = unit_;
    }

    void read(std::string_view text) {
        std::size_t number = 0;
        while (!text.empty()) {
            ++number;
            const std::size_t end = text.find('\n');
            const std::string_view raw = text.substr(0, end);
            text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
            Line line{number, tokensOf(raw)};
            if (!line.tokens.empty()) {
                record(line);
            }
        }
        finishVector();
        if (!ignoredOptions_.empty()) {
            network_.notes.push_back("options not read (they do not concern GNSS vectors): " +
                                     ignoredOptions_);
        }
    }

  private:
    void record(const Line& line) {
        const std::string code = upper(line.tokens[0]);
        if (code[0] == '#' || code.rfind("G0", 0) == 0) {
            return;
        }
        if (code[0] == '.') {
            option(line, code);
            return;
        }
        if (code == "G2" || code == "G3") {
            weights(line, code == "G2");
            return;
        }
        finishVector();
        if (code == "C") {
            coordinates(line);
        } else if (code == "G1") {
            vector(line);
        } else {
            ++network_.skipped[code];
        }
    }

    void option(const Line& line, const std::string& code) {
        if (code == ".GPS") {
            const std::string what = line.tokens.size() > 1 ? upper(line.tokens[1]) : "";
            const std::string value = line.tokens.size() > 2 ? upper(line.tokens[2]) : "";
            if (what == "WEIGHT" && line.tokens.size() == 3 && value == "COVARIANCE") {
                form_ = WeightForm::kCovariance;
            } else if (what == "WEIGHT" && line.tokens.size() == 3 &&
                       value == "STDERRCORRELATION") {
                form_ = WeightForm::kStandardErrorCorrelation;
            } else {
                // Any other .GPS option changes how the weights read: not guessed.
                surveyFail(where(line), "the option \".GPS " + what + (value.empty() ? "" : " ") +
                                            value +
                                            "\" is not read (known: .GPS WEIGHT COVARIANCE, "
                                            ".GPS WEIGHT STDERRCORRELATION)");
            }
            return;
        }
        if (code == ".UNITS") {
            for (std::size_t i = 1; i < line.tokens.size(); ++i) {
                const std::string unit = upper(line.tokens[i]);
                if (unit != "METERS" && unit != "METRES" && unit != "M" && unit != "DMS") {
                    surveyFail(where(line), "the units \"" + std::string(line.tokens[i]) +
                                                "\" are not read: coordinates and vectors are "
                                                "in metres");
                }
            }
            return;
        }
        if (ignoredOptions_.find(code) == std::string::npos) {
            ignoredOptions_ += (ignoredOptions_.empty() ? "" : ", ") + code;
        }
    }

    void coordinates(const Line& line) {
        // The name first: a quote left open takes the rest of the line, which is its fault.
        const std::string name = line.tokens.size() > 1 ? siteName(line, line.tokens[1]) : "";
        if (line.tokens.size() != 5 && line.tokens.size() != 8) {
            surveyFail(where(line),
                       "a C record holds a name, X, Y, Z and optionally three standard errors");
        }
        const SurveySite* known = network_.findSite(name);
        if (known != nullptr && known->position != SitePosition::kNone) {
            surveyFail(where(line), "site \"" + name + "\" has coordinates already");
        }
        SurveySite& site = network_.site(name);
        site.position = SitePosition::kGeocentric;
        site.coordinates = {number(line, 2, "X"), number(line, 3, "Y"), number(line, 4, "Z")};
        if (line.tokens.size() == 5) {
            return;  // approximate coordinates of a free site
        }
        int held = 0, free = 0;
        Vector3 sigmas{};
        for (int i = 0; i < 3; ++i) {
            const std::string_view token = line.tokens[5 + static_cast<std::size_t>(i)];
            if (token == "!") {
                ++held;
            } else if (token == "*") {
                ++free;
            } else {
                sigmas[i] = number(line, 5 + static_cast<std::size_t>(i), "a standard error");
                if (!(sigmas[i] > 0.0)) {
                    surveyFail(where(line),
                               "a standard error must be above 0 (\"!\" holds a "
                               "coordinate fixed)");
                }
            }
        }
        if (held == 3) {
            site.fixed = {true, true, true};
        } else if (held == 0 && free == 0) {
            site.geocentricSigmas = sigmas;
        } else if (free != 3) {
            surveyFail(where(line),
                       "X, Y and Z must be held (!), weighted or free (*) alike: the data set "
                       "holds latitude, longitude and height, which mix all three");
        }
    }

    void vector(const Line& line) {
        if (line.tokens.size() > 1 && line.tokens[1].find(kQuote) != std::string_view::npos) {
            vectorEnds(line, line.tokens[1]);  // an open quote is named before the count
        }
        if (line.tokens.size() != 5) {
            surveyFail(where(line), "a G1 record holds FROM-TO, dX, dY and dZ");
        }
        PendingVector pending;
        std::tie(pending.vector.from, pending.vector.to) = vectorEnds(line, line.tokens[1]);
        pending.vector.delta = {number(line, 2, "dX"), number(line, 3, "dY"),
                                number(line, 4, "dZ")};
        pending.vector.where = where(line);
        pending.form = form_;
        pending.line = line.number;
        pending_ = pending;
    }

    void weights(const Line& line, bool variances) {
        const char* code = variances ? "G2" : "G3";
        if (!pending_) {
            surveyFail(where(line), std::string("a ") + code + " record must follow its G1 record");
        }
        bool& seen = variances ? pending_->hasVariances : pending_->hasCovariances;
        if (seen) {
            surveyFail(where(line), std::string("a second ") + code + " record for one vector");
        }
        if (line.tokens.size() != 4) {
            surveyFail(where(line), std::string("a ") + code + " record holds three numbers");
        }
        seen = true;
        Vector3& values = variances ? pending_->diagonal : pending_->offDiagonal;
        for (std::size_t i = 0; i < 3; ++i) {
            values[i] = number(line, i + 1, variances ? "a variance" : "a covariance");
        }
        const bool standardErrors = pending_->form == WeightForm::kStandardErrorCorrelation;
        if (variances && !(values[0] > 0.0 && values[1] > 0.0 && values[2] > 0.0)) {
            surveyFail(where(line), standardErrors ? "standard errors must be above 0"
                                                   : "variances must be above 0");
        }
        if (!variances && standardErrors &&
            !(std::fabs(values[0]) <= 1.0 && std::fabs(values[1]) <= 1.0 &&
              std::fabs(values[2]) <= 1.0)) {
            surveyFail(where(line), "correlations must lie between -1 and 1");
        }
    }

    void finishVector() {
        if (!pending_) {
            return;
        }
        PendingVector p = *pending_;
        pending_.reset();
        if (!p.hasVariances) {
            surveyFail("line " + std::to_string(p.line),
                       "the vector has no G2 record: its weight is unknown");
        }
        Matrix3 c{};
        if (p.form == WeightForm::kCovariance) {
            c = {p.diagonal[0],    p.offDiagonal[0], p.offDiagonal[1],
                 p.offDiagonal[0], p.diagonal[1],    p.offDiagonal[2],
                 p.offDiagonal[1], p.offDiagonal[2], p.diagonal[2]};
        } else {
            // Standard errors in metres (millimetres with mm2) squared give the covariance unit.
            c = covarianceFrom(p.diagonal, p.offDiagonal);
        }
        p.vector.covariance = c;
        network_.site(p.vector.from);
        network_.site(p.vector.to);
        network_.addVector(p.vector);
    }

    CovarianceUnit unit_;
    SurveyNetwork& network_;
    WeightForm form_ = WeightForm::kCovariance;
    std::optional<PendingVector> pending_;
    std::string ignoredOptions_;
};

}  // namespace

bool looksLikeGpsVectorText(std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::vector<std::string_view> tokens = tokensOf(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (tokens.empty() || tokens[0][0] == '#') {
            continue;
        }
        const std::string code = upper(tokens[0]);
        if (code[0] == '.' && code != ".GPS") {
            continue;  // options of the format's other record kinds
        }
        return code == "C" || code.rfind("G0", 0) == 0 || code == "G1" || code == "G2" ||
               code == "G3" || code == ".GPS";
    }
    return false;
}

void readGpsVectorText(std::string_view text, std::optional<CovarianceUnit> unit,
                       SurveyNetwork& network) {
    Reader(unit, network).read(text);
}

}  // namespace torvek::front
