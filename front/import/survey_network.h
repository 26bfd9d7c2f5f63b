#pragma once

// The network of a survey file as its importer reads it, before it becomes a project document:
// one model for the plain-text vector format, both XML forms of the open adjustment package and
// the station and measurement files of the open XML format. docs/importers.md gives each mapping.

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "front/project/project_json.h"
#include "front/project/vector_covariance.h"
#include "geodesy/local_frame.h"

namespace torvek::front {

// An error in a survey file: where ("line 12", "point \"C\"") and what is wrong.
struct SurveyError {
    std::string where;
    std::string what;
};

[[noreturn]] void surveyFail(const std::string& where, const std::string& what);

enum class SitePosition {
    kNone,                 // no coordinates: the start position comes from the vectors
    kGeocentric,           // coordinates: X, Y, Z in metres
    kGeodeticEllipsoidal,  // latitude, longitude in decimal degrees, height above the ellipsoid
    kGeodeticAboveGeoid,   // latitude, longitude in decimal degrees, height above the geoid
};

struct SurveySite {
    std::string name;  // the file's own name, in full
    SitePosition position = SitePosition::kNone;
    Vector3 coordinates{};
    std::array<bool, 3> fixed{};  // latitude, longitude, height held
    // Weighted constraint along X, Y, Z (metres), when the file gives one.
    std::optional<Vector3> geocentricSigmas;
    bool inUse = true;
};

struct SurveyVector {
    std::string from, to;
    Vector3 delta{};       // Earth-centred, metres
    Matrix3 covariance{};  // of dX, dY, dZ, symmetric, in the network's covariance unit
    bool inUse = true;
    std::string where;  // the vector's place in the file, for messages
};

struct SurveyNetwork {
    std::string title;
    // A named ellipsoid of namedEllipsoids(), or a custom one; neither: the project default.
    std::string ellipsoidName;
    std::optional<NamedEllipsoid> customEllipsoid;
    std::optional<double> confidenceLevel;  // percent
    CovarianceUnit covarianceUnit = CovarianceUnit::kSquareMetres;
    std::vector<SurveySite> sites;
    std::vector<SurveyVector> vectors;
    // Measurements not read, by their kind as the file names it, with their count.
    std::map<std::string, int> skipped;
    std::vector<std::string> notes;
    std::vector<std::string> warnings;

    // Appends `vector`; throws SurveyError (at its place) when it would be one more than
    // kLargestProjectVectors, so that a huge file is refused while it is read.
    void addVector(const SurveyVector& vector);
    // The site named `name` (exact match), added without coordinates when new.
    SurveySite& site(const std::string& name);
    // The site named `name`, or nullptr.
    const SurveySite* findSite(const std::string& name) const;

  private:
    std::map<std::string, std::size_t> index_;
};

// The covariance unit a file is read with: the override when given, else the format's own.
CovarianceUnit effectiveUnit(std::optional<CovarianceUnit> override, CovarianceUnit convention);

// The semi-major axis (metres) and reciprocal flattening of the network's ellipsoid: its custom
// one, else its named one, else WGS 84 (the project default).
NamedEllipsoid surveyEllipsoid(const SurveyNetwork& network);

// The Earth-centred position (metres) of a site the file places on the ellipsoid, Earth-centred or
// by latitude, longitude and ellipsoidal height; nullopt for a site without coordinates or with a
// height above the geoid, whose ellipsoidal height the file does not give.
std::optional<Vector3> filePosition(const SurveySite& site, const NamedEllipsoid& ellipsoid);

// The project document of the network: sites without coordinates start from a neighbour's position
// plus the vector between them; sites without coordinates or vectors are left out. Throws
// SurveyError when a site cannot be placed. Notes about what was assumed go to network.notes,
// and a warning to network.warnings when the vectors' sigmas look like a unit slip.
Json surveyProject(SurveyNetwork& network);

// Degrees of an angle written as degrees-minutes-seconds "d-m-s" ("-50-49-19.404") or as decimal
// degrees; nullopt when the text is neither.
std::optional<double> parseDegrees(const std::string& text);

// A number that fills the whole text (blanks around it allowed) and is finite; nullopt otherwise.
std::optional<double> parseNumber(std::string_view text);

// Why `text`, given for the field `what`, is no number parseNumber takes: "WHAT is out of range
// (TEXT is beyond what a double holds)" for a number too large or too small (1e400, 1e-400), else
// "WHAT must be a number, not \"TEXT\"".
std::string numberError(const std::string& what, std::string_view text);

}  // namespace torvek::front
