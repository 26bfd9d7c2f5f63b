#include "front/documents/gis_export.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "front/documents/report_rendering.h"
#include "front/project/json_text.h"

namespace torvek::front {
namespace {

// Decimals of the numbers: nine of a degree are 0.1 mm on the ground; four of a metre the same.
constexpr int kDegreeDecimals = 9;
constexpr int kMetreDecimals = 4;
constexpr int kMillimetreDecimals = 1;
constexpr int kNormalizedDecimals = 2;
constexpr int kScaleDecimals = 9;
constexpr int kAngleDecimals = 4;
static_assert(kDegreeDecimals <= kMostRoundedDecimals && kScaleDecimals <= kMostRoundedDecimals);

// KML colours are aabbggrr.
const char* const kKmlSiteColour = "ff7a3f1f";
const char* const kKmlVectorColour = "ffbf8f6b";
const char* const kKmlFlaggedColour = "ff2827d6";
const char* const kKmlUnusedColour = "ffb0b0b0";
// The ids of the KML schemas of the sites' and the vectors' fields (apart from the styles' ids).
const char* const kSiteSchema = "siteFields";
const char* const kVectorSchema = "vectorFields";

// An attribute's value: null, a boolean, a whole number, a number, or a text, which refers to the
// results' own text unless it was made for the attribute. A number rounded to `decimals` is
// written from its whole count of them (appendRoundedNumber). Nothing is allocated for a value
// but a text of its own: a file of thousands of features makes a million of them.
class Value {
  public:
    enum class Kind { kNull, kFlag, kWhole, kNumber, kText };

    Value() = default;
    Value(bool flag) : kind_(Kind::kFlag), flag_(flag) {}                // NOLINT
    Value(int whole) : kind_(Kind::kWhole), whole_(whole) {}             // NOLINT
    Value(double number) : kind_(Kind::kNumber), number_(number) {}      // NOLINT
    Value(const char* text) : kind_(Kind::kText), text_(text) {}         // NOLINT
    Value(const std::string& text) : kind_(Kind::kText), text_(text) {}  // NOLINT
    Value(std::string&& text)
        : kind_(Kind::kText), owned_(std::move(text)), owns_(true) {}  // NOLINT

    static Value rounded(double number, int decimals) {
        Value value(number);
        value.decimals_ = decimals;
        return value;
    }

    Kind kind() const { return kind_; }
    bool flag() const { return flag_; }
    long long whole() const { return whole_; }
    double number() const { return number_; }
    int decimals() const { return decimals_; }
    std::string_view text() const { return owns_ ? std::string_view(owned_) : text_; }

  private:
    Kind kind_ = Kind::kNull;
    bool flag_ = false;
    long long whole_ = 0;
    double number_ = 0.0;
    int decimals_ = -1;  // 0 .. kMostRoundedDecimals for a rounded number
    std::string_view text_;
    std::string owned_;
    bool owns_ = false;
};

// A feature's attributes in the order they are written: the GeoJSON properties and the KML fields.
// The keys are fixed names. (A Json object per feature made the GIS files a third of the time of
// a whole adjust of the national network.)
using Attributes = std::vector<std::pair<const char*, Value>>;

void appendValue(std::string& out, const Value& value) {
    switch (value.kind()) {
        case Value::Kind::kNull:
            out += "null";
            break;
        case Value::Kind::kFlag:
            out += value.flag() ? "true" : "false";
            break;
        case Value::Kind::kWhole: {
            char digits[24];
            out.append(digits, std::to_chars(digits, digits + sizeof digits, value.whole()).ptr);
            break;
        }
        case Value::Kind::kNumber:
            if (value.decimals() >= 0) {
                appendRoundedNumber(out, value.number(), value.decimals());
            } else {
                appendJsonNumber(out, value.number());
            }
            break;
        case Value::Kind::kText:
            appendJsonText(out, value.text());
            break;
    }
}

// The attributes as a compact JSON object.
void appendJson(std::string& out, const Attributes& attributes) {
    CompactObject object(out);
    for (const auto& [key, value] : attributes) {
        appendValue(object.key(key), value);
    }
    object.end();
}

// `value` rounded to `decimals` (0 .. kMostRoundedDecimals); null when it is not finite (JSON has
// no NaN).
Value rounded(double value, int decimals) {
    if (!std::isfinite(value)) {
        return {};
    }
    return Value::rounded(roundToDecimals(value, decimals), decimals);
}

Value millimetres(double metres) {
    return rounded(metres * 1000.0, kMillimetreDecimals);
}

struct Position {
    bool known = false;
    double longitude = 0, latitude = 0, height = 0;  // degrees, metres above the ellipsoid
};

Position positionOf(const SiteResult& s) {
    Position p;
    p.latitude = s.adjusted ? s.adjustedLatitude : s.latitude;
    p.longitude = std::remainder(s.adjusted ? s.adjustedLongitude : s.longitude, 360.0);
    p.height = (s.adjusted ? s.adjustedElevation : s.elevation) + s.geoidHeight;
    p.known = std::isfinite(p.latitude) && std::isfinite(p.longitude) && std::isfinite(p.height) &&
              std::fabs(p.latitude) <= 90.0;
    return p;
}

// [longitude,latitude,height]
void appendCoordinate(std::string& out, const Position& p) {
    out += '[';
    appendRoundedNumber(out, p.longitude, kDegreeDecimals);
    out += ',';
    appendRoundedNumber(out, p.latitude, kDegreeDecimals);
    out += ',';
    appendRoundedNumber(out, p.height, kMetreDecimals);
    out += ']';
}

// `geoid`: the network carries geoid heights (see hasGeoidHeights).
// `geoid`: the network carries geoid heights (see hasGeoidHeights); `geocentric`: with the
// Earth-centred X, Y, Z.
Attributes siteProperties(const ResultsView& v, std::size_t i, bool geoid, bool geocentric) {
    const SiteResult& s = v.results.sites[i];
    const SiteCoordinates& c = v.coordinates[i];
    const bool known = c.available;
    Attributes p;
    p.reserve(30);
    p.emplace_back("kind", "site");
    p.emplace_back("name", s.name);
    p.emplace_back("control", controlDescription(s));
    p.emplace_back("adjusted", s.adjusted);
    p.emplace_back("latitude", known ? rounded(s.adjustedLatitude, kDegreeDecimals) : Value());
    p.emplace_back("longitude", known ? rounded(s.adjustedLongitude, kDegreeDecimals) : Value());
    p.emplace_back("ellipsoidalHeight",
                   known ? rounded(c.ellipsoidalHeight, kMetreDecimals) : Value());
    // Without geoid heights (0 counts as none) the heights above the geoid are unknown, not h.
    p.emplace_back("geoidHeight", geoid ? rounded(s.geoidHeight, kMetreDecimals) : Value());
    p.emplace_back("orthometricHeight",
                   known && geoid ? rounded(c.orthometricHeight, kMetreDecimals) : Value());
    p.emplace_back("sigmaNorthMm", known ? millimetres(s.sigmaNorth) : Value());
    p.emplace_back("sigmaEastMm", known ? millimetres(s.sigmaEast) : Value());
    p.emplace_back("sigmaUpMm", known ? millimetres(s.sigmaUp) : Value());
    p.emplace_back("ellipseSemiMajorMm", known ? millimetres(c.ellipseSemiMajor) : Value());
    p.emplace_back("ellipseSemiMinorMm", known ? millimetres(c.ellipseSemiMinor) : Value());
    p.emplace_back("ellipseAzimuth", known ? rounded(c.ellipseAzimuth, kAngleDecimals) : Value());
    const char* const axes[3] = {"X", "Y", "Z"};
    for (int k = 0; k < 3 && geocentric; ++k) {
        p.emplace_back(axes[k], known ? rounded(c.geocentric[k], kMetreDecimals) : Value());
    }
    if (v.hasGrid) {
        const bool grid = known && c.grid.valid;
        p.emplace_back("gridSystem", v.grid.code.empty() ? v.grid.name : v.grid.code);
        p.emplace_back("gridEasting", grid ? rounded(c.grid.easting, kMetreDecimals) : Value());
        p.emplace_back("gridNorthing", grid ? rounded(c.grid.northing, kMetreDecimals) : Value());
        p.emplace_back("gridScaleFactor",
                       grid ? rounded(c.grid.scaleFactor, kScaleDecimals) : Value());
        p.emplace_back("gridConvergence",
                       grid ? rounded(c.grid.convergence, kDegreeDecimals) : Value());
        p.emplace_back("gridOperation", v.grid.operation);
        p.emplace_back("gridOperationAccuracy",
                       v.grid.accuracy >= 0.0 ? Value(v.grid.accuracy) : Value());
        p.emplace_back("gridBallpark", v.grid.ballpark);
    }
    return p;
}

// `large`: a large network's file leaves out the misfit fields of the vectors that have none (the
// adjusted ones), which would be null; they take a third of each vector's line.
Attributes vectorProperties(const VectorResult& vr, bool large = false) {
    Attributes p;
    p.reserve(22);
    p.emplace_back("kind", "vector");
    p.emplace_back("from", vr.from);
    p.emplace_back("to", vr.to);
    p.emplace_back("record", vr.record);
    p.emplace_back("length", rounded(vr.length, kMetreDecimals));
    p.emplace_back("adjusted", vr.adjusted);
    p.emplace_back("aboveTau", vr.flagged);
    const char* const residualKeys[3] = {"residualNorthMm", "residualEastMm", "residualUpMm"};
    const char* const normalizedKeys[3] = {"normalizedNorth", "normalizedEast", "normalizedUp"};
    for (int k = 0; k < 3; ++k) {
        p.emplace_back(residualKeys[k], vr.adjusted ? millimetres(vr.residual[k]) : Value());
    }
    for (int k = 0; k < 3; ++k) {
        p.emplace_back(normalizedKeys[k],
                       vr.adjusted ? rounded(vr.normalized[k], kNormalizedDecimals) : Value());
    }
    p.emplace_back(
        "largestNormalized",
        vr.adjusted ? rounded(vr.signedLargestNormalized, kNormalizedDecimals) : Value());
    const char* const misfitKeys[3] = {"misfitNorthMm", "misfitEastMm", "misfitUpMm"};
    const char* const normalizedMisfitKeys[3] = {"normalizedMisfitNorth", "normalizedMisfitEast",
                                                 "normalizedMisfitUp"};
    if (large && !vr.hasMisfit) {
        return p;
    }
    for (int k = 0; k < 3; ++k) {
        p.emplace_back(misfitKeys[k], vr.hasMisfit ? millimetres(vr.misfit[k]) : Value());
    }
    for (int k = 0; k < 3; ++k) {
        p.emplace_back(
            normalizedMisfitKeys[k],
            vr.hasMisfit ? rounded(vr.normalizedMisfit[k], kNormalizedDecimals) : Value());
    }
    return p;
}

// The two ends of a vector, when both are known.
bool vectorEnds(const NetworkResults& r, const VectorResult& vr, Position& from, Position& to) {
    if (vr.fromIndex < 0 || vr.toIndex < 0) {
        return false;
    }
    from = positionOf(r.sites[static_cast<std::size_t>(vr.fromIndex)]);
    to = positionOf(r.sites[static_cast<std::size_t>(vr.toIndex)]);
    return from.known && to.known;
}

// A property value as KML text, appended: numbers as in the GeoJSON file, booleans as KML's 1 and
// 0, texts escaped.
void appendKmlValue(std::string& out, const Value& value) {
    if (value.kind() == Value::Kind::kText) {
        appendEscapedHtml(out, value.text());
    } else if (value.kind() == Value::Kind::kFlag) {
        out += value.flag() ? '1' : '0';
    } else {
        appendValue(out, value);
    }
}

// The KML type of a value; a null one is a number that the feature does not have (only numbers
// are ever null).
const char* kmlType(const Value& value) {
    switch (value.kind()) {
        case Value::Kind::kText:
            return "string";
        case Value::Kind::kFlag:
            return "bool";
        case Value::Kind::kWhole:
            return "int";
        case Value::Kind::kNumber:
        case Value::Kind::kNull:
            break;
    }
    return "double";
}

// A <Schema> of the properties of features that all have the keys of `first`, which GIS programs
// read as typed fields; each field has the type of its value in `first`, since a field has one
// kind of value in every feature, or none (null) where a number is unknown.
std::string kmlSchema(const char* id, const Attributes& first) {
    std::string out = std::string("<Schema name=\"") + id + "\" id=\"" + id + "\">";
    for (const auto& [key, value] : first) {
        out += "<SimpleField name=\"" + escapeHtml(key) + "\" type=\"" + kmlType(value) + "\"/>";
    }
    return out + "</Schema>\n";
}

// The properties as data of the schema `id`, appended; a null value is left out (unknown). The
// keys are fixed names that need no escaping.
void appendExtendedData(std::string& out, const char* id, const Attributes& properties) {
    out += "<ExtendedData><SchemaData schemaUrl=\"#";
    out += id;
    out += "\">";
    for (const auto& [key, value] : properties) {
        if (value.kind() != Value::Kind::kNull) {
            out += "<SimpleData name=\"";
            out += key;
            out += "\">";
            appendKmlValue(out, value);
            out += "</SimpleData>";
        }
    }
    out += "</SchemaData></ExtendedData>";
}

// longitude,latitude
void appendKmlCoordinate(std::string& out, const Position& p) {
    appendRoundedNumber(out, p.longitude, kDegreeDecimals);
    out += ',';
    appendRoundedNumber(out, p.latitude, kDegreeDecimals);
}

// <LineString> from `from` to `to`.
void appendKmlLine(std::string& out, const Position& from, const Position& to) {
    out += "<LineString><coordinates>";
    appendKmlCoordinate(out, from);
    out += ' ';
    appendKmlCoordinate(out, to);
    out += "</coordinates></LineString>";
}

std::string lineStyle(const char* id, const char* colour, double width) {
    return std::string("<Style id=\"") + id + "\"><LineStyle><color>" + colour + "</color><width>" +
           Json(width).dump() + "</width></LineStyle></Style>\n";
}

// The text of many features, handed to the sink in pieces of about kSinkPieceBytes: each
// feature is appended where it goes, and a file writer takes such a piece without copying it.
class FeatureText {
  public:
    explicit FeatureText(const TextSink& sink) : sink_(sink) {
        text_.reserve(kSinkPieceBytes + kSinkPieceBytes / 4);
    }
    std::string& text() { return text_; }
    // After each feature: hands over what has gathered once it is a piece.
    void featureDone() {
        if (text_.size() >= kSinkPieceBytes) {
            flush();
        }
    }
    void flush() {
        if (!text_.empty()) {
            sink_(text_);
            text_.clear();
        }
    }

  private:
    const TextSink& sink_;
    std::string text_;
};

}  // namespace

void writeGeoJson(const std::string& title, const ResultsView& v, GeoJsonLayers layers,
                  const TextSink& sink) {
    const NetworkResults& r = v.results;
    const bool geoid = hasGeoidHeights(r);
    const bool large = !documentScope(r).whole;
    bool first = true;
    // One feature a line: compact for large networks, yet a person can read and compare it. Bytes
    // of names that are not UTF-8 become U+FFFD rather than stopping the export.
    sink("{\"type\": \"FeatureCollection\", \"name\": " +
         Json(title).dump(-1, ' ', false, Json::error_handler_t::replace) + ", \"features\": [");
    FeatureText gathered(sink);
    const auto feature = [&](const Position* ends, std::size_t count, const Attributes& p) {
        std::string& line = gathered.text();
        line += first ? "\n" : ",\n";
        line += "{\"type\":\"Feature\",\"geometry\":";
        if (count == 1) {
            line += "{\"type\":\"Point\",\"coordinates\":";
            appendCoordinate(line, ends[0]);
            line += '}';
        } else if (count == 2) {
            line += "{\"type\":\"LineString\",\"coordinates\":[";
            appendCoordinate(line, ends[0]);
            line += ',';
            appendCoordinate(line, ends[1]);
            line += "]}";
        } else {
            line += "null";
        }
        line += ",\"properties\":";
        appendJson(line, p);
        line += '}';
        gathered.featureDone();
        first = false;
    };
    for (std::size_t i = 0; i < r.sites.size() && layers != GeoJsonLayers::kVectors; ++i) {
        const Position p = positionOf(r.sites[i]);
        feature(&p, p.known ? 1 : 0, siteProperties(v, i, geoid, true));
    }
    for (std::size_t i = 0; i < r.vectors.size() && layers != GeoJsonLayers::kSites; ++i) {
        const VectorResult& vr = r.vectors[i];
        Position ends[2];
        feature(ends, vectorEnds(r, vr, ends[0], ends[1]) ? 2 : 0, vectorProperties(vr, large));
    }
    gathered.text() += "\n]}\n";
    gathered.flush();
}

std::string renderGeoJson(const std::string& title, const ResultsView& v, GeoJsonLayers layers) {
    std::string out;
    writeGeoJson(title, v, layers, [&](std::string_view piece) { out += piece; });
    return out;
}

namespace {

// The folder "Sites": one Point placemark per site (without geometry when it has no position).
void kmlSites(const ResultsView& v, FeatureText& gathered) {
    const NetworkResults& r = v.results;
    const bool geoid = hasGeoidHeights(r);
    // A large network's sites leave their Earth-centred coordinates to the GeoJSON file.
    const bool large = !documentScope(r).whole;
    std::string& out = gathered.text();
    if (!r.sites.empty()) {
        out += kmlSchema(kSiteSchema, siteProperties(v, 0, geoid, !large));
    }
    out += "<Folder><name>Sites</name>\n";
    for (std::size_t i = 0; i < r.sites.size(); ++i) {
        const Position p = positionOf(r.sites[i]);
        out += "<Placemark><name>";
        appendEscapedHtml(out, r.sites[i].name);
        out += "</name><styleUrl>#site</styleUrl>";
        appendExtendedData(out, kSiteSchema, siteProperties(v, i, geoid, !large));
        if (p.known) {
            out += "<Point><coordinates>";
            appendKmlCoordinate(out, p);
            out += "</coordinates></Point>";
        }
        out += "</Placemark>\n";
        gathered.featureDone();
    }
    out += "</Folder>\n";
}

// A large network's adjusted vectors within tau, as lines without attributes in placemarks of
// kLinesPerPlacemark each: a globe viewer draws them, and their attributes are in the GeoJSON.
constexpr std::size_t kLinesPerPlacemark = 5000;

void kmlMergedVectors(const NetworkResults& r, FeatureText& gathered) {
    std::size_t inPlacemark = 0;
    std::string& out = gathered.text();
    for (const VectorResult& vr : r.vectors) {
        Position from, to;
        if (!vr.adjusted || vr.flagged || !vectorEnds(r, vr, from, to)) {
            continue;
        }
        if (inPlacemark == kLinesPerPlacemark) {
            out += "</MultiGeometry></Placemark>\n";
            inPlacemark = 0;
        }
        if (inPlacemark == 0) {
            out +=
                "<Placemark><name>Adjusted vectors within tau</name><styleUrl>#vector</styleUrl>"
                "<MultiGeometry>";
        }
        appendKmlLine(out, from, to);
        gathered.featureDone();
        ++inPlacemark;
    }
    if (inPlacemark > 0) {
        out += "</MultiGeometry></Placemark>\n";
    }
}

// The folder "Vectors": one LineString placemark per vector; in a large network only those above
// tau and those left out, the others merged (kmlMergedVectors).
void kmlVectors(const NetworkResults& r, FeatureText& gathered) {
    const bool large = !documentScope(r).whole;
    // Each vector on its own, but in a large network only those above tau and those left out.
    const auto single = [&](const VectorResult& vr) {
        return !large || vr.flagged || !vr.adjusted;
    };
    const auto first = std::find_if(r.vectors.begin(), r.vectors.end(), single);
    std::string& out = gathered.text();
    if (first != r.vectors.end()) {
        out += kmlSchema(kVectorSchema, vectorProperties(*first));
    }
    out += "<Folder><name>Vectors</name>\n";
    for (const VectorResult& vr : r.vectors) {
        if (!single(vr)) {
            continue;
        }
        Position from, to;
        const char* style = vr.flagged ? "flagged" : vr.adjusted ? "vector" : "unused";
        out += "<Placemark><name>";
        appendEscapedHtml(out, vr.from);
        out += '-';
        appendEscapedHtml(out, vr.to);
        out += "</name><styleUrl>#";
        out += style;
        out += "</styleUrl>";
        appendExtendedData(out, kVectorSchema, vectorProperties(vr));
        if (vectorEnds(r, vr, from, to)) {
            appendKmlLine(out, from, to);
        }
        out += "</Placemark>\n";
        gathered.featureDone();
    }
    if (large) {
        kmlMergedVectors(r, gathered);
    }
    out += "</Folder>\n";
}

}  // namespace

void writeKml(const std::string& title, const ResultsView& v, const TextSink& sink) {
    FeatureText gathered(sink);
    std::string& out = gathered.text();
    out +=
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml "
        "xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n<name>" +
        escapeHtml(title) + "</name>\n";
    out += std::string("<Style id=\"site\"><IconStyle><color>") + kKmlSiteColour +
           "</color></IconStyle></Style>\n";
    out += lineStyle("vector", kKmlVectorColour, 1.5);
    out += lineStyle("flagged", kKmlFlaggedColour, 3.0);
    out += lineStyle("unused", kKmlUnusedColour, 1.0);
    kmlSites(v, gathered);
    kmlVectors(v.results, gathered);
    out += "</Document>\n</kml>\n";
    gathered.flush();
}

std::string renderKml(const std::string& title, const ResultsView& v) {
    std::string out;
    writeKml(title, v, [&](std::string_view piece) { out += piece; });
    return out;
}

}  // namespace torvek::front
