#pragma once

// Pieces of the project import that read one site's position and one vector's precision. They
// throw fields::FieldError on bad input, as every field reader does.

#include <map>
#include <string>
#include <vector>

#include "dataset/site_record.h"
#include "dataset/vector_record.h"
#include "front/project/planned_vectors.h"
#include "front/project/project_json.h"

namespace torvek::front {

// Vector labels print the record number with "%05d": more digits would not fit.
inline constexpr std::int64_t kLargestVectorRecordNumber = 99999;

// The ellipsoid of the project: semi-major axis in metres, reciprocal flattening (> 1).
struct ProjectEllipsoid {
    double semiMajorAxis = 0.0;
    double inverseFlattening = 0.0;
};

// How the sites of one project gave their positions, for the notes that close the import.
struct PositionForms {
    bool aboveGeoidWithoutGeoid = false;   // "elevation" and no geoid height
    bool ellipsoidalWithoutGeoid = false;  // "ellipsoidalHeight" or x, y, z and no geoid height
    bool weightedGeocentric = false;       // constraint sigmas given along X, Y, Z
};

// Reads the position and constraint sigmas of `site` (at `path` in messages) into `record`:
// latitude and longitude in decimal degrees with "elevation" (metres above the geoid) or
// "ellipsoidalHeight" (metres above the ellipsoid), or Earth-centred "x", "y", "z" in metres,
// converted on the ellipsoid. Either form takes an optional "geoidHeight" (metres): the data set
// keeps the height above the geoid and the geoid height, which add up to the ellipsoidal height.
void readSitePosition(const Json& site, const std::string& path, const ProjectEllipsoid& ellipsoid,
                      SiteRecord& record, PositionForms& forms);

// The closing notes about the position forms met (empty when there is nothing to say).
std::vector<std::string> positionNotes(const PositionForms& forms);

// What the vector reader met, for the warning that closes the import.
struct PrecisionTally {
    int implausible = 0;           // vectors with a sigma below 0.1 mm or above 1 m
    std::string firstImplausible;  // "vectors[3] ("A" to "C"): 0.04 mm"
    int held = 0;                  // full covariances with a sigma the program holds to bounds
    std::string firstHeld;
};

// Reads the a-priori precision of `vector` into `record`: "sigmas" (metres) with optional
// "correlations" or "covariances" (square metres), or "covariance" {"unit": "m2"|"mm2", "matrix":
// full 3 x 3 or upper triangle [[xx, xy, xz], [yy, yz], [zz]]}. Refuses a covariance that is not
// positive definite, naming its eigenvalues. `notes` receives what the program will change.
void readVectorPrecision(const Json& vector, const std::string& path, VectorRecord& record,
                         PrecisionTally& tally, std::vector<std::string>& notes);

// How the planned vectors of a project are read: the sites' codes by their folded full names,
// whether the vectors join the data set (a pre-analysis) or are only checked, and the sigma model
// of those without a precision of their own.
struct PlannedReading {
    const std::map<std::string, std::string>& codeByName;
    bool addToDataSet = false;
    SigmaModel sigmaModel = kDefaultSigmaModel;
};

// Reads the list "planned" of a project: [{"from", "to"} with an optional precision as a vector
// has it ("sigmas" with "correlations" or "covariances", or "covariance")]. Each names two
// different sites of the project. Added to `ds` (after its vectors, numbered on from the
// largest record number) when `reading.addToDataSet`, with the approximate coordinates'
// differences as components (metres) and the sigma model's covariance where none is given.
void readPlannedVectors(const Json& planned, const PlannedReading& reading, AdjustedDataSet& ds,
                        PrecisionTally& tally, std::vector<std::string>& notes);

// The closing note about sigmas held to the program's bounds (empty when there is none).
std::vector<std::string> precisionNotes(const PrecisionTally& tally);

}  // namespace torvek::front
