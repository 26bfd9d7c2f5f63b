#pragma once
#include <functional>
#include <string_view>
// The statistics of the rigorous model as the sparse engine writes them (`--model rigorous
// --statistics FILE`): full covariances, redundancy numbers, standardized and studentized
// residuals, minimal detectable biases, oriented ellipses, relative precisions and the rounds of
// data snooping. Read into plain values with the sites named in full, checked against a relative
// tolerance, and written back as the front end's statistics file (docs/project-format.md, "The
// statistics file").

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "front/project/site_name_mapping.h"

namespace torvek::front {

// The largest statistics file read when its network is not known, in bytes: the engine writes
// about 1.4 KB per vector (with its pair of sites) and 0.6 KB per site, so room for some 90,000
// vectors, and small enough that a wrong file cannot exhaust memory.
inline constexpr std::size_t kMaximumStatisticsSize = std::size_t{128} << 20;

// The largest statistics file of a network of `sites` sites and `vectors` vectors: kMaximum-
// StatisticsSize, or room for 4 KB per vector and 2 KB per site (full names included) when that
// is more. The file is read whole (simdjson holds its text and an index of about the same size),
// so its size bounds the time and the memory.
std::size_t statisticsSizeLimit(std::size_t sites, std::size_t vectors);

// An ellipse in the horizontal plane: semi-axes in metres, the azimuth of the semi-major axis in
// degrees from north, clockwise, in [0, 180]; `confidence` the probability it holds, in (0, 1).
struct OrientedEllipse {
    double semiMajor = 0, semiMinor = 0, azimuth = 0, confidence = 0;
};

using Matrix3 = std::array<std::array<double, 3>, 3>;

// One site. Numbers a site not adjusted lacks are NaN.
struct RigorousSite {
    std::string code;  // as the engine names it, trailing blanks removed
    std::string name;  // in full
    bool adjusted = false;
    std::array<double, 3> xyz{};               // metres, Earth-centred
    double latitude = 0, longitude = 0;        // degrees
    double height = 0;                         // metres above the ellipsoid
    Matrix3 covarianceXYZ{}, covarianceNEU{};  // square metres, at the a-priori sigma0
    OrientedEllipse ellipse;
    double heightSigma = 0;  // metres
};

// The test of one component of a vector. For a vector not in use every number is NaN.
struct ComponentTest {
    char axis = 'x';  // 'x', 'y' or 'z'
    double observed = 0, adjusted = 0;
    double residual = 0;       // metres, v = adjusted - observed
    double residualSigma = 0;  // metres
    double redundancy = 0;     // in [0, 1]
    double standardized = 0, studentized = 0;
    double mdb = 0;  // minimal detectable bias, metres
    bool outlier = false;
};

struct RigorousVector {
    std::string fromCode, toCode;  // as the engine names them
    std::string from, to;          // in full
    int record = 0;                // 1-based record number in the data set
    bool inUse = false;
    std::array<ComponentTest, 3> components{};
    double length = 0;            // metres
    double azimuth = 0;           // degrees from north, clockwise
    double heightDifference = 0;  // metres
};

// The relative precision of a pair of sites: the horizontal relative ellipse (metres, degrees)
// at `confidence`, the vertical sigma (metres) and the semi-major axis in parts per million of
// the distance (metres).
struct RelativePrecision {
    std::string fromCode, toCode, from, to;
    double distance = 0;
    OrientedEllipse ellipse;
    double verticalSigma = 0;
    double ppm = 0;
    std::optional<bool> withinTolerance;  // set by applyRelativeTolerance
};

// A vector taken out in one round of data snooping, in the order taken out.
struct SnoopingRound {
    std::string fromCode, toCode, from, to;
    int record = 0;
    double studentized = 0;
};

// A relative tolerance "A mm + B ppm": the semi-major axis of the relative ellipse at
// `confidence` may be at most horizontal + ppm * 1e-6 * distance.
struct RelativeTolerance {
    std::string text;       // as given
    double horizontal = 0;  // metres, >= 0
    double ppm = 0;         // parts per million, >= 0
    double confidence = 0.95;
};

struct RigorousStatistics {
    // A pre-analysis of planned vectors: the a-posteriori sigma0, the chi-square test and every
    // component's observed, adjusted, residual, standardized, studentized and outlier are NaN
    // (false), for nothing was observed.
    bool preanalysis = false;
    int degreesOfFreedom = 0;
    double sigma0Apriori = 0, sigma0Aposteriori = 0;
    std::string scaledBy;  // "apriori" or "aposteriori": the sigma0 of the ellipses
    double chiSquare = 0, chiSquareLower = 0, chiSquareUpper = 0;
    bool chiSquarePassed = false;
    double studentizedCritical = 0, alpha0 = 0, power = 0, delta0 = 0;
    double confidence = 0;  // of the ellipses and relative precisions, in (0, 1)
    std::vector<RigorousSite> sites;
    std::vector<RigorousVector> vectors;
    std::vector<RelativePrecision> relativePrecision;
    std::vector<SnoopingRound> snooping;
    std::optional<RelativeTolerance> tolerance;  // set by applyRelativeTolerance
};

// Reads the engine's statistics text, naming sites by `names` (codes without an entry keep their
// code). False with `error` set ("<source>: <field path>: <what is wrong>") when the text is
// larger than kMaximumStatisticsSize, not JSON, or lacks or misstates a field. Missing
// "relativePrecision" and "snooping" read as none; a missing "confidence" of an ellipse or pair is
// the file's.
bool parseRigorousStatistics(const std::string& text, const std::string& sourceName,
                             const SiteNameTable& names, RigorousStatistics& statistics,
                             std::string& error);

// parseRigorousStatistics of the file at `path`, of at most `limit` bytes, which is read whole.
// Throws std::bad_alloc when the text or its parse does not fit in memory.
bool readRigorousStatistics(const std::string& path, const SiteNameTable& names,
                            RigorousStatistics& statistics, std::string& error,
                            std::size_t limit = kMaximumStatisticsSize);

// Reads a tolerance "20mm+50ppm": a length in mm or m, then a part per million ("ppm"); blanks
// anywhere, either part may be left out ("5 mm", "1 ppm"), neither may be negative. False with
// `error` saying what is wrong.
bool parseRelativeTolerance(const std::string& text, RelativeTolerance& tolerance,
                            std::string& error);

// The semi-major axis (metres) of a relative ellipse at `fromConfidence` carried to
// `toConfidence` (both in (0, 1)): a horizontal ellipse's semi-axes grow as sqrt(-2 ln(1 - p)).
double ellipseAtConfidence(double semiMajor, double fromConfidence, double toConfidence);

// Whether a pair `distance` metres apart whose relative ellipse at the tolerance's confidence
// has the semi-major axis `semiMajor` (metres) keeps within the tolerance.
bool withinRelativeTolerance(const RelativeTolerance& tolerance, double distance, double semiMajor);

// Checks every pair of `statistics` against `tolerance` and keeps the tolerance with them.
void applyRelativeTolerance(const RelativeTolerance& tolerance, RigorousStatistics& statistics);

// The front end's statistics file (OUT.statistics.json): the engine's fields with the sites named
// in full (their codes beside them), plus "relativeTolerance" and each pair's "withinTolerance"
// when a tolerance is given. NaN numbers are written as null.
std::string statisticsFileText(const RigorousStatistics& statistics);

// The same text handed to `sink` piece by piece (one site, vector or pair at a time), so that
// the statistics of a large network are written without the whole text in memory.
void writeStatisticsText(const RigorousStatistics& statistics,
                         const std::function<void(std::string_view)>& sink);

// Writes statisticsFileText to `path` as writeFileAtomically does, in pieces. False with `error`
// set when it cannot be written.
bool writeStatisticsFile(const std::string& path, const RigorousStatistics& statistics,
                         std::string& error);

}  // namespace torvek::front
