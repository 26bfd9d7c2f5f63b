// The relative tolerance and the front end's statistics file.
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "front/files/file_output.h"
#include "front/project/json_text.h"
#include "front/results/rigorous_statistics.h"

namespace torvek::front {
namespace {

// Parts per million of a distance.
constexpr double kPerMillion = 1e-6;
constexpr double kMetresPerMillimetre = 0.001;

// One term of a tolerance, "20 mm" or "50ppm": its number and its unit's text.
struct ToleranceTerm {
    double value = 0;
    std::string unit;
};

void skipBlanks(const std::string& text, std::size_t& i) {
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
}

// Reads a term at `i`; an empty `error` on success.
ToleranceTerm readTerm(const std::string& text, std::size_t& i, std::string& error) {
    ToleranceTerm term;
    skipBlanks(text, i);
    const std::size_t start = i;
    while (i < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[i])) || text[i] == '.')) {
        ++i;
    }
    const std::string digits = text.substr(start, i - start);
    char* end = nullptr;
    term.value = digits.empty() ? 0.0 : std::strtod(digits.c_str(), &end);
    if (digits.empty() || end != digits.c_str() + digits.size() || !std::isfinite(term.value)) {
        error = "expected a number from 0 at character " + std::to_string(start + 1);
        return term;
    }
    skipBlanks(text, i);
    const std::size_t unitStart = i;
    while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) {
        term.unit += static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        ++i;
    }
    if (term.unit != "mm" && term.unit != "m" && term.unit != "ppm") {
        error = "expected the unit mm, m or ppm at character " + std::to_string(unitStart + 1);
    }
    return term;
}

Json numberOrNull(double value) {
    return std::isfinite(value) ? Json(value) : Json(nullptr);
}

// The elements of the long arrays are written member by member (CompactObject): the same text as
// the JSON library's compact dump, without an object per element (a national network's file took
// a fifth of a whole run that way).
void matrix(CompactObject& o, const char* name, const Matrix3& m) {
    std::string& out = o.key(name);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            out += c == 0 ? (r == 0 ? "[[" : ",[") : ",";
            appendJsonNumber(out, m[r][c]);
        }
        out += ']';
    }
    out += ']';
}

void ellipse(std::string& out, const OrientedEllipse& e) {
    CompactObject o(out);
    o.number("semiMajor", e.semiMajor);
    o.number("semiMinor", e.semiMinor);
    o.number("azimuth", e.azimuth);
    o.number("confidence", e.confidence);
    o.end();
}

void site(std::string& out, const RigorousSite& s) {
    CompactObject o(out);
    o.text("name", s.name);
    o.text("code", s.code);
    o.flag("adjusted", s.adjusted);
    o.triple("xyz", s.xyz.data());
    o.number("latitude", s.latitude);
    o.number("longitude", s.longitude);
    o.number("height", s.height);
    matrix(o, "covarianceXYZ", s.covarianceXYZ);
    matrix(o, "covarianceNEU", s.covarianceNEU);
    ellipse(o.key("ellipse"), s.ellipse);
    o.number("heightSigma", s.heightSigma);
    o.end();
}

void component(std::string& out, const ComponentTest& c, bool preanalysis) {
    CompactObject o(out);
    o.text("axis", std::string(1, c.axis));
    o.number("observed", c.observed);
    o.number("adjusted", c.adjusted);
    o.number("residual", c.residual);
    o.number("residualSigma", c.residualSigma);
    o.number("redundancy", c.redundancy);
    o.number("standardized", c.standardized);
    o.number("studentized", c.studentized);
    o.number("mdb", c.mdb);
    if (preanalysis) {
        o.null("outlier");
    } else {
        o.flag("outlier", c.outlier);
    }
    o.end();
}

void vector(std::string& out, const RigorousVector& v, bool preanalysis) {
    CompactObject o(out);
    o.text("from", v.from);
    o.text("to", v.to);
    o.text("fromCode", v.fromCode);
    o.text("toCode", v.toCode);
    o.whole("record", v.record);
    o.flag("inUse", v.inUse);
    std::string& components = o.key("components");
    for (std::size_t k = 0; k < v.components.size(); ++k) {
        components += k == 0 ? '[' : ',';
        component(components, v.components[k], preanalysis);
    }
    components += v.components.empty() ? "[]" : "]";
    o.number("length", v.length);
    o.number("azimuth", v.azimuth);
    o.number("heightDifference", v.heightDifference);
    o.end();
}

void pair(std::string& out, const RelativePrecision& p) {
    CompactObject o(out);
    o.text("from", p.from);
    o.text("to", p.to);
    o.number("distance", p.distance);
    o.number("semiMajor", p.ellipse.semiMajor);
    o.number("semiMinor", p.ellipse.semiMinor);
    o.number("azimuth", p.ellipse.azimuth);
    o.number("verticalSigma", p.verticalSigma);
    o.number("ppm", p.ppm);
    o.number("confidence", p.ellipse.confidence);
    if (p.withinTolerance) {
        o.flag("withinTolerance", *p.withinTolerance);
    }
    o.end();
}

void round(std::string& out, const SnoopingRound& r) {
    CompactObject o(out);
    o.text("from", r.from);
    o.text("to", r.to);
    o.whole("record", r.record);
    o.number("studentized", r.studentized);
    o.end();
}

Json headJson(const RigorousStatistics& s) {
    // A pre-analysis has no a-posteriori sigma0 and no chi-square test: their fields are null.
    const Json passed = s.preanalysis ? Json(nullptr) : Json(s.chiSquarePassed);
    Json j{{"model", "rigorous"},
           {"preanalysis", s.preanalysis},
           {"degreesOfFreedom", s.degreesOfFreedom},
           {"sigma0",
            {{"apriori", s.sigma0Apriori}, {"aposteriori", numberOrNull(s.sigma0Aposteriori)}}},
           {"scaledBy", s.scaledBy},
           {"chiSquare",
            {{"value", numberOrNull(s.chiSquare)},
             {"lower", numberOrNull(s.chiSquareLower)},
             {"upper", numberOrNull(s.chiSquareUpper)},
             {"passed", passed}}},
           {"criticalValues",
            {{"studentized", numberOrNull(s.studentizedCritical)},
             {"alpha0", s.alpha0},
             {"power", s.power},
             {"delta0", numberOrNull(s.delta0)}}},
           {"confidence", s.confidence}};
    if (s.tolerance) {
        j["relativeTolerance"] = {{"text", s.tolerance->text},
                                  {"horizontal", s.tolerance->horizontal},
                                  {"ppm", s.tolerance->ppm},
                                  {"confidence", s.tolerance->confidence}};
    }
    return j;
}

}  // namespace

bool parseRelativeTolerance(const std::string& text, RelativeTolerance& tolerance,
                            std::string& error) {
    RelativeTolerance read;
    read.text = text;
    bool haveLength = false, havePpm = false;
    std::size_t i = 0;
    for (int term = 0; term < 2; ++term) {
        std::string problem;
        const ToleranceTerm t = readTerm(text, i, problem);
        if (!problem.empty()) {
            error = "tolerance \"" + text + "\": " + problem;
            return false;
        }
        bool& seen = t.unit == "ppm" ? havePpm : haveLength;
        if (seen) {
            error = "tolerance \"" + text +
                    "\": " + (t.unit == "ppm" ? "two parts per million" : "two lengths");
            return false;
        }
        seen = true;
        if (t.unit == "ppm") {
            read.ppm = t.value;
        } else {
            read.horizontal = t.unit == "mm" ? t.value * kMetresPerMillimetre : t.value;
        }
        skipBlanks(text, i);
        if (i == text.size()) {
            tolerance = read;
            return true;
        }
        if (text[i] != '+' || term == 1) {
            break;
        }
        ++i;
    }
    error = "tolerance \"" + text + "\": expected the form \"20mm+50ppm\"; unexpected \"" +
            text.substr(i) + "\"";
    return false;
}

double ellipseAtConfidence(double semiMajor, double fromConfidence, double toConfidence) {
    return semiMajor * std::sqrt(std::log(1.0 - toConfidence) / std::log(1.0 - fromConfidence));
}

bool withinRelativeTolerance(const RelativeTolerance& tolerance, double distance,
                             double semiMajor) {
    return semiMajor <= tolerance.horizontal + tolerance.ppm * kPerMillion * distance;
}

void applyRelativeTolerance(const RelativeTolerance& tolerance, RigorousStatistics& statistics) {
    statistics.tolerance = tolerance;
    for (RelativePrecision& p : statistics.relativePrecision) {
        const double semiMajor =
            ellipseAtConfidence(p.ellipse.semiMajor, p.ellipse.confidence, tolerance.confidence);
        p.withinTolerance = withinRelativeTolerance(tolerance, p.distance, semiMajor);
    }
}

namespace {

constexpr auto kDumpErrors = Json::error_handler_t::replace;

// One array of the file: "key": [ then each element on its own line.
template <typename T, typename Write>
void writeArray(const char* key, const std::vector<T>& items, Write write, bool last,
                const std::function<void(std::string_view)>& sink) {
    sink(std::string(",\n \"") + key + "\": [");
    std::string line;
    for (std::size_t i = 0; i < items.size(); ++i) {
        line = i == 0 ? "\n  " : ",\n  ";
        write(line, items[i]);
        sink(line);
    }
    sink(items.empty() ? "]" : "\n ]");
    if (last) {
        sink("\n}\n");
    }
}

}  // namespace

void writeStatisticsText(const RigorousStatistics& s,
                         const std::function<void(std::string_view)>& sink) {
    const Json head = headJson(s);
    bool first = true;
    for (const auto& [key, value] : head.items()) {
        sink((first ? "{\n \"" : ",\n \"") + key +
             "\": " + value.dump(-1, ' ', false, kDumpErrors));
        first = false;
    }
    writeArray("sites", s.sites, site, false, sink);
    writeArray(
        "vectors", s.vectors,
        [&](std::string& out, const RigorousVector& v) { vector(out, v, s.preanalysis); }, false,
        sink);
    writeArray("relativePrecision", s.relativePrecision, pair, false, sink);
    writeArray("snooping", s.snooping, round, true, sink);
}

std::string statisticsFileText(const RigorousStatistics& s) {
    std::string text;
    writeStatisticsText(s, [&](std::string_view piece) { text += piece; });
    return text;
}

bool writeStatisticsFile(const std::string& path, const RigorousStatistics& s, std::string& error) {
    return writeFileInPieces(
        path, [&](const TextSink& sink) { writeStatisticsText(s, sink); }, error);
}

}  // namespace torvek::front
