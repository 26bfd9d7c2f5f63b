#include "front/import/gama_xml.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

#include "front/import/xml_reading.h"
#include "front/project/site_name_mapping.h"

namespace torvek::front {
namespace {

using xml::child;
using xml::localName;

// The largest covariance block read: a thousand vectors, more than any one processing session
// solves together, and small enough that its bookkeeping stays a few megabytes.
constexpr std::size_t kLargestCovarianceDimension = 3000;
constexpr double kPercent = 100.0;
constexpr double kMillimetresPerMetre = 1000.0;
// The g3 format's rejection bound when a file gives no <tol-abs>: a vector component that misses
// the difference of its ends' approximate coordinates by more than this many millimetres is taken
// out of use, as the format's own adjustment does.
constexpr double kDefaultToleranceMillimetres = 1000.0;
// Vectors a note names one by one before it only counts the rest.
constexpr std::size_t kNamedRejections = 10;

std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

double requiredNumber(const std::string& text, const std::string& where, const char* what) {
    const std::optional<double> value = parseNumber(text);
    if (!value) {
        surveyFail(where, numberError(what, text));
    }
    return *value;
}

std::size_t requiredCount(const std::string& text, const std::string& where, const char* what,
                          std::size_t largest) {
    const std::optional<double> value = parseNumber(text);
    if (!value || *value < 0 || *value > static_cast<double>(largest) ||
        *value != std::floor(*value)) {
        surveyFail(where, std::string(what) + " must be a whole number from 0 to " +
                              std::to_string(largest) + ", not " + inQuotes(text));
    }
    return static_cast<std::size_t>(*value);
}

// The vectors' own 3 x 3 blocks of a block of observations' covariance matrix. Elements between
// vectors or other observations are noticed, not kept.
struct BandMatrix {
    std::vector<Matrix3> blocks;
    bool crossTerms = false;  // a non-zero element joins two vectors
};

// The 3 x 3 blocks of the vectors whose rows start at `offsets` in a symmetric band matrix given
// as its upper band, row by row (dimension `dim`, `band` elements right of the diagonal).
BandMatrix diagonalBlocks(const std::vector<double>& values, std::size_t dim, std::size_t band,
                          const std::vector<std::size_t>& offsets, const std::string& where) {
    std::size_t expected = 0;
    for (std::size_t i = 0; i < dim; ++i) {
        expected += std::min(band, dim - 1 - i) + 1;
    }
    if (values.size() != expected) {
        surveyFail(where, "the covariance matrix of dimension " + std::to_string(dim) +
                              " and band " + std::to_string(band) + " holds " +
                              std::to_string(expected) + " values, not " +
                              std::to_string(values.size()));
    }
    std::vector<int> owner(dim, -1);
    for (std::size_t v = 0; v < offsets.size(); ++v) {
        for (std::size_t r = 0; r < 3; ++r) {
            owner[offsets[v] + r] = static_cast<int>(v);
        }
    }
    BandMatrix out;
    out.blocks.assign(offsets.size(), Matrix3{});
    std::size_t k = 0;
    for (std::size_t i = 0; i < dim; ++i) {
        for (std::size_t j = i; j <= std::min(i + band, dim - 1); ++j, ++k) {
            if (owner[i] < 0 || owner[i] != owner[j]) {
                out.crossTerms = out.crossTerms || values[k] != 0.0;
                continue;
            }
            const std::size_t v = static_cast<std::size_t>(owner[i]);
            const int r = static_cast<int>(i - offsets[v]);
            const int c = static_cast<int>(j - offsets[v]);
            element(out.blocks[v], r, c) = element(out.blocks[v], c, r) = values[k];
        }
    }
    return out;
}

std::vector<double> numbersIn(const std::string& text, const std::string& where) {
    std::vector<double> values;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(" \t\r\n", at);
        if (start == std::string::npos) {
            break;
        }
        std::size_t end = text.find_first_of(" \t\r\n", start);
        end = end == std::string::npos ? text.size() : end;
        values.push_back(requiredNumber(text.substr(start, end - start), where, "a covariance"));
        at = end;
    }
    return values;
}

void noteCrossTerms(SurveyNetwork& network, int blocks) {
    if (blocks > 0) {
        network.notes.push_back(
            std::to_string(blocks) +
            (blocks == 1 ? " block of vectors has" : " blocks of vectors have") +
            " covariances between its vectors: the data set keeps each vector's own 3 x 3 "
            "covariance, so they are dropped");
    }
}

void parseDocument(std::string_view text, pugi::xml_document& document) {
    std::string error;
    if (!xml::parse(text, document, error)) {
        surveyFail("", error);
    }
}

// ---- gama-local ----------------------------------------------------------------------------

void localPoint(const pugi::xml_node& node, SurveyNetwork& network) {
    const std::string id = node.attribute("id").as_string();
    const std::string where = "point " + inQuotes(id);
    if (id.empty()) {
        surveyFail("point", "has no id");
    }
    const SurveySite* before = network.findSite(id);
    const pugi::xml_attribute x = node.attribute("x"), y = node.attribute("y"),
                              z = node.attribute("z");
    const int given = (x ? 1 : 0) + (y ? 1 : 0) + (z ? 1 : 0);
    if (given != 0 && given != 3) {
        surveyFail(where, "needs x, y and z (Earth-centred coordinates) or none of them");
    }
    if (given == 3 && before != nullptr && before->position != SitePosition::kNone) {
        surveyFail(where, "has coordinates twice");
    }
    SurveySite& site = network.site(id);
    if (given == 3) {
        site.position = SitePosition::kGeocentric;
        site.coordinates = {requiredNumber(x.as_string(), where, "x"),
                            requiredNumber(y.as_string(), where, "y"),
                            requiredNumber(z.as_string(), where, "z")};
    }
    const std::string fix = foldAsciiCase(node.attribute("fix").as_string());
    const std::string adj = node.attribute("adj").as_string();
    int held = 0;
    for (char c : {'x', 'y', 'z'}) {
        held += fix.find(c) != std::string::npos ? 1 : 0;
    }
    if (held == 3) {
        site.fixed = {true, true, true};
    } else if (held != 0) {
        surveyFail(where, "fix=" + inQuotes(fix) +
                              ": x, y and z are Earth-centred here and must be held alike; the "
                              "data set holds latitude, longitude and height, which mix all three");
    }
    if (adj.find_first_of("XYZ") != std::string::npos) {
        network.notes.push_back(where + ": constrained coordinates (adj=" + inQuotes(adj) +
                                ") are read as free");
    }
}

void localVectors(const pugi::xml_node& block, SurveyNetwork& network, int& crossBlocks) {
    std::vector<SurveyVector> vectors;
    pugi::xml_node covariance;
    for (pugi::xml_node node = block.first_child(); node; node = node.next_sibling()) {
        if (node.type() != pugi::node_element) {
            continue;
        }
        if (localName(node) == "vec") {
            SurveyVector v;
            v.from = node.attribute("from").as_string();
            v.to = node.attribute("to").as_string();
            v.where = "vector " + inQuotes(v.from) + " to " + inQuotes(v.to);
            if (v.from.empty() || v.to.empty()) {
                surveyFail(v.where, "needs both ends (from, to)");
            }
            v.delta = {requiredNumber(node.attribute("dx").as_string(), v.where, "dx"),
                       requiredNumber(node.attribute("dy").as_string(), v.where, "dy"),
                       requiredNumber(node.attribute("dz").as_string(), v.where, "dz")};
            vectors.push_back(v);
        } else if (localName(node) == "cov-mat") {
            covariance = node;
        }
    }
    if (vectors.empty()) {
        return;
    }
    const std::string where = vectors.front().where;
    if (!covariance) {
        surveyFail(where, "its block of vectors has no covariance matrix (cov-mat)");
    }
    const std::size_t dim = requiredCount(covariance.attribute("dim").as_string(), where,
                                          "cov-mat dim", kLargestCovarianceDimension);
    const std::size_t band = requiredCount(covariance.attribute("band").as_string(), where,
                                           "cov-mat band", kLargestCovarianceDimension);
    if (dim != 3 * vectors.size()) {
        surveyFail(where, "the covariance matrix has dimension " + std::to_string(dim) +
                              ", not 3 for each of the block's " + std::to_string(vectors.size()) +
                              " vectors");
    }
    std::vector<std::size_t> offsets;
    for (std::size_t k = 0; k < vectors.size(); ++k) {
        offsets.push_back(3 * k);
    }
    const BandMatrix matrix =
        diagonalBlocks(numbersIn(xml::text(covariance), where), dim, band, offsets, where);
    crossBlocks += matrix.crossTerms ? 1 : 0;
    for (std::size_t k = 0; k < vectors.size(); ++k) {
        vectors[k].covariance = matrix.blocks[k];
        network.site(vectors[k].from);
        network.site(vectors[k].to);
        network.addVector(vectors[k]);
    }
}

// ---- gama-g3 -------------------------------------------------------------------------------

// How the components north, east and up of the points that follow are treated.
struct ComponentStatus {
    std::array<std::string, 3> status{"free", "free", "free"};
};

bool isStatus(std::string_view name) {
    return name == "fixed" || name == "free" || name == "constr" || name == "unused";
}

// A status element (<fixed> <n/> <e/> </fixed>; empty: all three components) applied to `out`.
void applyStatus(const pugi::xml_node& node, ComponentStatus& out) {
    const std::string status(localName(node));
    bool any = false;
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element) {
            continue;
        }
        const std::string_view component = localName(c);
        const int k = component == "n" ? 0 : component == "e" ? 1 : component == "u" ? 2 : -1;
        if (k >= 0) {
            out.status[static_cast<std::size_t>(k)] = status;
            any = true;
        }
    }
    if (!any) {
        out.status = {status, status, status};
    }
}

class G3Reader {
  public:
    G3Reader(std::optional<CovarianceUnit> unit, SurveyNetwork& network) : network_(network) {
        network_.covarianceUnit = effectiveUnit(unit, CovarianceUnit::kSquareMillimetres);
    }

    void read(const pugi::xml_node& root) {
        network_.title = xml::text(child(root, "text"));
        bool model = false;
        for (pugi::xml_node node = root.first_child(); node; node = node.next_sibling()) {
            if (node.type() == pugi::node_element && localName(node) == "g3-model") {
                readModel(node);
                model = true;
            }
        }
        if (!model) {
            surveyFail("gnu-gama-data", "holds no g3-model");
        }
        noteCrossTerms(network_, crossBlocks_);
        rejectBeyondTolerance();
        if (constrained_ > 0) {
            network_.notes.push_back(std::to_string(constrained_) +
                                     " point components are constrained (constr) or unused in "
                                     "the file and are read as free");
        }
    }

  private:
    void readModel(const pugi::xml_node& model) {
        for (pugi::xml_node node = model.first_child(); node; node = node.next_sibling()) {
            if (node.type() != pugi::node_element) {
                continue;
            }
            const std::string_view name = localName(node);
            if (name == "constants") {
                constants(node);
            } else if (isStatus(name)) {
                applyStatus(node, defaults_);
            } else if (name == "point") {
                point(node);
            } else if (name == "obs") {
                observations(node);
            }
        }
    }

    void constants(const pugi::xml_node& node) {
        if (pugi::xml_node tolerance = child(node, "tol-abs")) {
            const double t = requiredNumber(xml::text(tolerance), "tol-abs", "it");
            if (!(t > 0.0)) {
                surveyFail("tol-abs", "must be a positive number of millimetres, not " +
                                          inQuotes(xml::text(tolerance)));
            }
            toleranceMillimetres_ = t;
            toleranceGiven_ = true;
        }
        if (pugi::xml_node level = child(node, "confidence-level")) {
            const double p = requiredNumber(xml::text(level), "confidence-level", "it");
            if (!(p > 0.0 && p < 1.0)) {
                surveyFail("confidence-level",
                           "must lie between 0 and 1, not " + inQuotes(xml::text(level)));
            }
            network_.confidenceLevel = p * kPercent;
        }
        const pugi::xml_node ellipsoid = child(node, "ellipsoid");
        if (!ellipsoid) {
            return;
        }
        const std::string id = foldAsciiCase(xml::text(child(ellipsoid, "id")));
        for (const NamedEllipsoid& e : namedEllipsoids()) {
            if (foldAsciiCase(e.name) == id) {
                network_.ellipsoidName = e.name;
                return;
            }
        }
        const pugi::xml_node a = child(ellipsoid, "a");
        const pugi::xml_node b = child(ellipsoid, "b");
        const pugi::xml_node invF = child(ellipsoid, "inv-f");
        if (!a || (!b && !invF)) {
            surveyFail("ellipsoid", "\"" + id +
                                        "\" is not known here (wgs84, grs80): give its <a> and "
                                        "<inv-f> or <b>");
        }
        const double major = requiredNumber(xml::text(a), "ellipsoid", "a");
        double inverseFlattening = 0.0;
        if (invF) {
            inverseFlattening = requiredNumber(xml::text(invF), "ellipsoid", "inv-f");
        } else {
            const double minor = requiredNumber(xml::text(b), "ellipsoid", "b");
            inverseFlattening = major / (major - minor);
        }
        network_.customEllipsoid = NamedEllipsoid{"", major, inverseFlattening};
    }

    void point(const pugi::xml_node& node) {
        const std::string id = xml::text(child(node, "id"));
        if (id.empty()) {
            surveyFail("point", "has no id");
        }
        const std::string where = "point " + inQuotes(id);
        const SurveySite* before = network_.findSite(id);
        const bool hadPosition = before != nullptr && before->position != SitePosition::kNone;
        ComponentStatus status = defaults_;
        int geocentric = 0, geodetic = 0;
        Vector3 xyz{}, blh{};
        for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
            if (c.type() != pugi::node_element) {
                continue;
            }
            const std::string_view name = localName(c);
            const int k = name == "x" ? 0 : name == "y" ? 1 : name == "z" ? 2 : -1;
            const int g = name == "b" ? 0 : name == "l" ? 1 : name == "h" ? 2 : -1;
            if (k >= 0) {
                xyz[static_cast<std::size_t>(k)] =
                    requiredNumber(xml::text(c), where, std::string(name).c_str());
                ++geocentric;
            } else if (g == 2) {
                blh[2] = requiredNumber(xml::text(c), where, "h");
                ++geodetic;
            } else if (g >= 0) {
                const std::optional<double> degrees = parseDegrees(xml::text(c));
                if (!degrees) {
                    surveyFail(where, std::string(name) +
                                          " must be degrees, decimal or d-m-s, not " +
                                          inQuotes(xml::text(c)));
                }
                blh[static_cast<std::size_t>(g)] = *degrees;
                ++geodetic;
            } else if (isStatus(name)) {
                applyStatus(c, status);
            }
        }
        if ((geocentric != 0 && geocentric != 3) || (geodetic != 0 && geodetic != 3) ||
            (geocentric != 0 && geodetic != 0)) {
            surveyFail(where, "needs x, y and z, or b, l and h, or no coordinates");
        }
        if ((geocentric != 0 || geodetic != 0) && hadPosition) {
            surveyFail(where, "has coordinates twice");
        }
        SurveySite& site = network_.site(id);
        if (geocentric != 0) {
            site.position = SitePosition::kGeocentric;
            site.coordinates = xyz;
        } else if (geodetic != 0) {
            site.position = SitePosition::kGeodeticEllipsoidal;
            site.coordinates = blh;
        }
        for (std::size_t k = 0; k < 3; ++k) {
            site.fixed[k] = status.status[k] == "fixed";
            constrained_ += status.status[k] == "constr" || status.status[k] == "unused" ? 1 : 0;
        }
    }

    void observations(const pugi::xml_node& obs) {
        std::vector<SurveyVector> vectors;
        std::vector<std::size_t> offsets;  // of each vector's rows in the block's matrix
        std::size_t rows = 0;
        pugi::xml_node covariance;
        for (pugi::xml_node node = obs.first_child(); node; node = node.next_sibling()) {
            if (node.type() != pugi::node_element) {
                continue;
            }
            const std::string name(localName(node));
            if (name == "cov-mat") {
                covariance = node;
            } else if (name == "vector") {
                SurveyVector v;
                v.from = xml::text(child(node, "from"));
                v.to = xml::text(child(node, "to"));
                v.where = "vector " + inQuotes(v.from) + " to " + inQuotes(v.to);
                if (v.from.empty() || v.to.empty()) {
                    surveyFail(v.where, "needs both ends (from, to)");
                }
                v.delta = {requiredNumber(xml::text(child(node, "dx")), v.where, "dx"),
                           requiredNumber(xml::text(child(node, "dy")), v.where, "dy"),
                           requiredNumber(xml::text(child(node, "dz")), v.where, "dz")};
                offsets.push_back(rows);
                rows += 3;
                vectors.push_back(v);
            } else {
                // Other observations take one row, coordinates observed as a point three.
                rows += name == "xyz" ? 3 : 1;
                ++network_.skipped[name];
            }
        }
        if (vectors.empty()) {
            return;
        }
        const std::string where = vectors.front().where;
        if (!covariance) {
            surveyFail(where, "its observations have no covariance matrix (cov-mat)");
        }
        const std::size_t dim = requiredCount(xml::text(child(covariance, "dim")), where,
                                              "cov-mat dim", kLargestCovarianceDimension);
        const std::size_t band = requiredCount(xml::text(child(covariance, "band")), where,
                                               "cov-mat band", kLargestCovarianceDimension);
        if (dim != rows) {
            surveyFail(where, "the covariance matrix has dimension " + std::to_string(dim) +
                                  ", not the " + std::to_string(rows) +
                                  " rows of its observations");
        }
        std::vector<double> values;
        for (pugi::xml_node f = covariance.first_child(); f; f = f.next_sibling()) {
            if (f.type() == pugi::node_element && localName(f) == "flt") {
                values.push_back(requiredNumber(xml::text(f), where, "a covariance"));
                if (values.size() > dim * dim) {
                    break;  // too many already; bandBlocks says so
                }
            }
        }
        const BandMatrix matrix = diagonalBlocks(values, dim, band, offsets, where);
        crossBlocks_ += matrix.crossTerms ? 1 : 0;
        for (std::size_t k = 0; k < vectors.size(); ++k) {
            vectors[k].covariance = matrix.blocks[k];
            network_.site(vectors[k].from);
            network_.site(vectors[k].to);
            network_.addVector(vectors[k]);
        }
    }

    // Takes out of use every vector of which a component misses the difference of its ends' file
    // coordinates by more than the tolerance (both ends placed on the ellipsoid by the file), and
    // notes them with their misclosures (observed minus approximate, millimetres).
    void rejectBeyondTolerance() {
        const NamedEllipsoid ellipsoid = surveyEllipsoid(network_);
        std::vector<std::string> named;
        std::size_t rejected = 0;
        for (SurveyVector& v : network_.vectors) {
            const std::optional<Vector3> from = filePosition(*network_.findSite(v.from), ellipsoid);
            const std::optional<Vector3> to = filePosition(*network_.findSite(v.to), ellipsoid);
            if (!v.inUse || !from || !to) {
                continue;
            }
            Vector3 miss{};
            bool beyond = false;
            for (std::size_t k = 0; k < 3; ++k) {
                miss[k] = (v.delta[k] - ((*to)[k] - (*from)[k])) * kMillimetresPerMetre;
                beyond = beyond || std::fabs(miss[k]) > toleranceMillimetres_;
            }
            if (!beyond) {
                continue;
            }
            v.inUse = false;
            if (++rejected <= kNamedRejections) {
                named.push_back(v.where + " (" + misclosureText(miss) + ")");
            }
        }
        if (rejected == 0) {
            return;
        }
        const bool one = rejected == 1;
        std::string note =
            std::to_string(rejected) + (one ? " vector misses" : " vectors miss") +
            " the difference of " + (one ? "its" : "their") + " ends' coordinates by more than " +
            (toleranceGiven_ ? "the file's tol-abs" : "the format's default tol-abs") + " of " +
            numberText(toleranceMillimetres_) + " mm and " + (one ? "is" : "are") +
            " taken out of use: ";
        for (std::size_t i = 0; i < named.size(); ++i) {
            note += (i == 0 ? "" : "; ") + named[i];
        }
        if (rejected > named.size()) {
            note += "; and " + std::to_string(rejected - named.size()) + " more";
        }
        network_.notes.push_back(note);
    }

    static std::string numberText(double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%g", value);
        return text;
    }

    static std::string misclosureText(const Vector3& miss) {
        char text[96];
        std::snprintf(text, sizeof text, "misclosure %.1f, %.1f, %.1f mm", miss[0], miss[1],
                      miss[2]);
        return text;
    }

    SurveyNetwork& network_;
    double toleranceMillimetres_ = kDefaultToleranceMillimetres;
    bool toleranceGiven_ = false;
    ComponentStatus defaults_;
    int crossBlocks_ = 0;
    int constrained_ = 0;
};

}  // namespace

void readGamaLocal(std::string_view text, std::optional<CovarianceUnit> unit,
                   SurveyNetwork& network) {
    network.covarianceUnit = effectiveUnit(unit, CovarianceUnit::kSquareMillimetres);
    pugi::xml_document document;
    parseDocument(text, document);
    const pugi::xml_node root = document.document_element();
    const pugi::xml_node net = child(root, "network");
    if (localName(root) != "gama-local" || !net) {
        surveyFail("gama-local", "holds no network");
    }
    network.title = xml::text(child(net, "description"));
    if (pugi::xml_node parameters = child(net, "parameters")) {
        if (pugi::xml_attribute level = parameters.attribute("conf-pr")) {
            const double p = requiredNumber(level.as_string(), "parameters", "conf-pr");
            if (!(p > 0.0 && p < 1.0)) {
                surveyFail("parameters", "conf-pr must lie between 0 and 1");
            }
            network.confidenceLevel = p * kPercent;
        }
    }
    int crossBlocks = 0;
    for (pugi::xml_node block = net.first_child(); block; block = block.next_sibling()) {
        if (block.type() != pugi::node_element || localName(block) != "points-observations") {
            continue;
        }
        for (pugi::xml_node node = block.first_child(); node; node = node.next_sibling()) {
            if (node.type() != pugi::node_element) {
                continue;
            }
            const std::string name(localName(node));
            if (name == "point") {
                localPoint(node, network);
            } else if (name == "vectors") {
                localVectors(node, network, crossBlocks);
            } else {
                // obs, coordinates, height-differences: count what they hold.
                for (pugi::xml_node m = node.first_child(); m; m = m.next_sibling()) {
                    if (m.type() == pugi::node_element && localName(m) != "cov-mat") {
                        ++network.skipped[std::string(localName(m))];
                    }
                }
            }
        }
    }
    noteCrossTerms(network, crossBlocks);
}

void readGamaG3(std::string_view text, std::optional<CovarianceUnit> unit, SurveyNetwork& network) {
    pugi::xml_document document;
    parseDocument(text, document);
    const pugi::xml_node root = document.document_element();
    if (localName(root) != "gnu-gama-data") {
        surveyFail(std::string(localName(root)), "is not a gnu-gama-data document");
    }
    G3Reader(unit, network).read(root);
}

}  // namespace torvek::front
