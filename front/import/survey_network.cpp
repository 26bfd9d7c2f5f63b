#include "front/import/survey_network.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <deque>

#include "dataset/data_set_header.h"
#include "dataset/project_data_set.h"
#include "front/project/site_name_mapping.h"
#include "front/text/unicode_text.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/geodetic_conversion.h"

namespace torvek::front {
namespace {

// Sigmas of GNSS vectors outside these bounds (metres) are far more likely a unit slip (m^2 read
// as mm^2 or the other way round) than a measurement: the sharpest carrier-phase baselines reach
// a few tenths of a millimetre, and a vector worse than a metre is no geodetic measurement.
constexpr double kPlausibleSigmaLow = 1.0e-4;
constexpr double kPlausibleSigmaHigh = 1.0;
constexpr double kMillimetresPerMetre = 1000.0;
// Sites listed by name in a note, at most; the rest are counted.
constexpr std::size_t kNamesInNote = 5;
constexpr double kMinutesPerDegree = 60.0;
constexpr double kSecondsPerDegree = 3600.0;

std::string nameList(const std::vector<std::string>& names) {
    std::string list;
    for (std::size_t i = 0; i < names.size() && i < kNamesInNote; ++i) {
        list += (i ? ", " : "") + ("\"" + names[i] + "\"");
    }
    if (names.size() > kNamesInNote) {
        list += " and " + std::to_string(names.size() - kNamesInNote) + " more";
    }
    return list;
}

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The title as one line of at most the data set's title size, cut at a character boundary.
std::string titleLine(const std::string& text, bool& cut) {
    std::string line;
    bool blank = false;
    for (char c : text) {
        const bool space = c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0';
        if (space) {
            blank = !line.empty();
            continue;
        }
        if (blank) {
            line += ' ';
            blank = false;
        }
        line += c;
    }
    cut = line.size() > kHeaderTextSize;
    if (cut) {
        std::size_t end = kHeaderTextSize;
        // Back up over UTF-8 continuation bytes so that no character is split.
        while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) {
            --end;
        }
        line.resize(end);
    }
    return line;
}

// Earth-centred start position of a site with coordinates. A height above the geoid stands in for
// the ellipsoidal one: the difference (tens of metres) only moves a start value.
Vector3 startPosition(const SurveySite& site, double a, double e2) {
    if (site.position == SitePosition::kGeocentric) {
        return site.coordinates;
    }
    return cartesianFromGeodeticAt(a, e2, radiansFromDegrees(site.coordinates[0]),
                                   radiansFromDegrees(site.coordinates[1]), site.coordinates[2]);
}

Json siteJson(const SurveySite& site, const std::optional<Vector3>& start,
              const std::string& code) {
    Json out = Json::object();
    out["name"] = site.name;
    if (!code.empty() && projectSiteName(code.c_str()) != site.name) {
        out["code"] = projectSiteName(code.c_str());
    }
    switch (site.position) {
        case SitePosition::kNone:
            out["x"] = (*start)[0];
            out["y"] = (*start)[1];
            out["z"] = (*start)[2];
            break;
        case SitePosition::kGeocentric:
            out["x"] = site.coordinates[0];
            out["y"] = site.coordinates[1];
            out["z"] = site.coordinates[2];
            break;
        case SitePosition::kGeodeticEllipsoidal:
        case SitePosition::kGeodeticAboveGeoid:
            out["latitude"] = site.coordinates[0];
            out["longitude"] = site.coordinates[1];
            out[site.position == SitePosition::kGeodeticEllipsoidal ? "ellipsoidalHeight"
                                                                    : "elevation"] =
                site.coordinates[2];
            break;
    }
    if (site.geocentricSigmas) {
        out["sigmas"] = {{"x", (*site.geocentricSigmas)[0]},
                         {"y", (*site.geocentricSigmas)[1]},
                         {"z", (*site.geocentricSigmas)[2]}};
    }
    if (site.fixed[0] && site.fixed[1] && site.fixed[2]) {
        out["fixed"] = true;
    } else if (site.fixed[0] || site.fixed[1] || site.fixed[2]) {
        Json fixed = Json::object();
        const char* const keys[3] = {"latitude", "longitude", "elevation"};
        for (int i = 0; i < 3; ++i) {
            if (site.fixed[i]) {
                fixed[keys[i]] = true;
            }
        }
        out["fixed"] = fixed;
    }
    if (!site.inUse) {
        out["inUse"] = false;
    }
    return out;
}

Json vectorJson(const SurveyVector& v, CovarianceUnit unit) {
    Json out = Json::object();
    out["from"] = v.from;
    out["to"] = v.to;
    out["dX"] = v.delta[0];
    out["dY"] = v.delta[1];
    out["dZ"] = v.delta[2];
    const Matrix3& c = v.covariance;
    out["covariance"] = {
        {"unit", covarianceUnitName(unit)},
        {"matrix", Json::array({Json::array({element(c, 0, 0), element(c, 0, 1), element(c, 0, 2)}),
                                Json::array({element(c, 1, 1), element(c, 1, 2)}),
                                Json::array({element(c, 2, 2)})})}};
    if (!v.inUse) {
        out["inUse"] = false;
    }
    return out;
}

// Names in a file that is not UTF-8 are taken as Latin-1, as the report's text is, so that the
// project (UTF-8 by its format) holds them as the file meant them.
void readNamesAsUtf8(SurveyNetwork& network) {
    std::vector<std::string> converted;
    for (SurveySite& site : network.sites) {
        if (!isUtf8(site.name)) {
            site.name = asUtf8(site.name);
            converted.push_back(site.name);
        }
    }
    for (SurveyVector& v : network.vectors) {
        v.from = asUtf8(v.from);
        v.to = asUtf8(v.to);
    }
    if (!converted.empty()) {
        network.notes.push_back("site names that are not UTF-8 are read as Latin-1: " +
                                nameList(converted));
    }
}

// The warning about sigmas of an implausible size, or nothing.
std::optional<std::string> implausibleSigmas(const SurveyNetwork& network) {
    int count = 0;
    std::string first;
    for (const SurveyVector& v : network.vectors) {
        for (int i = 0; i < 3; ++i) {
            const double sigma = std::sqrt(std::fabs(element(v.covariance, i, i)) *
                                           squareMetresPer(network.covarianceUnit));
            if (sigma < kPlausibleSigmaLow || sigma > kPlausibleSigmaHigh) {
                if (count++ == 0) {
                    char text[48];
                    std::snprintf(text, sizeof text, "%.3g mm", sigma * kMillimetresPerMetre);
                    first = v.where + ": " + text;
                }
                break;
            }
        }
    }
    if (count == 0) {
        return std::nullopt;
    }
    const CovarianceUnit other = network.covarianceUnit == CovarianceUnit::kSquareMetres
                                     ? CovarianceUnit::kSquareMillimetres
                                     : CovarianceUnit::kSquareMetres;
    return std::to_string(count) + " of " + std::to_string(network.vectors.size()) +
           " vectors have a standard deviation below 0.1 mm or above 1 m with the covariances "
           "read in " +
           covarianceUnitName(network.covarianceUnit) + " (first: " + first +
           "); if the file gives them in " + covarianceUnitName(other) +
           ", import it with --covariance-unit " + covarianceUnitName(other);
}

}  // namespace

void surveyFail(const std::string& where, const std::string& what) {
    throw SurveyError{where, what};
}

SurveySite& SurveyNetwork::site(const std::string& name) {
    auto it = index_.find(name);
    if (it != index_.end()) {
        return sites[it->second];
    }
    index_.emplace(name, sites.size());
    sites.push_back(SurveySite{});
    sites.back().name = name;
    return sites.back();
}

const SurveySite* SurveyNetwork::findSite(const std::string& name) const {
    auto it = index_.find(name);
    return it == index_.end() ? nullptr : &sites[it->second];
}

CovarianceUnit effectiveUnit(std::optional<CovarianceUnit> override, CovarianceUnit convention) {
    return override ? *override : convention;
}

namespace {

// The ellipsoid of a survey network (surveyEllipsoid) as its two numbers.
struct EllipsoidAxes {
    double semiMajorAxis = kWgs84SemiMajorAxis;  // metres
    double inverseFlattening = kWgs84InverseFlattening;
};

EllipsoidAxes ellipsoidAxes(const SurveyNetwork& network) {
    const NamedEllipsoid e = surveyEllipsoid(network);
    return {e.semiMajorAxis, e.inverseFlattening};
}

// Earth-centred start positions of the sites, one per site: from their coordinates where they
// have them, else spread along the vectors from those, breadth first.
struct StartPositions {
    std::vector<std::optional<Vector3>> position;
    std::vector<bool> joined;         // the site has a vector
    std::vector<std::string> placed;  // names of the sites placed along a vector, in order
};

StartPositions startPositions(const SurveyNetwork& network, const EllipsoidAxes& ellipsoid) {
    const std::size_t count = network.sites.size();
    const double e2 = eccentricitySquared(ellipsoid.inverseFlattening);
    std::map<std::string, std::size_t> index;
    std::vector<std::vector<std::pair<std::size_t, Vector3>>> edges(count);
    for (std::size_t i = 0; i < count; ++i) {
        index.emplace(network.sites[i].name, i);
    }
    for (const SurveyVector& v : network.vectors) {
        const std::size_t from = index.at(v.from), to = index.at(v.to);
        edges[from].push_back({to, v.delta});
        edges[to].push_back({from, {-v.delta[0], -v.delta[1], -v.delta[2]}});
    }
    StartPositions starts;
    starts.position.resize(count);
    std::deque<std::size_t> queue;
    for (std::size_t i = 0; i < count; ++i) {
        starts.joined.push_back(!edges[i].empty());
        if (network.sites[i].position != SitePosition::kNone) {
            starts.position[i] = startPosition(network.sites[i], ellipsoid.semiMajorAxis, e2);
            queue.push_back(i);
        }
    }
    while (!queue.empty()) {
        const std::size_t i = queue.front();
        queue.pop_front();
        const Vector3 from = *starts.position[i];
        for (const auto& [j, delta] : edges[i]) {
            if (!starts.position[j]) {
                starts.position[j] =
                    Vector3{from[0] + delta[0], from[1] + delta[1], from[2] + delta[2]};
                starts.placed.push_back(network.sites[j].name);
                queue.push_back(j);
            }
        }
    }
    return starts;
}

// Positions of the sites that have a start position, in list order. Fails on a site with vectors
// but no way to a position; notes the sites placed along vectors and those left out.
std::vector<std::size_t> keptSites(SurveyNetwork& network, const StartPositions& starts) {
    std::vector<std::size_t> kept;
    std::vector<std::string> unplaced, dropped;
    for (std::size_t i = 0; i < network.sites.size(); ++i) {
        if (!starts.position[i]) {
            (starts.joined[i] ? unplaced : dropped).push_back(network.sites[i].name);
            continue;
        }
        kept.push_back(i);
    }
    if (!unplaced.empty()) {
        surveyFail("site " + nameList({unplaced.front()}),
                   "has no coordinates, and no chain of vectors joins it to a site that has them "
                   "(sites without a start position: " +
                       nameList(unplaced) + ")");
    }
    const std::vector<std::string>& placed = starts.placed;
    if (!placed.empty()) {
        network.notes.push_back(std::to_string(placed.size()) +
                                (placed.size() == 1 ? " site has" : " sites have") +
                                " no coordinates in the file and start from a neighbour's "
                                "position plus the vector between them: " +
                                nameList(placed));
    }
    if (!dropped.empty()) {
        network.notes.push_back(
            std::to_string(dropped.size()) + (dropped.size() == 1 ? " site has" : " sites have") +
            " neither coordinates nor vectors and are left out: " + nameList(dropped));
    }
    return kept;
}

// The project's sites, with their codes. The codes go into the project, so that they stay the
// same however it is edited later. Names that cannot have codes (two alike, say) are left for
// the project import to refuse.
Json siteArray(SurveyNetwork& network, const StartPositions& starts,
               const std::vector<std::size_t>& kept) {
    std::vector<SiteNaming> naming;
    for (std::size_t i : kept) {
        naming.push_back({network.sites[i].name, std::nullopt});
    }
    SiteCodes codes;
    SiteNamingError namingError;
    if (!assignSiteCodes(naming, codes, namingError)) {
        codes.codes.assign(kept.size(), std::string());
    } else if (const std::optional<std::string> note = madeCodesNote(naming, codes)) {
        network.notes.push_back(*note);
    }
    Json sites = Json::array();
    for (std::size_t k = 0; k < kept.size(); ++k) {
        sites.push_back(siteJson(network.sites[kept[k]], starts.position[kept[k]], codes.codes[k]));
    }
    return sites;
}

void noteSkipped(SurveyNetwork& network) {
    if (network.skipped.empty()) {
        return;
    }
    std::string list;
    for (const auto& [kind, count] : network.skipped) {
        list += (list.empty() ? "" : ", ") + std::to_string(count) + " of kind " + kind;
    }
    network.notes.push_back("only GNSS vectors are read; skipped " + list);
}

Json projectSettings(const SurveyNetwork& network, const EllipsoidAxes& ellipsoid) {
    Json settings = Json::object();
    if (network.customEllipsoid) {
        settings["ellipsoid"] = {{"semiMajorAxis", ellipsoid.semiMajorAxis},
                                 {"inverseFlattening", ellipsoid.inverseFlattening}};
    } else if (!network.ellipsoidName.empty()) {
        settings["ellipsoid"] = network.ellipsoidName;
    }
    if (network.confidenceLevel) {
        settings["confidenceLevel"] = *network.confidenceLevel;
    }
    // The survey formats know no datum bias parameters: held at zero (a sigma of kMinimumSigma
    // holds a parameter), the adjustment is theirs.
    Json bias = Json::object();
    for (const char* parameter : {"rotationNorth", "rotationEast", "rotationUp", "scale"}) {
        bias[parameter] = {{"value", 0.0}, {"sigma", kMinimumSigma}};
    }
    settings["datumBias"] = bias;
    return settings;
}

}  // namespace

Json surveyProject(SurveyNetwork& network) {
    const EllipsoidAxes ellipsoid = ellipsoidAxes(network);
    readNamesAsUtf8(network);
    const StartPositions starts = startPositions(network, ellipsoid);
    const std::vector<std::size_t> kept = keptSites(network, starts);
    Json sites = siteArray(network, starts, kept);
    noteSkipped(network);
    if (const std::optional<std::string> warning = implausibleSigmas(network)) {
        network.warnings.push_back(*warning);
    }

    Json project = Json::object();
    project["format"] = "torvek-project";
    project["version"] = 1;
    bool cut = false;
    const std::string title = titleLine(trim(network.title), cut);
    if (!title.empty()) {
        project["title"] = title;
    }
    if (cut) {
        network.notes.push_back("the title is cut to " + std::to_string(kHeaderTextSize) +
                                " bytes, as much as the data set keeps");
    }
    project["settings"] = projectSettings(network, ellipsoid);
    project["sites"] = sites;
    Json vectors = Json::array();
    for (const SurveyVector& v : network.vectors) {
        vectors.push_back(vectorJson(v, network.covarianceUnit));
    }
    project["vectors"] = vectors;
    return project;
}

std::optional<double> parseNumber(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\r' ||
                             text.front() == '\n')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.remove_suffix(1);
    }
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);  // from_chars takes no plus sign
    }
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

void SurveyNetwork::addVector(const SurveyVector& vector) {
    if (vectors.size() >= kLargestProjectVectors) {
        surveyFail(vector.where, "more than " + std::to_string(kLargestProjectVectors) +
                                     " vectors, more than a network the engines adjust");
    }
    vectors.push_back(vector);
}

std::string numberError(const std::string& what, std::string_view text) {
    std::string trimmed = trim(std::string(text));
    if (!trimmed.empty() && trimmed.front() == '+') {
        trimmed.erase(0, 1);
    }
    double value = 0.0;
    const char* end = trimmed.data() + trimmed.size();
    const auto [stop, error] = std::from_chars(trimmed.data(), end, value);
    if (!trimmed.empty() && stop == end &&
        (error == std::errc::result_out_of_range || !std::isfinite(value))) {
        return what + " is out of range (" + trimmed + " is beyond what a double holds)";
    }
    return what + " must be a number, not \"" + std::string(text) + "\"";
}

std::optional<double> parseDegrees(const std::string& text) {
    std::string t = trim(text);
    bool negative = false;
    if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
        negative = t[0] == '-';
        t.erase(0, 1);
    }
    const std::size_t first = t.find('-');
    if (first == std::string::npos) {
        const std::optional<double> degrees = parseNumber(t);
        if (!degrees || t.empty() || t[0] == '-') {
            return std::nullopt;
        }
        return negative ? -*degrees : *degrees;
    }
    const std::size_t second = t.find('-', first + 1);
    if (second == std::string::npos) {
        return std::nullopt;
    }
    const std::optional<double> d = parseNumber(t.substr(0, first));
    const std::optional<double> m = parseNumber(t.substr(first + 1, second - first - 1));
    const std::optional<double> s = parseNumber(t.substr(second + 1));
    if (!d || !m || !s || *d < 0 || *m < 0 || *m >= kMinutesPerDegree || *s < 0 ||
        *s >= kMinutesPerDegree || t[first + 1] == '-' || t[second + 1] == '-') {
        return std::nullopt;
    }
    const double degrees = *d + *m / kMinutesPerDegree + *s / kSecondsPerDegree;
    return negative ? -degrees : degrees;
}

NamedEllipsoid surveyEllipsoid(const SurveyNetwork& network) {
    if (network.customEllipsoid) {
        return *network.customEllipsoid;
    }
    for (const NamedEllipsoid& e : namedEllipsoids()) {
        if (e.name == network.ellipsoidName) {
            return e;
        }
    }
    return NamedEllipsoid{"", kWgs84SemiMajorAxis, kWgs84InverseFlattening};
}

std::optional<Vector3> filePosition(const SurveySite& site, const NamedEllipsoid& ellipsoid) {
    if (site.position != SitePosition::kGeocentric &&
        site.position != SitePosition::kGeodeticEllipsoidal) {
        return std::nullopt;
    }
    return startPosition(site, ellipsoid.semiMajorAxis,
                         eccentricitySquared(ellipsoid.inverseFlattening));
}

}  // namespace torvek::front
