#include "app/statistics_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace torvek {
namespace {

// Significant digits of every number: 15 keep 1e-8 m on Earth-centred coordinates.
constexpr int kDigits = 15;

std::string number(double x) {
    if (!std::isfinite(x))
        return "null";
    // to_chars with a precision writes what printf's "%.15g" writes, several times faster: the
    // file of a large network holds millions of numbers.
    char text[40];
    const auto written =
        std::to_chars(text, text + sizeof text, x, std::chars_format::general, kDigits);
    return std::string(text, written.ptr);
}

// A four-character data set name, cut at its first NUL and trailing blanks, JSON-escaped.
std::string name(const char* raw) {
    std::string out;
    for (int k = 0; k < 4 && raw[k] != '\0'; ++k)
        out += raw[k];
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    std::string quoted = "\"";
    for (unsigned char c : out) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            quoted += escaped;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

std::string matrix(const Matrix3& m) {
    std::string out = "[";
    for (int r = 0; r < 3; ++r) {
        out += r ? ", [" : "[";
        for (int c = 0; c < 3; ++c)
            out += (c ? ", " : "") + number(m[3 * r + c]);
        out += "]";
    }
    return out + "]";
}

std::string siteEntry(const RigorousSiteResult& s, double confidence) {
    return "{\"name\": " + name(s.name) + ", \"adjusted\": " + (s.adjusted ? "true" : "false") +
           ", \"xyz\": [" + number(s.xyz[0]) + ", " + number(s.xyz[1]) + ", " + number(s.xyz[2]) +
           "], \"latitude\": " + number(s.latitude) + ", \"longitude\": " + number(s.longitude) +
           ", \"height\": " + number(s.height) + ", \"covarianceXYZ\": " + matrix(s.covarianceXYZ) +
           ", \"covarianceNEU\": " + matrix(s.covarianceNEU) +
           ", \"ellipse\": {\"semiMajor\": " + number(s.semiMajor) +
           ", \"semiMinor\": " + number(s.semiMinor) + ", \"azimuth\": " + number(s.azimuth) +
           ", \"confidence\": " + number(confidence) +
           "}, \"heightSigma\": " + number(s.heightSigma) + "}";
}

std::string componentsEntry(const RigorousVectorResult* v, bool preanalysis) {
    constexpr const char* kAxes[3] = {"x", "y", "z"};
    std::string out = "[";
    for (int a = 0; a < 3; ++a) {
        out += a ? ", " : "";
        out += std::string("{\"axis\": \"") + kAxes[a] + "\"";
        if (v == nullptr) {
            out +=
                ", \"observed\": null, \"adjusted\": null, \"residual\": null, "
                "\"residualSigma\": null, \"redundancy\": null, \"standardized\": null, "
                "\"studentized\": null, \"mdb\": null, \"outlier\": null}";
            continue;
        }
        const RigorousComponent& c = v->components[a];
        // A planned vector was not observed: what depends on an observation is null.
        const auto measured = [preanalysis](double x) { return preanalysis ? "null" : number(x); };
        out += ", \"observed\": " + measured(c.observed) +
               ", \"adjusted\": " + measured(c.adjusted) +
               ", \"residual\": " + measured(c.residual) +
               ", \"residualSigma\": " + number(c.residualSigma) +
               ", \"redundancy\": " + number(c.redundancy) +
               ", \"standardized\": " + measured(c.standardized) +
               ", \"studentized\": " + measured(c.studentized) + ", \"mdb\": " + number(c.mdb) +
               ", \"outlier\": " +
               (preanalysis ? "null"
                : c.outlier ? "true"
                            : "false") +
               "}";
    }
    return out + "]";
}

// Every vector of the output data set in record order.
std::string vectorEntries(const AdjustmentJob& job) {
    const RigorousResults& g = job.engine().state().rigorous;
    std::map<int, const RigorousVectorResult*> byRecord;
    for (const RigorousVectorResult& v : g.vectors)
        byRecord[v.record] = &v;
    std::string out;
    for (const VectorRecord& record : job.outputDataSet().vectors()) {
        const auto found = byRecord.find(record.recordNumber);
        const RigorousVectorResult* v = found != byRecord.end() ? found->second : nullptr;
        out += out.empty() ? "\n  " : ",\n  ";
        out += "{\"from\": " + name(record.fromSite.data()) +
               ", \"to\": " + name(record.toSite.data()) +
               ", \"record\": " + std::to_string(record.recordNumber) +
               ", \"inUse\": " + (v ? "true" : "false") +
               ", \"components\": " + componentsEntry(v, g.preanalysis) +
               ", \"length\": " + (v ? number(v->length) : "null") +
               ", \"azimuth\": " + (v ? number(v->azimuth) : "null") +
               ", \"heightDifference\": " + (v ? number(v->heightDifference) : "null") + "}";
    }
    return out;
}

std::string pairEntries(const RigorousResults& g) {
    std::string out;
    for (const RigorousPairResult& p : g.pairs) {
        out += out.empty() ? "\n  " : ",\n  ";
        out += "{\"from\": " + name(p.from) + ", \"to\": " + name(p.to) +
               ", \"distance\": " + number(p.distance) + ", \"semiMajor\": " + number(p.semiMajor) +
               ", \"semiMinor\": " + number(p.semiMinor) + ", \"azimuth\": " + number(p.azimuth) +
               ", \"verticalSigma\": " + number(p.verticalSigma) + ", \"ppm\": " + number(p.ppm) +
               ", \"confidence\": " + number(g.confidence) + "}";
    }
    return out;
}

std::string snoopingEntries(const AdjustmentJob& job) {
    std::string out;
    for (const AdjustmentJob::SnoopedVector& v : job.snoopedVectors()) {
        out += out.empty() ? "\n  " : ",\n  ";
        out += "{\"from\": " + name(v.from) + ", \"to\": " + name(v.to) +
               ", \"record\": " + std::to_string(v.record) +
               ", \"studentized\": " + number(v.studentized) + "}";
    }
    return out;
}

}  // namespace

std::string statisticsDocument(const AdjustmentJob& job) {
    const RigorousResults& g = job.engine().state().rigorous;
    // A pre-analysis has no a-posteriori sigma0 and no chi-square test.
    const auto measured = [&g](double x) { return g.preanalysis ? "null" : number(x); };
    std::string out =
        "{\"model\": \"rigorous\", \"degreesOfFreedom\": " + std::to_string(g.degreesOfFreedom) +
        ",\n \"sigma0\": {\"apriori\": " + number(g.aprioriSigma0) +
        ", \"aposteriori\": " + measured(g.posteriorSigma0) + "},\n \"scaledBy\": \"" +
        (g.scaledByPosterior ? "aposteriori" : "apriori") +
        "\",\n \"chiSquare\": {\"value\": " + measured(g.chiSquare) +
        ", \"lower\": " + measured(g.chiSquareLower) +
        ", \"upper\": " + measured(g.chiSquareUpper) + ", \"passed\": " +
        (g.preanalysis       ? "null"
         : g.chiSquarePassed ? "true"
                             : "false") +
        "},\n \"criticalValues\": {\"studentized\": " + number(g.criticalValue) +
        ", \"alpha0\": " + number(g.alpha0) + ", \"power\": " + number(g.power) +
        ", \"delta0\": " + number(g.delta0) + "},\n \"confidence\": " + number(g.confidence) +
        ",\n \"redundancySum\": " + number(g.redundancySum) +
        ",\n \"preanalysis\": " + (g.preanalysis ? "true" : "false") + ",\n \"sites\": [";
    for (std::size_t k = 0; k < g.sites.size(); ++k)
        out += (k ? ",\n  " : "\n  ") + siteEntry(g.sites[k], g.confidence);
    out += "],\n \"vectors\": [" + vectorEntries(job) + "],\n \"relativePrecision\": [" +
           pairEntries(g) + "],\n \"snooping\": [" + snoopingEntries(job) + "]}\n";
    return out;
}

bool writeFileAtomically(const char* path, const std::string& text) {
    std::string temporary = std::string(path) + ".XXXXXX";
    const int descriptor = mkstemp(temporary.data());
    if (descriptor < 0)
        return false;
    // mkstemp makes the file readable by its owner only; the statistics are an ordinary file.
    constexpr mode_t kFileMode = 0644;
    fchmod(descriptor, kFileMode);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(descriptor, text.data() + written, text.size() - written);
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    const bool closed = close(descriptor) == 0;
    if (written != text.size() || !closed || std::rename(temporary.c_str(), path) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace torvek
