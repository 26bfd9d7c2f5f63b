#include "front/documents/gis_export.h"

#include <cmath>

#include "front/documents/report_rendering.h"
#include "front/project/project_json.h"

namespace torvek::front {
namespace {

// Nine decimals of a degree are 0.1 mm on the ground; four of a metre the same.
constexpr double kDegreeUnits = 1e9;
constexpr double kMetreUnits = 1e4;
constexpr double kMillimetreUnits = 10.0;
constexpr double kNormalizedUnits = 100.0;
constexpr double kScaleUnits = 1e9;

// KML colours are aabbggrr.
const char* const kKmlSiteColour = "ff7a3f1f";
const char* const kKmlVectorColour = "ffbf8f6b";
const char* const kKmlFlaggedColour = "ff2827d6";
const char* const kKmlUnusedColour = "ffb0b0b0";

// `value` rounded to 1 / units; null when it is not finite (JSON has no NaN).
Json rounded(double value, double units) {
    if (!std::isfinite(value)) {
        return nullptr;
    }
    return std::round(value * units) / units;
}

Json millimetres(double metres) {
    return rounded(metres * 1000.0, kMillimetreUnits);
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

Json coordinate(const Position& p) {
    return Json::array({rounded(p.longitude, kDegreeUnits), rounded(p.latitude, kDegreeUnits),
                        rounded(p.height, kMetreUnits)});
}

Json siteProperties(const ResultsView& v, std::size_t i) {
    const SiteResult& s = v.results.sites[i];
    const SiteCoordinates& c = v.coordinates[i];
    Json p = Json::object();
    p["kind"] = "site";
    p["name"] = s.name;
    p["control"] = controlDescription(s);
    p["adjusted"] = s.adjusted;
    p["latitude"] = c.available ? rounded(s.adjustedLatitude, kDegreeUnits) : Json(nullptr);
    p["longitude"] = c.available ? rounded(s.adjustedLongitude, kDegreeUnits) : Json(nullptr);
    p["ellipsoidalHeight"] =
        c.available ? rounded(c.ellipsoidalHeight, kMetreUnits) : Json(nullptr);
    p["geoidHeight"] = rounded(s.geoidHeight, kMetreUnits);
    p["orthometricHeight"] =
        c.available ? rounded(c.orthometricHeight, kMetreUnits) : Json(nullptr);
    p["sigmaNorthMm"] = c.available ? millimetres(s.sigmaNorth) : Json(nullptr);
    p["sigmaEastMm"] = c.available ? millimetres(s.sigmaEast) : Json(nullptr);
    p["sigmaUpMm"] = c.available ? millimetres(s.sigmaUp) : Json(nullptr);
    p["ellipseSemiMajorMm"] = c.available ? millimetres(c.ellipseSemiMajor) : Json(nullptr);
    p["ellipseSemiMinorMm"] = c.available ? millimetres(c.ellipseSemiMinor) : Json(nullptr);
    p["ellipseAzimuth"] = c.available ? Json(c.ellipseAzimuth) : Json(nullptr);
    const char* const axes[3] = {"X", "Y", "Z"};
    for (int k = 0; k < 3; ++k) {
        p[axes[k]] = c.available ? rounded(c.geocentric[k], kMetreUnits) : Json(nullptr);
    }
    if (v.hasGrid) {
        const bool grid = c.available && c.grid.valid;
        p["gridSystem"] = v.grid.code.empty() ? v.grid.name : v.grid.code;
        p["gridEasting"] = grid ? rounded(c.grid.easting, kMetreUnits) : Json(nullptr);
        p["gridNorthing"] = grid ? rounded(c.grid.northing, kMetreUnits) : Json(nullptr);
        p["gridScaleFactor"] = grid ? rounded(c.grid.scaleFactor, kScaleUnits) : Json(nullptr);
        p["gridConvergence"] = grid ? rounded(c.grid.convergence, kDegreeUnits) : Json(nullptr);
    }
    return p;
}

Json vectorProperties(const VectorResult& vr) {
    Json p = Json::object();
    p["kind"] = "vector";
    p["from"] = vr.from;
    p["to"] = vr.to;
    p["record"] = vr.record;
    p["length"] = rounded(vr.length, kMetreUnits);
    p["adjusted"] = vr.adjusted;
    p["aboveTau"] = vr.flagged;
    const char* const residualKeys[3] = {"residualNorthMm", "residualEastMm", "residualUpMm"};
    const char* const normalizedKeys[3] = {"normalizedNorth", "normalizedEast", "normalizedUp"};
    for (int k = 0; k < 3; ++k) {
        p[residualKeys[k]] = vr.adjusted ? millimetres(vr.residual[k]) : Json(nullptr);
    }
    for (int k = 0; k < 3; ++k) {
        p[normalizedKeys[k]] =
            vr.adjusted ? rounded(vr.normalized[k], kNormalizedUnits) : Json(nullptr);
    }
    p["largestNormalized"] =
        vr.adjusted ? rounded(vr.signedLargestNormalized, kNormalizedUnits) : Json(nullptr);
    const char* const misfitKeys[3] = {"misfitNorthMm", "misfitEastMm", "misfitUpMm"};
    const char* const normalizedMisfitKeys[3] = {"normalizedMisfitNorth", "normalizedMisfitEast",
                                                 "normalizedMisfitUp"};
    for (int k = 0; k < 3; ++k) {
        p[misfitKeys[k]] = vr.hasMisfit ? millimetres(vr.misfit[k]) : Json(nullptr);
    }
    for (int k = 0; k < 3; ++k) {
        p[normalizedMisfitKeys[k]] =
            vr.hasMisfit ? rounded(vr.normalizedMisfit[k], kNormalizedUnits) : Json(nullptr);
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

// A property value as KML text: numbers as JSON writes them, booleans as words, null as nothing.
std::string kmlValue(const Json& value) {
    if (value.is_null()) {
        return "";
    }
    if (value.is_string()) {
        return value.get<std::string>();
    }
    return value.dump();
}

std::string kmlCoordinate(const Position& p) {
    return rounded(p.longitude, kDegreeUnits).dump() + "," +
           rounded(p.latitude, kDegreeUnits).dump();
}

std::string extendedData(const Json& properties) {
    std::string out = "<ExtendedData>";
    for (const auto& [key, value] : properties.items()) {
        out += "<Data name=\"" + escapeHtml(key) + "\"><value>" + escapeHtml(kmlValue(value)) +
               "</value></Data>";
    }
    return out + "</ExtendedData>";
}

std::string lineStyle(const char* id, const char* colour, double width) {
    return std::string("<Style id=\"") + id + "\"><LineStyle><color>" + colour + "</color><width>" +
           Json(width).dump() + "</width></LineStyle></Style>\n";
}

}  // namespace

std::string renderGeoJson(const std::string& title, const ResultsView& v) {
    const NetworkResults& r = v.results;
    // One feature a line: compact for large networks, yet a person can read and compare it. Bytes
    // of names that are not UTF-8 become U+FFFD rather than stopping the export. Each feature is
    // written out as soon as it is made, so that the memory held is the text and one feature, not
    // a tree of every feature besides the text (which took hundreds of MB at 30,000 sites).
    auto text = [](const Json& value) {
        return value.dump(-1, ' ', false, Json::error_handler_t::replace);
    };
    std::string out =
        "{\"type\": \"FeatureCollection\", \"name\": " + text(title) + ", \"features\": [";
    const char* separator = "\n";
    auto add = [&](const Json& feature) {
        out += separator;
        out += text(feature);
        separator = ",\n";
    };
    for (std::size_t i = 0; i < r.sites.size(); ++i) {
        const Position p = positionOf(r.sites[i]);
        Json feature = Json::object();
        feature["type"] = "Feature";
        feature["geometry"] =
            p.known ? Json{{"type", "Point"}, {"coordinates", coordinate(p)}} : Json(nullptr);
        feature["properties"] = siteProperties(v, i);
        add(feature);
    }
    for (const VectorResult& vr : r.vectors) {
        Position from, to;
        Json feature = Json::object();
        feature["type"] = "Feature";
        feature["geometry"] =
            vectorEnds(r, vr, from, to)
                ? Json{{"type", "LineString"},
                       {"coordinates", Json::array({coordinate(from), coordinate(to)})}}
                : Json(nullptr);
        feature["properties"] = vectorProperties(vr);
        add(feature);
    }
    return out + "\n]}\n";
}

std::string renderKml(const std::string& title, const ResultsView& v) {
    const NetworkResults& r = v.results;
    std::string out =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml "
        "xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n<name>" +
        escapeHtml(title) + "</name>\n";
    out += std::string("<Style id=\"site\"><IconStyle><color>") + kKmlSiteColour +
           "</color></IconStyle></Style>\n";
    out += lineStyle("vector", kKmlVectorColour, 1.5);
    out += lineStyle("flagged", kKmlFlaggedColour, 3.0);
    out += lineStyle("unused", kKmlUnusedColour, 1.0);
    out += "<Folder><name>Sites</name>\n";
    for (std::size_t i = 0; i < r.sites.size(); ++i) {
        const Position p = positionOf(r.sites[i]);
        out += "<Placemark><name>" + escapeHtml(r.sites[i].name) +
               "</name><styleUrl>#site</styleUrl>" + extendedData(siteProperties(v, i));
        if (p.known) {
            out += "<Point><coordinates>" + kmlCoordinate(p) + "</coordinates></Point>";
        }
        out += "</Placemark>\n";
    }
    out += "</Folder>\n<Folder><name>Vectors</name>\n";
    for (const VectorResult& vr : r.vectors) {
        Position from, to;
        const char* style = vr.flagged ? "flagged" : vr.adjusted ? "vector" : "unused";
        out += "<Placemark><name>" + escapeHtml(vr.from + "-" + vr.to) + "</name><styleUrl>#" +
               style + "</styleUrl>" + extendedData(vectorProperties(vr));
        if (vectorEnds(r, vr, from, to)) {
            out += "<LineString><coordinates>" + kmlCoordinate(from) + " " + kmlCoordinate(to) +
                   "</coordinates></LineString>";
        }
        out += "</Placemark>\n";
    }
    out += "</Folder>\n</Document>\n</kml>\n";
    return out;
}

}  // namespace torvek::front
