#include "front/results/rigorous_statistics.h"

#include <simdjson.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>

#include "front/files/file_output.h"

namespace torvek::front {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A value of the statistics file, as the checks below read it: a view into the document
// simdjson parsed (a statistics file of a national network reads in a tenth of the time of a
// general JSON library's, which matters to a run that takes a few tens of milliseconds).
class Node {
  public:
    explicit Node(simdjson::dom::element e) : e_(e) {}

    bool is_object() const { return type() == Type::OBJECT; }
    bool is_array() const { return type() == Type::ARRAY; }
    bool is_null() const { return type() == Type::NULL_VALUE; }
    bool is_boolean() const { return type() == Type::BOOL; }
    bool is_string() const { return type() == Type::STRING; }
    bool is_number_integer() const { return type() == Type::INT64 || type() == Type::UINT64; }
    bool is_number() const { return is_number_integer() || type() == Type::DOUBLE; }

    // The value; only after the matching is_...() said it is one.
    double number() const {
        double x = 0;
        return e_.get_double().get(x) == simdjson::SUCCESS ? x : kNaN;
    }
    // A whole number; one beyond the range of long long reads as the largest.
    long long integer() const {
        std::int64_t x = 0;
        return e_.get_int64().get(x) == simdjson::SUCCESS ? x
                                                          : std::numeric_limits<long long>::max();
    }
    bool boolean() const {
        bool b = false;
        return e_.get_bool().get(b) == simdjson::SUCCESS && b;
    }
    std::string_view text() const {
        std::string_view t;
        return e_.get_string().get(t) == simdjson::SUCCESS ? t : std::string_view();
    }

    // The member `key` of an object.
    std::optional<Node> find(const char* key) const {
        simdjson::dom::element found;
        if (!is_object() || e_.get_object().at_key(key).get(found) != simdjson::SUCCESS) {
            return std::nullopt;
        }
        return Node(found);
    }
    // The elements of an array, in order.
    std::vector<Node> elements() const {
        std::vector<Node> out;
        simdjson::dom::array a;
        if (e_.get_array().get(a) == simdjson::SUCCESS) {
            out.reserve(a.size());
            for (simdjson::dom::element e : a) {
                out.emplace_back(e);
            }
        }
        return out;
    }

  private:
    using Type = simdjson::dom::element_type;
    Type type() const { return e_.type(); }
    simdjson::dom::element e_;
};

// A field that is missing or misstated: where (a path such as "vectors[3].components[1].mdb")
// and what is wrong.
struct FieldError {
    std::string path, what;
};

std::string at(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
}

std::string at(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

Node member(const Node& object, const char* key, const std::string& path) {
    if (!object.is_object()) {
        throw FieldError{path, "expected an object"};
    }
    const std::optional<Node> found = object.find(key);
    if (!found) {
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
    return n.number();
}

double number(const Node& object, const char* key, const std::string& path, bool nullable) {
    const Node n = member(object, key, path);
    // The field's path is spelt out only for an error: a large network's file holds a hundred
    // thousand numbers, and the workspace reads one for every change of a plan.
    if (n.is_number()) {
        return n.number();
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
    const Node n = member(object, key, path);
    if (!n.is_boolean()) {
        throw FieldError{at(path, key), "expected true or false"};
    }
    return n.boolean();
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
    return object.find(key) ? probability(object, key, path) : fallback;
}

// The largest record number read: more vectors than any data set holds.
constexpr long long kLargestRecordNumber = 1000000000;

int recordNumber(const Node& object, const std::string& path) {
    const Node n = member(object, "record", path);
    if (!n.is_number_integer() || n.integer() < 1 || n.integer() > kLargestRecordNumber) {
        throw FieldError{at(path, "record"), "expected a record number from 1"};
    }
    return static_cast<int>(n.integer());
}

// The elements of the array `key` of `object`, `size` of them unless it is 0.
std::vector<Node> array(const Node& object, const char* key, const std::string& path,
                        std::size_t size = 0) {
    const Node n = member(object, key, path);
    std::vector<Node> elements = n.elements();
    if (!n.is_array() || (size != 0 && elements.size() != size)) {
        throw FieldError{at(path, key), size != 0 ? "expected an array of " + std::to_string(size)
                                                  : std::string("expected an array")};
    }
    return elements;
}

// A site code and its full name: one to four characters, looked up as the data set stores them.
std::pair<std::string, std::string> siteName(const Node& object, const char* key,
                                             const std::string& path, const SiteNameTable& names) {
    const Node n = member(object, key, path);
    if (!n.is_string() || n.text().empty() || n.text().size() > 4) {
        throw FieldError{at(path, key), "expected a site code of one to four characters"};
    }
    const std::string stored = storedSiteName(std::string(n.text()));
    return {projectSiteName(stored.c_str()), names.nameOf(stored.c_str())};
}

// Three numbers: the array `a` at `where`.
std::array<double, 3> tripleAt(const Node& a, const std::string& where, bool nullable) {
    const std::vector<Node> elements = a.elements();
    if (!a.is_array() || elements.size() != 3) {
        throw FieldError{where, "expected an array of 3"};
    }
    std::array<double, 3> values{};
    for (std::size_t i = 0; i < 3; ++i) {
        // The path is spelt out only for an error (see number()).
        values[i] = elements[i].is_number() ? elements[i].number()
                                            : numberAt(elements[i], at(where, i), nullable);
    }
    return values;
}

std::array<double, 3> triple(const Node& object, const char* key, const std::string& path,
                             bool nullable) {
    return tripleAt(member(object, key, path), at(path, key), nullable);
}

Matrix3 matrix(const Node& object, const char* key, const std::string& path, bool nullable) {
    const Node rows = member(object, key, path);
    Matrix3 m{};
    if (rows.is_null() && nullable) {
        for (auto& row : m) {
            row.fill(kNaN);
        }
        return m;
    }
    const std::vector<Node> elements = array(object, key, path, 3);
    for (std::size_t i = 0; i < 3; ++i) {
        m[i] = tripleAt(elements[i], at(at(path, key), i), nullable);
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
    const Node e = member(s, "ellipse", path);
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
    const Node axis = member(c, "axis", path);
    if (!axis.is_string() || (axis.text() != "x" && axis.text() != "y" && axis.text() != "z")) {
        throw FieldError{at(path, "axis"), "expected \"x\", \"y\" or \"z\""};
    }
    t.axis = axis.text()[0];
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
    const Node outlier = member(c, "outlier", path);
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
    const std::vector<Node> components = array(v, "components", path, 3);
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
    const Node model = member(d, "model", "");
    if (model.text() != "rigorous") {
        throw FieldError{"model", "expected \"rigorous\""};
    }
    const Node dof = member(d, "degreesOfFreedom", "");
    constexpr long long kLargestCount = 1000000000;
    if (!dof.is_number_integer() || dof.integer() < 0 || dof.integer() > kLargestCount) {
        throw FieldError{"degreesOfFreedom", "expected a count from 0"};
    }
    s.degreesOfFreedom = static_cast<int>(dof.integer());
    // Written by engines that know it; an older file is an adjustment.
    s.preanalysis = d.find("preanalysis") && flag(d, "preanalysis", "");
    const bool unobserved = s.preanalysis;
    const Node sigma0 = member(d, "sigma0", "");
    s.sigma0Apriori = number(sigma0, "apriori", "sigma0", false);
    s.sigma0Aposteriori = number(sigma0, "aposteriori", "sigma0", unobserved);
    const Node scaledBy = member(d, "scaledBy", "");
    if (scaledBy.text() != "apriori" && scaledBy.text() != "aposteriori") {
        throw FieldError{"scaledBy", "expected \"apriori\" or \"aposteriori\""};
    }
    s.scaledBy = std::string(scaledBy.text());
    const Node chi = member(d, "chiSquare", "");
    s.chiSquare = number(chi, "value", "chiSquare", unobserved);
    s.chiSquareLower = number(chi, "lower", "chiSquare", unobserved);
    s.chiSquareUpper = number(chi, "upper", "chiSquare", unobserved);
    const Node passed = member(chi, "passed", "chiSquare");
    s.chiSquarePassed = !(passed.is_null() && unobserved) && flag(chi, "passed", "chiSquare");
    const Node critical = member(d, "criticalValues", "");
    s.studentizedCritical = number(critical, "studentized", "criticalValues", false);
    s.alpha0 = probability(critical, "alpha0", "criticalValues");
    s.power = probability(critical, "power", "criticalValues");
    s.delta0 = number(critical, "delta0", "criticalValues", false);
    s.confidence = probability(d, "confidence", "");
}

// Deeper than any field of the file: a deeper text is refused before it costs memory.
constexpr std::size_t kDeepestNesting = 64;

// Reads the long arrays after the head, whose confidence their ellipses may default to.
void readArrays(const Node& d, RigorousStatistics& s, const SiteNameTable& names) {
    const double c = s.confidence;
    const bool measured = !s.preanalysis;
    std::size_t i = 0;
    for (const Node& n : array(d, "sites", "")) {
        s.sites.push_back(site(n, at("sites", i++), c, names));
    }
    i = 0;
    for (const Node& n : array(d, "vectors", "")) {
        s.vectors.push_back(vector(n, at("vectors", i++), names, measured));
    }
    if (d.find("relativePrecision")) {
        i = 0;
        for (const Node& n : array(d, "relativePrecision", "")) {
            s.relativePrecision.push_back(pair(n, at("relativePrecision", i++), c, names));
        }
    }
    if (d.find("snooping")) {
        i = 0;
        for (const Node& n : array(d, "snooping", "")) {
            s.snooping.push_back(snoopingRound(n, at("snooping", i++), names));
        }
    }
}

// Parses `text` into `statistics`.
bool parseDocument(const simdjson::padded_string_view text, const std::string& sourceName,
                   const SiteNameTable& names, RigorousStatistics& statistics, std::string& error) {
    // The parser's buffers fit the text; simdjson refuses a capacity below a few of its blocks.
    constexpr std::size_t kSmallestCapacity = 1 << 16;
    const std::size_t capacity = std::max(text.length(), kSmallestCapacity);
    simdjson::dom::parser parser(capacity);
    simdjson::dom::element root;
    simdjson::error_code parsed = parser.allocate(capacity, kDeepestNesting);
    if (parsed == simdjson::SUCCESS) {
        parsed = parser.parse(text).get(root);
    }
    if (parsed == simdjson::MEMALLOC) {
        throw std::bad_alloc();
    }
    if (parsed != simdjson::SUCCESS) {
        error = sourceName + ": " +
                (parsed == simdjson::DEPTH_ERROR
                     ? "nested deeper than " + std::to_string(kDeepestNesting) + " levels"
                     : std::string("not JSON"));
        return false;
    }
    RigorousStatistics read;
    try {
        const Node d(root);
        readHead(d, read);
        readArrays(d, read, names);
    } catch (const FieldError& e) {
        error = sourceName + ": " + (e.path.empty() ? "the document" : e.path) + ": " + e.what;
        return false;
    }
    statistics = std::move(read);
    return true;
}

}  // namespace

std::size_t statisticsSizeLimit(std::size_t sites, std::size_t vectors) {
    constexpr std::size_t kBytesPerVector = 4096, kBytesPerSite = 2048;
    return std::max(kMaximumStatisticsSize, kBytesPerVector * vectors + kBytesPerSite * sites);
}

bool parseRigorousStatistics(const std::string& text, const std::string& sourceName,
                             const SiteNameTable& names, RigorousStatistics& statistics,
                             std::string& error) {
    if (text.size() > kMaximumStatisticsSize) {
        error = sourceName + ": larger than " + std::to_string(kMaximumStatisticsSize >> 20) +
                " MiB, more than a statistics file holds";
        return false;
    }
    const simdjson::padded_string padded(text);
    return parseDocument(padded, sourceName, names, statistics, error);
}

bool readRigorousStatistics(const std::string& path, const SiteNameTable& names,
                            RigorousStatistics& statistics, std::string& error, std::size_t limit) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = path + ": cannot be read (" + std::strerror(errno) + ")";
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = path + ": cannot be read (not a regular file)";
        return false;
    }
    if (static_cast<std::size_t>(info.st_size) > limit) {
        error = path + ": larger than " + std::to_string(limit >> 20) +
                " MiB, more than the statistics of this network hold";
        return false;
    }
    simdjson::padded_string text;
    const simdjson::error_code loaded = simdjson::padded_string::load(path).get(text);
    if (loaded == simdjson::MEMALLOC) {
        throw std::bad_alloc();
    }
    if (loaded != simdjson::SUCCESS) {
        error = path + ": cannot be read";
        return false;
    }
    return parseDocument(text, path, names, statistics, error);
}

}  // namespace torvek::front
