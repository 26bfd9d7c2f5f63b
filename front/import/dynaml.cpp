#include "front/import/dynaml.h"

#include <cmath>
#include <vector>

#include "front/import/xml_reading.h"
#include "geodesy/ellipsoid.h"

namespace torvek::front {
namespace {

using xml::child;
using xml::localName;

constexpr double kMinutesPerDegree = 60.0;
constexpr double kSecondsPerDegree = 3600.0;
// Longest text read as packed degrees: a real one has a dozen characters.
constexpr std::size_t kLargestCoordinateDigits = 30;

std::string inQuotes(const std::string& text) {
    return "\"" + text + "\"";
}

double number(const pugi::xml_node& parent, const char* name, const std::string& where) {
    const pugi::xml_node node = child(parent, name);
    if (!node) {
        surveyFail(where, std::string("has no ") + name);
    }
    const std::optional<double> value = parseNumber(xml::text(node));
    if (!value) {
        surveyFail(where, numberError(name, xml::text(node)));
    }
    return *value;
}

double optionalNumber(const pugi::xml_node& parent, const char* name, double fallback,
                      const std::string& where) {
    const pugi::xml_node node = child(parent, name);
    if (!node || xml::text(node).empty()) {
        return fallback;
    }
    return number(parent, name, where);
}

// Degrees packed as ddd.mmssss (minutes and seconds as digits after the point, the sign on the
// degrees): "-37.4812345" is -(37 degrees 48 minutes 12.345 seconds).
std::optional<double> packedDegrees(const std::string& text) {
    if (text.empty() || text.size() > kLargestCoordinateDigits) {
        return std::nullopt;
    }
    std::string t = text;
    const bool negative = t[0] == '-';
    if (t[0] == '-' || t[0] == '+') {
        t.erase(0, 1);
    }
    const std::size_t point = t.find('.');
    const std::string whole = t.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : t.substr(point + 1);
    if (whole.empty() || whole.find_first_not_of("0123456789") != std::string::npos ||
        fraction.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    fraction.resize(std::max<std::size_t>(fraction.size(), 4), '0');
    // Digits only from here on, so every parse succeeds.
    const double degrees = parseNumber(whole).value_or(0.0);
    const double minutes = parseNumber(fraction.substr(0, 2)).value_or(0.0);
    const double seconds =
        parseNumber(fraction.substr(2, 2) + "." + fraction.substr(4) + "0").value_or(0.0);
    if (minutes >= kMinutesPerDegree || seconds >= kMinutesPerDegree) {
        return std::nullopt;
    }
    const double value = degrees + minutes / kMinutesPerDegree + seconds / kSecondsPerDegree;
    return negative ? -value : value;
}

void station(const pugi::xml_node& node, std::size_t index, SurveyNetwork& network) {
    const std::string name = xml::text(child(node, "Name"));
    const std::string where =
        name.empty() ? "station " + std::to_string(index) : "station " + inQuotes(name);
    if (name.empty()) {
        surveyFail(where, "has no Name");
    }
    const SurveySite* before = network.findSite(name);
    if (before != nullptr && before->position != SitePosition::kNone) {
        surveyFail(where, "is given twice");
    }
    const std::string type = xml::text(child(node, "Type"));
    const pugi::xml_node coordinates = child(node, "StationCoord");
    if (!coordinates) {
        surveyFail(where, "has no StationCoord");
    }
    SurveySite& site = network.site(name);
    if (type == "XYZ") {
        site.position = SitePosition::kGeocentric;
        site.coordinates = {number(coordinates, "XAxis", where),
                            number(coordinates, "YAxis", where),
                            number(coordinates, "Height", where)};
    } else if (type == "LLH" || type == "LLh") {
        site.position =
            type == "LLH" ? SitePosition::kGeodeticEllipsoidal : SitePosition::kGeodeticAboveGeoid;
        const char* const axes[2] = {"XAxis", "YAxis"};
        for (int k = 0; k < 2; ++k) {
            const std::string text = xml::text(child(coordinates, axes[k]));
            const std::optional<double> degrees = packedDegrees(text);
            if (!degrees) {
                surveyFail(where, std::string(axes[k]) +
                                      " must be degrees, minutes and seconds packed as "
                                      "ddd.mmssss, not " +
                                      inQuotes(text));
            }
            site.coordinates[static_cast<std::size_t>(k)] = *degrees;
        }
        site.coordinates[2] = number(coordinates, "Height", where);
    } else {
        surveyFail(where, "coordinates of type " + inQuotes(type) +
                              " are not read (XYZ, LLH and LLh are; give UTM stations in one "
                              "of those)");
    }
    const std::string constraints = xml::text(child(node, "Constraints"));
    if (constraints.empty()) {
        return;  // free
    }
    if (constraints.size() != 3 || constraints.find_first_not_of("CFcf") != std::string::npos) {
        surveyFail(where, "Constraints must be three letters C (constrained) or F (free), not " +
                              inQuotes(constraints));
    }
    for (std::size_t k = 0; k < 3; ++k) {
        site.fixed[k] = constraints[k] == 'C' || constraints[k] == 'c';
    }
    const bool all = site.fixed[0] && site.fixed[1] && site.fixed[2];
    const bool none = !site.fixed[0] && !site.fixed[1] && !site.fixed[2];
    if (type == "XYZ" && !all && !none) {
        surveyFail(where, "Constraints " + inQuotes(constraints) +
                              " of X, Y and Z: the data set holds latitude, longitude and "
                              "height, which mix all three; give the station as LLH or hold "
                              "all three");
    }
}

// A baseline's covariance (in the file's unit) scaled by its measurement's factors: Vscale on the
// whole matrix, Pscale, Lscale and Hscale on the variances along latitude, longitude and height at
// the first station (the covariances between them by the square roots).
Matrix3 scaledCovariance(const Matrix3& c, double v, double p, double l, double h,
                         const SurveySite* first) {
    Matrix3 out = c;
    for (double& value : out) {
        value *= v;
    }
    if ((p == 1.0 && l == 1.0 && h == 1.0) || first == nullptr) {
        return out;
    }
    double latitude = first->coordinates[0], longitude = first->coordinates[1];
    if (first->position == SitePosition::kGeocentric) {
        const Vector3& x = first->coordinates;
        longitude = std::atan2(x[1], x[0]) * kDegreesPerRadian;
        latitude = std::atan2(x[2], std::hypot(x[0], x[1])) * kDegreesPerRadian;
    }
    // Local frame: L = R^T C R, scaled as S L S with S = diag(sqrt(p), sqrt(l), sqrt(h)), back:
    // R (S L S) R^T. A geocentric latitude stands in for the geodetic one: the frame turns by at
    // most 0.2 degrees, far below what a scale factor resolves.
    const Matrix3 r =
        localFrameMatrixAt(radiansFromDegrees(latitude), radiansFromDegrees(longitude));
    const double s[3] = {std::sqrt(p), std::sqrt(l), std::sqrt(h)};
    Matrix3 local{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double sum = 0.0;
            for (int a = 0; a < 3; ++a) {
                for (int b = 0; b < 3; ++b) {
                    sum += element(r, a, i) * element(out, a, b) * element(r, b, j);
                }
            }
            element(local, i, j) = s[i] * sum * s[j];
        }
    }
    Matrix3 back{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            double sum = 0.0;
            for (int a = 0; a < 3; ++a) {
                for (int b = 0; b < 3; ++b) {
                    sum += element(r, i, a) * element(local, a, b) * element(r, j, b);
                }
            }
            element(back, i, j) = sum;
        }
    }
    return back;
}

class MeasurementReader {
  public:
    explicit MeasurementReader(SurveyNetwork& network) : network_(network) {}

    void measurement(const pugi::xml_node& node, std::size_t index) {
        const std::string type = xml::text(child(node, "Type"));
        const std::string where =
            "measurement " + std::to_string(index) + " (type " + inQuotes(type) + ")";
        if (type != "G" && type != "X") {
            ++network_.skipped[type.empty() ? "(none)" : type];
            return;
        }
        const bool inUse = xml::text(child(node, "Ignore")).empty();
        const double v = optionalNumber(node, "Vscale", 1.0, where);
        const double p = optionalNumber(node, "Pscale", 1.0, where);
        const double l = optionalNumber(node, "Lscale", 1.0, where);
        const double h = optionalNumber(node, "Hscale", 1.0, where);
        for (double scale : {v, p, l, h}) {
            if (!(scale > 0.0)) {
                surveyFail(where, "scale factors must be above 0");
            }
        }
        scaled_ = scaled_ || v != 1.0 || p != 1.0 || l != 1.0 || h != 1.0;
        // Ends and baselines in document order: the k-th baseline joins the k-th First and
        // Second, which a baseline may also hold itself.
        std::vector<std::string> firsts, seconds;
        std::vector<pugi::xml_node> baselines;
        for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
            if (c.type() != pugi::node_element) {
                continue;
            }
            const std::string_view name = localName(c);
            if (name == "First") {
                firsts.push_back(xml::text(c));
            } else if (name == "Second") {
                seconds.push_back(xml::text(c));
            } else if (name == "GPSBaseline") {
                baselines.push_back(c);
            }
        }
        if (baselines.empty()) {
            surveyFail(where, "has no GPSBaseline");
        }
        for (std::size_t k = 0; k < baselines.size(); ++k) {
            const pugi::xml_node b = baselines[k];
            SurveyVector vector;
            vector.from = child(b, "First") ? xml::text(child(b, "First"))
                                            : (k < firsts.size() ? firsts[k] : "");
            vector.to = child(b, "Second") ? xml::text(child(b, "Second"))
                                           : (k < seconds.size() ? seconds[k] : "");
            const std::string at =
                baselines.size() == 1 ? where : where + ", baseline " + std::to_string(k + 1);
            if (vector.from.empty() || vector.to.empty()) {
                surveyFail(at, "needs its First and Second station");
            }
            vector.where = at;
            vector.delta = {number(b, "X", at), number(b, "Y", at), number(b, "Z", at)};
            const double xx = number(b, "SigmaXX", at), xy = number(b, "SigmaXY", at),
                         xz = number(b, "SigmaXZ", at), yy = number(b, "SigmaYY", at),
                         yz = number(b, "SigmaYZ", at), zz = number(b, "SigmaZZ", at);
            const Matrix3 c = {xx, xy, xz, xy, yy, yz, xz, yz, zz};
            vector.covariance = scaledCovariance(c, v, p, l, h, network_.findSite(vector.from));
            vector.inUse = inUse;
            crossTerms_ = crossTerms_ || child(b, "GPSCovariance");
            network_.site(vector.from);
            network_.site(vector.to);
            network_.addVector(vector);
        }
        crossTerms_ = crossTerms_ || child(node, "GPSCovariance");
    }

    void finish() {
        if (crossTerms_) {
            network_.notes.push_back(
                "covariances between the baselines of a cluster (GPSCovariance) are dropped: the "
                "data set keeps each vector's own 3 x 3 covariance");
        }
        if (scaled_) {
            network_.notes.push_back(
                "baseline covariances are multiplied by their scale factors (Vscale, Pscale, "
                "Lscale, Hscale)");
        }
    }

  private:
    SurveyNetwork& network_;
    bool crossTerms_ = false;
    bool scaled_ = false;
};

pugi::xml_node dynaRoot(pugi::xml_document& document, std::string_view text, const char* which) {
    std::string error;
    if (!xml::parse(text, document, error)) {
        surveyFail(which, error);
    }
    const pugi::xml_node root = document.document_element();
    if (localName(root) != "DnaXmlFormat") {
        surveyFail(which, "is not a DnaXmlFormat document");
    }
    return root;
}

}  // namespace

DynaFileKind dynaFileKind(std::string_view text) {
    if (xml::rootName(text) != "DnaXmlFormat") {
        return DynaFileKind::kNone;
    }
    const std::string type = xml::rootAttribute(text, "type");
    if (type == "Station File") {
        return DynaFileKind::kStations;
    }
    if (type == "Measurement File") {
        return DynaFileKind::kMeasurements;
    }
    return DynaFileKind::kNone;
}

void readDynaml(std::string_view stationText, std::string_view measurementText,
                std::optional<CovarianceUnit> unit, SurveyNetwork& network) {
    network.covarianceUnit = effectiveUnit(unit, CovarianceUnit::kSquareMetres);
    pugi::xml_document stations, measurements;
    const pugi::xml_node stationRoot = dynaRoot(stations, stationText, "the station file");
    const pugi::xml_node measurementRoot =
        dynaRoot(measurements, measurementText, "the measurement file");
    std::size_t index = 0;
    for (pugi::xml_node node = stationRoot.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && localName(node) == "DnaStation") {
            station(node, ++index, network);
        }
    }
    const std::string stationFrame = stationRoot.attribute("referenceframe").as_string();
    MeasurementReader reader(network);
    index = 0;
    std::string otherFrame;
    for (pugi::xml_node node = measurementRoot.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element && localName(node) == "DnaMeasurement") {
            reader.measurement(node, ++index);
            const std::string frame = xml::text(child(node, "ReferenceFrame"));
            if (!frame.empty() && !stationFrame.empty() && frame != stationFrame &&
                otherFrame.empty()) {
                otherFrame = frame;
            }
        }
    }
    reader.finish();
    if (!otherFrame.empty()) {
        network.notes.push_back("measurements in reference frame " + inQuotes(otherFrame) +
                                " meet stations in " + inQuotes(stationFrame) +
                                ": they are used as they are, without a frame transformation");
    }
}

}  // namespace torvek::front
