#include "front/results/rigorous_statistics.h"

#include <cctype>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "front/files/file_output.h"

namespace torvek::front {
namespace {

using Node = nlohmann::json;

// A field that is missing or misstated: where (a path such as "vectors[3].components[1].mdb")
// and what is wrong.
struct FieldError {
    std::string path, what;
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string at(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
}

std::string at(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

const Node& member(const Node& object, const char* key, const std::string& path) {
    if (!object.is_object()) {
        throw FieldError{path, "expected an object"};
    }
    const auto found = object.find(key);
    if (found == object.end()) {
        throw FieldError{at(path, key), "missing"};
    }
    return *found;
}

// The number `n` at `where`; null reads as NaN where `nullable` (the statistics of what was not
// adjusted).
double numberAt(const Node& n, const std::string& where, bool nullable) {
    if (n.is_null() && nullable) {
        return kNaN;
    }
    if (!n.is_number()) {
        throw FieldError{where, nullable ? "expected a number or null" : "expected a number"};
    }
    return n.get<double>();
}

double number(const Node& object, const char* key, const std::string& path, bool nullable) {
    const Node& n = member(object, key, path);
    // The field's path is spelt out only for an error: a large network's file holds a hundred
    // thousand numbers, and the workspace reads one for every change of a plan.
    if (n.is_number()) {
        return n.get<double>();
    }
    return numberAt(n, at(path, key), nullable);
}

// A length or standard deviation: a number from 0 (or null where `nullable`).
double size(const Node& object, const char* key, const std::string& path, bool nullable) {
    const double value = number(object, key, path, nullable);
    if (value < 0.0) {
        throw FieldError{at(path, key), "expected a number from 0"};
    }
    return value;
}

bool flag(const Node& object, const char* key, const std::string& path) {
    const Node& n = member(object, key, path);
    if (!n.is_boolean()) {
        throw FieldError{at(path, key), "expected true or false"};
    }
    return n.get<bool>();
}

// A probability strictly between 0 and 1.
double probability(const Node& object, const char* key, const std::string& path) {
    const double p = number(object, key, path, false);
    if (!(p > 0.0 && p < 1.0)) {
        throw FieldError{at(path, key), "expected a probability between 0 and 1"};
    }
    return p;
}

// The field's probability, or `fallback` when the field is left out.
double probabilityOr(const Node& object, const char* key, const std::string& path,
                     double fallback) {
    return object.is_object() && object.contains(key) ? probability(object, key, path) : fallback;
}

int recordNumber(const Node& object, const std::string& path) {
    const Node& n = member(object, "record", path);
    if (!n.is_number_integer() || n.get<long long>() < 1 || n.get<long long>() > 1'000'000'000) {
        throw FieldError{at(path, "record"), "expected a record number from 1"};
    }
    return static_cast<int>(n.get<long long>());
}

const Node& array(const Node& object, const char* key, const std::string& path,
                  std::size_t size = 0) {
    const Node& n = member(object, key, path);
    if (!n.is_array() || (size != 0 && n.size() != size)) {
        throw FieldError{at(path, key), size != 0 ? "expected an array of " + std::to_string(size)
                                                  : std::string("expected an array")};
    }
    return n;
}

// A site code and its full name: one to four characters, looked up as the data set stores them.
std::pair<std::string, std::string> siteName(const Node& object, const char* key,
                                             const std::string& path, const SiteNameTable& names) {
    const Node& n = member(object, key, path);
    if (!n.is_string() || n.get<std::string>().empty() || n.get<std::string>().size() > 4) {
        throw FieldError{at(path, key), "expected a site code of one to four characters"};
    }
    const std::string stored = storedSiteName(n.get<std::string>());
    return {projectSiteName(stored.c_str()), names.nameOf(stored.c_str())};
}

// Three numbers: the array `a` at `where`.
std::array<double, 3> tripleAt(const Node& a, const std::string& where, bool nullable) {
    if (!a.is_array() || a.size() != 3) {
        throw FieldError{where, "expected an array of 3"};
    }
    std::array<double, 3> values{};
    for (std::size_t i = 0; i < 3; ++i) {
        values[i] = numberAt(a[i], at(where, i), nullable);
    }
    return values;
}

std::array<double, 3> triple(const Node& object, const char* key, const std::string& path,
                             bool nullable) {
    return tripleAt(member(object, key, path), at(path, key), nullable);
}

Matrix3 matrix(const Node& object, const char* key, const std::string& path, bool nullable) {
    const Node& rows = member(object, key, path);
    Matrix3 m{};
    if (rows.is_null() && nullable) {
        for (auto& row : m) {
            row.fill(kNaN);
        }
        return m;
    }
    array(object, key, path, 3);
    for (std::size_t i = 0; i < 3; ++i) {
        m[i] = tripleAt(rows[i], at(at(path, key), i), nullable);
    }
    return m;
}

OrientedEllipse ellipse(const Node& object, const std::string& path, double confidence,
                        bool nullable) {
    OrientedEllipse e;
    e.semiMajor = size(object, "semiMajor", path, nullable);
    e.semiMinor = size(object, "semiMinor", path, nullable);
    e.azimuth = number(object, "azimuth", path, nullable);
    e.confidence = probabilityOr(object, "confidence", path, confidence);
    return e;
}

RigorousSite site(const Node& s, const std::string& path, double confidence,
                  const SiteNameTable& names) {
    RigorousSite site;
    std::tie(site.code, site.name) = siteName(s, "name", path, names);
    site.adjusted = flag(s, "adjusted", path);
    const bool nullable = !site.adjusted;
    site.xyz = triple(s, "xyz", path, nullable);
    site.latitude = number(s, "latitude", path, nullable);
    site.longitude = number(s, "longitude", path, nullable);
    site.height = number(s, "height", path, nullable);
    site.covarianceXYZ = matrix(s, "covarianceXYZ", path, nullable);
    site.covarianceNEU = matrix(s, "covarianceNEU", path, nullable);
    const Node& e = member(s, "ellipse", path);
    if (e.is_null() && nullable) {
        site.ellipse = {kNaN, kNaN, kNaN, confidence};
    } else {
        site.ellipse = ellipse(e, at(path, "ellipse"), confidence, nullable);
    }
    site.heightSigma = size(s, "heightSigma", path, nullable);
    return site;
}

// A component of a vector in use; `measured` false for a pre-analysis, whose numbers that come
// from an observation may be null.
ComponentTest component(const Node& c, const std::string& path, bool inUse, bool measured) {
    ComponentTest t;
    const Node& axis = member(c, "axis", path);
    if (!axis.is_string() || (axis != "x" && axis != "y" && axis != "z")) {
        throw FieldError{at(path, "axis"), "expected \"x\", \"y\" or \"z\""};
    }
    t.axis = axis.get<std::string>()[0];
    const bool nullable = !inUse;
    const bool unobserved = nullable || !measured;
    t.observed = number(c, "observed", path, unobserved);
    t.adjusted = number(c, "adjusted", path, unobserved);
    t.residual = number(c, "residual", path, unobserved);
    t.residualSigma = size(c, "residualSigma", path, nullable);
    t.redundancy = number(c, "redundancy", path, nullable);
    t.standardized = number(c, "standardized", path, unobserved);
    t.studentized = number(c, "studentized", path, unobserved);
    t.mdb = size(c, "mdb", path, nullable);
    const Node& outlier = member(c, "outlier", path);
    t.outlier = !(outlier.is_null() && unobserved) && flag(c, "outlier", path);
    return t;
}

RigorousVector vector(const Node& v, const std::string& path, const SiteNameTable& names,
                      bool measured) {
    RigorousVector r;
    std::tie(r.fromCode, r.from) = siteName(v, "from", path, names);
    std::tie(r.toCode, r.to) = siteName(v, "to", path, names);
    r.record = recordNumber(v, path);
    r.inUse = flag(v, "inUse", path);
    const Node& components = array(v, "components", path, 3);
    for (std::size_t i = 0; i < 3; ++i) {
        const Node& c = components[i];
        const std::string where = at(at(path, "components"), i);
        if (c.is_null() && !r.inUse) {
            r.components[i] = {"xyz"[i], kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, kNaN, false};
            continue;
        }
        r.components[i] = component(c, where, r.inUse, measured);
    }
    // A vector out of use (left out, or taken out by snooping) was not adjusted: the program
    // states none of its numbers.
    r.length = size(v, "length", path, !r.inUse);
    r.azimuth = number(v, "azimuth", path, !r.inUse);
    r.heightDifference = number(v, "heightDifference", path, !r.inUse);
    return r;
}

RelativePrecision pair(const Node& p, const std::string& path, double confidence,
                       const SiteNameTable& names) {
    RelativePrecision r;
    std::tie(r.fromCode, r.from) = siteName(p, "from", path, names);
    std::tie(r.toCode, r.to) = siteName(p, "to", path, names);
    r.distance = size(p, "distance", path, false);
    r.ellipse = ellipse(p, path, confidence, false);
    r.verticalSigma = size(p, "verticalSigma", path, false);
    r.ppm = number(p, "ppm", path, false);
    return r;
}

SnoopingRound snoopingRound(const Node& s, const std::string& path, const SiteNameTable& names) {
    SnoopingRound r;
    std::tie(r.fromCode, r.from) = siteName(s, "from", path, names);
    std::tie(r.toCode, r.to) = siteName(s, "to", path, names);
    r.record = recordNumber(s, path);
    r.studentized = number(s, "studentized", path, false);
    return r;
}

void readHead(const Node& d, RigorousStatistics& s) {
    const Node& model = member(d, "model", "");
    if (model != "rigorous") {
        throw FieldError{"model", "expected \"rigorous\""};
    }
    const Node& dof = member(d, "degreesOfFreedom", "");
    if (!dof.is_number_integer() || dof.get<long long>() < 0 || dof.get<long long>() > 1e9) {
        throw FieldError{"degreesOfFreedom", "expected a count from 0"};
    }
    s.degreesOfFreedom = static_cast<int>(dof.get<long long>());
    // Written by engines that know it; an older file is an adjustment.
    s.preanalysis = d.contains("preanalysis") && flag(d, "preanalysis", "");
    const bool unobserved = s.preanalysis;
    const Node& sigma0 = member(d, "sigma0", "");
    s.sigma0Apriori = number(sigma0, "apriori", "sigma0", false);
    s.sigma0Aposteriori = number(sigma0, "aposteriori", "sigma0", unobserved);
    const Node& scaledBy = member(d, "scaledBy", "");
    if (scaledBy != "apriori" && scaledBy != "aposteriori") {
        throw FieldError{"scaledBy", "expected \"apriori\" or \"aposteriori\""};
    }
    s.scaledBy = scaledBy.get<std::string>();
    const Node& chi = member(d, "chiSquare", "");
    s.chiSquare = number(chi, "value", "chiSquare", unobserved);
    s.chiSquareLower = number(chi, "lower", "chiSquare", unobserved);
    s.chiSquareUpper = number(chi, "upper", "chiSquare", unobserved);
    const Node& passed = member(chi, "passed", "chiSquare");
    s.chiSquarePassed = !(passed.is_null() && unobserved) && flag(chi, "passed", "chiSquare");
    const Node& critical = member(d, "criticalValues", "");
    s.studentizedCritical = number(critical, "studentized", "criticalValues", false);
    s.alpha0 = probability(critical, "alpha0", "criticalValues");
    s.power = probability(critical, "power", "criticalValues");
    s.delta0 = number(critical, "delta0", "criticalValues", false);
    s.confidence = probability(d, "confidence", "");
}

// The elements of the array `key`, each read by `read`; an optional array left out is empty.
template <typename T, typename Read>
std::vector<T> list(const Node& d, const char* key, bool optional, Read read) {
    std::vector<T> items;
    if (optional && !d.contains(key)) {
        return items;
    }
    const Node& a = array(d, key, "");
    items.reserve(a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        items.push_back(read(a[i], at(key, i)));
    }
    return items;
}

void readDocument(const Node& d, const SiteNameTable& names, RigorousStatistics& s) {
    readHead(d, s);
    const double c = s.confidence;
    s.sites = list<RigorousSite>(d, "sites", false, [&](const Node& n, const std::string& p) {
        return site(n, p, c, names);
    });
    s.vectors = list<RigorousVector>(d, "vectors", false, [&](const Node& n, const std::string& p) {
        return vector(n, p, names, !s.preanalysis);
    });
    s.relativePrecision = list<RelativePrecision>(
        d, "relativePrecision", true,
        [&](const Node& n, const std::string& p) { return pair(n, p, c, names); });
    s.snooping = list<SnoopingRound>(d, "snooping", true, [&](const Node& n, const std::string& p) {
        return snoopingRound(n, p, names);
    });
}

}  // namespace

bool parseRigorousStatistics(const std::string& text, const std::string& sourceName,
                             const SiteNameTable& names, RigorousStatistics& statistics,
                             std::string& error) {
    if (text.size() > kMaximumStatisticsSize) {
        error = sourceName + ": larger than " + std::to_string(kMaximumStatisticsSize >> 20) +
                " MiB, more than a statistics file holds";
        return false;
    }
    const Node document = Node::parse(text, nullptr, false);
    if (document.is_discarded()) {
        error = sourceName + ": not JSON";
        return false;
    }
    RigorousStatistics read;
    try {
        readDocument(document, names, read);
    } catch (const FieldError& e) {
        error = sourceName + ": " + (e.path.empty() ? "the document" : e.path) + ": " + e.what;
        return false;
    }
    statistics = std::move(read);
    return true;
}

bool readRigorousStatistics(const std::string& path, const SiteNameTable& names,
                            RigorousStatistics& statistics, std::string& error) {
    std::string text;
    if (!readWholeFile(path, kMaximumStatisticsSize, text, error)) {
        return false;
    }
    return parseRigorousStatistics(text, path, names, statistics, error);
}

}  // namespace torvek::front
