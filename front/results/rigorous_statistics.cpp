#include "front/results/rigorous_statistics.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

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

// The largest record number read: more vectors than any data set holds.
constexpr long long kLargestRecordNumber = 1000000000;

int recordNumber(const Node& object, const std::string& path) {
    const Node& n = member(object, "record", path);
    if (!n.is_number_integer() || n.get<long long>() < 1 ||
        n.get<long long>() > kLargestRecordNumber) {
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

// Builds the document as a DOM parser does, except that each element of the long arrays is handed
// to `read` as soon as it is whole and is not kept: a statistics file of any size is read with
// the memory of one element.
class StreamedDocument : public nlohmann::json_sax<Node> {
  public:
    using Read = std::function<void(const std::string& array, std::size_t index, Node&& element)>;
    explicit StreamedDocument(Read read) : read_(std::move(read)) {}

    Node root;
    std::string syntaxError;  // set when the text is not JSON

    bool null() override { return add(Node(nullptr)); }
    bool boolean(bool v) override { return add(Node(v)); }
    bool number_integer(number_integer_t v) override { return add(Node(v)); }
    bool number_unsigned(number_unsigned_t v) override { return add(Node(v)); }
    bool number_float(number_float_t v, const string_t&) override { return add(Node(v)); }
    bool string(string_t& v) override { return add(Node(std::move(v))); }
    bool binary(binary_t& v) override { return add(Node::binary(std::move(v))); }
    bool key(string_t& k) override {
        key_ = std::move(k);
        return true;
    }
    bool start_object(std::size_t) override { return open(Node::object()); }
    bool start_array(std::size_t) override { return open(Node::array()); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        syntaxError = "not JSON";
        return false;
    }

  private:
    // Deeper than any field of the file: a deeper text is refused before it costs memory.
    static constexpr std::size_t kDeepestNesting = 64;

    static bool streamed(const std::string& key) {
        return key == "sites" || key == "vectors" || key == "relativePrecision" ||
               key == "snooping";
    }
    // Whether a value finished now is an element of the array being streamed.
    bool inStreamedArray() const { return streaming_ && stack_.size() == 2; }

    bool add(Node&& value) {
        if (stack_.empty()) {
            root = std::move(value);
        } else if (inStreamedArray()) {
            read_(array_, count_++, std::move(value));
        } else if (stack_.back()->is_array()) {
            stack_.back()->push_back(std::move(value));
        } else {
            (*stack_.back())[key_] = std::move(value);
        }
        return true;
    }
    bool open(Node&& value) {
        if (stack_.size() >= kDeepestNesting) {
            syntaxError = "nested deeper than " + std::to_string(kDeepestNesting) + " levels";
            return false;
        }
        Node* at = &root;
        if (!stack_.empty()) {
            Node& parent = *stack_.back();
            if (parent.is_array()) {
                parent.push_back(std::move(value));
                at = &parent.back();
            } else {
                at = &(parent[key_] = std::move(value));
            }
        } else {
            root = std::move(value);
        }
        if (stack_.size() == 1 && at->is_array() && streamed(key_)) {
            streaming_ = true;
            array_ = key_;
            count_ = 0;
        }
        stack_.push_back(at);
        return true;
    }
    bool close() {
        stack_.pop_back();
        if (stack_.size() == 1) {
            streaming_ = false;  // the streamed array itself ended
        } else if (inStreamedArray()) {
            Node& array = *stack_.back();
            read_(array_, count_++, std::move(array.back()));
            array.erase(array.size() - 1);
        }
        return true;
    }

    Read read_;
    std::vector<Node*> stack_;
    std::string key_, array_;
    bool streaming_ = false;
    std::size_t count_ = 0;
};

// Reads the elements of the long arrays as they come; those that come before the file's
// confidence (which they may default to) wait for it.
class StatisticsReader {
  public:
    StatisticsReader(const SiteNameTable& names, RigorousStatistics& s) : names_(names), s_(s) {}

    void element(const std::string& array, std::size_t index, Node&& n, const Node& root) {
        if (!confidence_ && root.is_object()) {
            const auto c = root.find("confidence");
            if (c != root.end() && c->is_number() && c->get<double>() > 0.0 &&
                c->get<double>() < 1.0) {
                confidence_ = c->get<double>();
                // The kind of file, as far as the head has told it: the vectors of a pre-analysis
                // have no observed values.
                const auto kind = root.find("preanalysis");
                preanalysis_ = kind != root.end() && kind->is_boolean() && kind->get<bool>();
            }
        }
        if (!confidence_) {
            waiting_.push_back({array, index, std::move(n)});
            return;
        }
        take(array, index, n);
    }

    // Reads the head from the document and the elements that waited for it.
    void finish(const Node& root) {
        readHead(root, s_);
        if (confidence_ && preanalysis_ != s_.preanalysis) {
            throw FieldError{"preanalysis", "must come before the sites and vectors"};
        }
        confidence_ = s_.confidence;
        preanalysis_ = s_.preanalysis;
        for (const char* key : {"sites", "vectors"}) {
            array(root, key, "");  // present and an array, even when empty
        }
        for (Waiting& w : waiting_) {
            take(w.array, w.index, w.element);
        }
    }

  private:
    struct Waiting {
        std::string array;
        std::size_t index;
        Node element;
    };

    void take(const std::string& key, std::size_t index, const Node& n) {
        const double c = *confidence_;
        const std::string path = at(key, index);
        if (key == "sites") {
            s_.sites.push_back(site(n, path, c, names_));
        } else if (key == "vectors") {
            s_.vectors.push_back(vector(n, path, names_, !preanalysis_));
        } else if (key == "relativePrecision") {
            s_.relativePrecision.push_back(pair(n, path, c, names_));
        } else {
            s_.snooping.push_back(snoopingRound(n, path, names_));
        }
    }

    const SiteNameTable& names_;
    RigorousStatistics& s_;
    std::optional<double> confidence_;
    bool preanalysis_ = false;
    std::vector<Waiting> waiting_;
};

// Parses `input` (a string or a stream) into `statistics`.
template <typename Input>
bool parseStreamed(Input&& input, const std::string& sourceName, const SiteNameTable& names,
                   RigorousStatistics& statistics, std::string& error) {
    RigorousStatistics read;
    StatisticsReader reader(names, read);
    StreamedDocument* document = nullptr;
    StreamedDocument sax([&](const std::string& array, std::size_t index, Node&& element) {
        reader.element(array, index, std::move(element), document->root);
    });
    document = &sax;
    try {
        if (!Node::sax_parse(std::forward<Input>(input), &sax) || !sax.syntaxError.empty()) {
            error = sourceName + ": " + (sax.syntaxError.empty() ? "not JSON" : sax.syntaxError);
            return false;
        }
        reader.finish(sax.root);
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
    return parseStreamed(text, sourceName, names, statistics, error);
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
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    return parseStreamed(in, path, names, statistics, error);
}

}  // namespace torvek::front
