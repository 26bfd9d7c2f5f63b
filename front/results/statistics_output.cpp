// The relative tolerance and the front end's statistics file.
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "front/files/file_output.h"
#include "front/project/project_json.h"
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

Json triple(const std::array<double, 3>& values) {
    return Json::array({numberOrNull(values[0]), numberOrNull(values[1]), numberOrNull(values[2])});
}

Json matrix(const Matrix3& m) {
    return Json::array({triple(m[0]), triple(m[1]), triple(m[2])});
}

Json ellipseJson(const OrientedEllipse& e) {
    return Json{{"semiMajor", numberOrNull(e.semiMajor)},
                {"semiMinor", numberOrNull(e.semiMinor)},
                {"azimuth", numberOrNull(e.azimuth)},
                {"confidence", e.confidence}};
}

Json siteJson(const RigorousSite& s) {
    return Json{{"name", s.name},
                {"code", s.code},
                {"adjusted", s.adjusted},
                {"xyz", triple(s.xyz)},
                {"latitude", numberOrNull(s.latitude)},
                {"longitude", numberOrNull(s.longitude)},
                {"height", numberOrNull(s.height)},
                {"covarianceXYZ", matrix(s.covarianceXYZ)},
                {"covarianceNEU", matrix(s.covarianceNEU)},
                {"ellipse", ellipseJson(s.ellipse)},
                {"heightSigma", numberOrNull(s.heightSigma)}};
}

Json componentJson(const ComponentTest& c, bool preanalysis) {
    return Json{{"axis", std::string(1, c.axis)},
                {"observed", numberOrNull(c.observed)},
                {"adjusted", numberOrNull(c.adjusted)},
                {"residual", numberOrNull(c.residual)},
                {"residualSigma", numberOrNull(c.residualSigma)},
                {"redundancy", numberOrNull(c.redundancy)},
                {"standardized", numberOrNull(c.standardized)},
                {"studentized", numberOrNull(c.studentized)},
                {"mdb", numberOrNull(c.mdb)},
                {"outlier", preanalysis ? Json(nullptr) : Json(c.outlier)}};
}

Json vectorJson(const RigorousVector& v, bool preanalysis) {
    Json components = Json::array();
    for (const ComponentTest& c : v.components) {
        components.push_back(componentJson(c, preanalysis));
    }
    return Json{{"from", v.from},
                {"to", v.to},
                {"fromCode", v.fromCode},
                {"toCode", v.toCode},
                {"record", v.record},
                {"inUse", v.inUse},
                {"components", components},
                {"length", numberOrNull(v.length)},
                {"azimuth", numberOrNull(v.azimuth)},
                {"heightDifference", numberOrNull(v.heightDifference)}};
}

Json pairJson(const RelativePrecision& p) {
    Json j{{"from", p.from},
           {"to", p.to},
           {"distance", numberOrNull(p.distance)},
           {"semiMajor", numberOrNull(p.ellipse.semiMajor)},
           {"semiMinor", numberOrNull(p.ellipse.semiMinor)},
           {"azimuth", numberOrNull(p.ellipse.azimuth)},
           {"verticalSigma", numberOrNull(p.verticalSigma)},
           {"ppm", numberOrNull(p.ppm)},
           {"confidence", p.ellipse.confidence}};
    if (p.withinTolerance) {
        j["withinTolerance"] = *p.withinTolerance;
    }
    return j;
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
template <typename T, typename ToJson>
void writeArray(const char* key, const std::vector<T>& items, ToJson toJson, bool last,
                const std::function<void(std::string_view)>& sink) {
    sink(std::string(",\n \"") + key + "\": [");
    for (std::size_t i = 0; i < items.size(); ++i) {
        sink((i == 0 ? "\n  " : ",\n  ") + toJson(items[i]).dump(-1, ' ', false, kDumpErrors));
    }
    sink(items.empty() ? "]" : "\n ]");
    if (last) {
        sink("\n}\n");
    }
}

Json roundJson(const SnoopingRound& r) {
    return Json{{"from", r.from},
                {"to", r.to},
                {"record", r.record},
                {"studentized", numberOrNull(r.studentized)}};
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
    writeArray("sites", s.sites, siteJson, false, sink);
    writeArray(
        "vectors", s.vectors, [&](const RigorousVector& v) { return vectorJson(v, s.preanalysis); },
        false, sink);
    writeArray("relativePrecision", s.relativePrecision, pairJson, false, sink);
    writeArray("snooping", s.snooping, roundJson, true, sink);
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
