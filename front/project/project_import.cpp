// Reading a project document into a data set.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <set>
#include <utility>

#include "dataset/vector_label.h"
#include "front/project/adjustment_model.h"
#include "front/project/project_fields.h"
#include "front/project/project_frame.h"
#include "front/project/project_json.h"
#include "front/project/project_reading.h"
#include "front/project/site_name_mapping.h"

namespace torvek::front {

const std::vector<NamedEllipsoid>& namedEllipsoids() {
    // Defining constants of the two ellipsoids that GPS work meets: WGS 84 (the datum of the
    // broadcast orbits) and GRS 80 (of the continental frames such as ETRS89 and NAD83).
    static const std::vector<NamedEllipsoid> kEllipsoids = {
        {"WGS84", 6378137.0, 298.257223563},
        {"GRS80", 6378137.0, 298.257222101},
    };
    return kEllipsoids;
}

namespace {

using namespace fields;

// The record number is the data set's 32-bit field; a label takes a number above 99999 in the ten
// columns after the site name (dataset/vector_label.h), so every such number fits.
constexpr std::int64_t kLargestVectorRecordNumber = std::numeric_limits<std::int32_t>::max();
// Earth ellipsoids lie well inside these bounds; values outside them are a unit or typing slip.
constexpr double kSemiMajorAxisMin = 6.0e6;
constexpr double kSemiMajorAxisMax = 7.0e6;
constexpr double kInverseFlatteningMin = 250.0;
constexpr double kInverseFlatteningMax = 350.0;
// No GPS vector between points on the Earth is longer than its diameter (about 12 760 km).
constexpr double kLongestVector = 2.0e7;
// Elevations and geoid heights beyond these bounds (metres) cannot be terrestrial.

struct Reader {
    const ImportOptions& options;
    ImportReport& report;
    std::vector<std::string> codes{};                 // by site
    std::map<std::string, std::string> codeByName{};  // folded full name -> code
    bool resultsNoted = false;
    PositionForms positionForms{};
    PrecisionTally precision{};

    void noteIgnoredResults() {
        if (!resultsNoted) {
            report.notes.push_back(
                "the \"results\" sections are not read: they come from an earlier run (import "
                "with --with-results to keep them)");
            resultsNoted = true;
        }
    }

    void readEllipsoid(const Json& settings, const std::string& path, AdjustedDataSet& ds) {
        const Json* value = find(settings, "ellipsoid");
        if (value == nullptr) {
            return;  // a fresh header carries WGS 84
        }
        const std::string where = member(path, "ellipsoid");
        if (value->is_string()) {
            for (const NamedEllipsoid& e : namedEllipsoids()) {
                if (foldAsciiCase(e.name) == foldAsciiCase(value->get<std::string>())) {
                    ds.setEllipsoid(e.semiMajorAxis, e.inverseFlattening);
                    return;
                }
            }
            std::string known;
            for (const NamedEllipsoid& e : namedEllipsoids()) {
                known += known.empty() ? "" : ", ";
                known += e.name;
            }
            fail(where, "unknown ellipsoid " + describe(*value) + " (known: " + known +
                            "; or give {\"semiMajorAxis\": .., \"inverseFlattening\": ..})");
        }
        requireObject(*value, where);
        checkKeys(*value, where, {"semiMajorAxis", "inverseFlattening"});
        const double a =
            requiredNumber(*value, where, "semiMajorAxis", {kSemiMajorAxisMin, kSemiMajorAxisMax});
        const double rf = requiredNumber(*value, where, "inverseFlattening",
                                         {kInverseFlatteningMin, kInverseFlatteningMax});
        ds.setEllipsoid(a, rf);
    }

    void readDatumBias(const Json& settings, const std::string& path, AdjustedDataSet& ds) {
        double pairs[kBiasAprioriCount] = {};
        const Json* bias = find(settings, "datumBias");
        if (bias != nullptr) {
            const std::string where = member(path, "datumBias");
            requireObject(*bias, where);
            checkKeys(*bias, where, {kBiasNames[0], kBiasNames[1], kBiasNames[2], kBiasNames[3]});
            for (int k = 0; k < 4; ++k) {
                const Json* parameter = find(*bias, kBiasNames[k]);
                if (parameter == nullptr) {
                    continue;
                }
                const std::string at = member(where, kBiasNames[k]);
                requireObject(*parameter, at);
                checkKeys(*parameter, at, {"value", "sigma"});
                pairs[2 * k] = optionalNumber(*parameter, at, "value", 0.0, kAnyNumber);
                pairs[2 * k + 1] = optionalNumber(*parameter, at, "sigma", 0.0, kNonNegative);
                if (pairs[2 * k + 1] > 0.0 && pairs[2 * k + 1] <= kMinimumSigma) {
                    report.notes.push_back(at +
                                           ": a sigma of 0.001 or less holds the parameter "
                                           "fixed at its value");
                }
            }
        }
        ds.setBiasApriori(pairs);
    }

    void readSettings(const Json& root, AdjustedDataSet& ds, bool& referenceGiven) {
        const Json* settings = find(root, "settings");
        std::uint8_t minimallyConstrained = 0;
        double confidence = kDefaultConfidenceLevel;
        double scale = 1.0;
        referenceGiven = false;
        if (settings != nullptr) {
            const std::string path = "settings";
            requireObject(*settings, path);
            checkKeys(*settings, path,
                      {"ellipsoid", "referencePoint", "confidenceLevel", "vectorSigmaScale",
                       "minimallyConstrained", "datumBias", "model", "frame", "epoch"});
            if (find(*settings, "frame") != nullptr) {
                requiredString(*settings, path, "frame");
            }
            optionalNumber(*settings, path, "epoch", kEarliestEpoch,
                           {kEarliestEpoch, kLatestEpoch});
            if (find(*settings, "model") != nullptr &&
                !adjustmentModelNamed(requiredString(*settings, path, "model"))) {
                fail(member(path, "model"), "must be \"rigorous\" or \"classic\", not " +
                                                find(*settings, "model")->dump());
            }
            readEllipsoid(*settings, path, ds);
            if (const Json* reference = find(*settings, "referencePoint")) {
                const std::string where = member(path, "referencePoint");
                requireObject(*reference, where);
                checkKeys(*reference, where, {"latitude", "longitude"});
                ds.setReferencePoint(
                    requiredNumber(*reference, where, "latitude", {-90.0, 90.0}),
                    requiredNumber(*reference, where, "longitude", {-180.0, 360.0}));
                referenceGiven = true;
            }
            // Open bounds: 0 % and 100 % give no test limits.
            confidence =
                optionalNumber(*settings, path, "confidenceLevel", confidence, {0.001, 99.999});
            scale = optionalNumber(*settings, path, "vectorSigmaScale", scale, {1e-6, 1e6});
            minimallyConstrained =
                optionalBool(*settings, path, "minimallyConstrained", false) ? 1 : 0;
            readDatumBias(*settings, path, ds);
        } else {
            double pairs[kBiasAprioriCount] = {};
            ds.setBiasApriori(pairs);
        }
        ds.setAdjustmentSettings({minimallyConstrained, confidence, scale});
    }

    // The "results" object of a site or vector at `path` with its keys checked, or nullptr when
    // there is none or results are not read (then noted); `where` is set to its path.
    const Json* resultsToRead(const Json& item, const std::string& path,
                              std::initializer_list<const char*> keys, std::string& where) {
        const Json* results = find(item, "results");
        if (results == nullptr) {
            return nullptr;
        }
        if (!options.withResults) {
            noteIgnoredResults();
            return nullptr;
        }
        where = member(path, "results");
        requireObject(*results, where);
        checkKeys(*results, where, keys);
        return results;
    }

    void readSiteResults(const Json& site, const std::string& path, SiteRecord& record) {
        std::string where;
        const Json* results =
            resultsToRead(site, path,
                          {"adjusted", "sigmas", "lastCorrection", "constraintResiduals",
                           "normalizedConstraintResiduals"},
                          where);
        if (results == nullptr) {
            return;
        }
        double* adjusted[3] = {&record.adjustedLatitude, &record.adjustedLongitude,
                               &record.adjustedElevation};
        readTriple(*results, where, "adjusted", kLatLonElev, adjusted, kResultNumber);
        double* sigmas[3] = {&record.adjustedLatitudeSigma, &record.adjustedLongitudeSigma,
                             &record.adjustedElevationSigma};
        readTriple(*results, where, "sigmas", kLatLonElev, sigmas, kResultNumber);
        double* corrections[3] = {&record.lastCorrection[0], &record.lastCorrection[1],
                                  &record.lastCorrection[2]};
        readTriple(*results, where, "lastCorrection", kLatLonElev, corrections, kResultNumber);
        double* residuals[3] = {&record.constraintResidual[0], &record.constraintResidual[1],
                                &record.constraintResidual[2]};
        readTriple(*results, where, "constraintResiduals", kLatLonElev, residuals, kResultNumber);
        double* normalized[3] = {&record.normalizedConstraintResidual[0],
                                 &record.normalizedConstraintResidual[1],
                                 &record.normalizedConstraintResidual[2]};
        readTriple(*results, where, "normalizedConstraintResiduals", kLatLonElev, normalized,
                   kResultNumber);
    }

    // The full names of the sites and their codes, before any site is read: a code depends on
    // the names and codes of every site.
    void assignCodes(const Json& sites) {
        std::vector<SiteNaming> naming;
        std::vector<std::string> paths;
        for (std::size_t i = 0; i < sites.size(); ++i) {
            std::string path = "sites[" + std::to_string(i) + "]";
            requireObject(sites[i], path);
            SiteNaming site{requiredString(sites[i], path, "name"), std::nullopt};
            paths.push_back(path + " (\"" + site.name + "\")");
            if (find(sites[i], "code") != nullptr) {
                site.code = requiredString(sites[i], paths.back(), "code");
            }
            naming.push_back(site);
        }
        SiteCodes assigned;
        SiteNamingError error;
        if (!assignSiteCodes(naming, assigned, error)) {
            fail(member(paths[error.site], error.field.c_str()), error.what);
        }
        for (const auto& note :
             {paddedNamesNote(naming, assigned), madeCodesNote(naming, assigned)}) {
            if (note) {
                report.notes.push_back(*note);
            }
        }
        codes = assigned.codes;
        for (std::size_t i = 0; i < naming.size(); ++i) {
            codeByName[foldAsciiCase(naming[i].name)] = codes[i];
            report.siteNames.add(codes[i], naming[i].name);
        }
    }

    void readSite(const Json& site, std::size_t index, bool numbered, AdjustedDataSet& ds) {
        std::string path = "sites[" + std::to_string(index) + "]";
        const std::string name = requiredString(site, path, "name");
        path += " (\"" + name + "\")";
        checkKeys(site, path,
                  {"name", "code", "record", "latitude", "longitude", "elevation",
                   "ellipsoidalHeight", "x", "y", "z", "geoidHeight", "sigmas", "fixed", "inUse"},
                  {"spare", "results"});
        if (!ds.addSite(codes[index].c_str())) {
            fail(path, "no room for another site");
        }
        SiteRecord& record = *ds.currentSite();
        if (numbered != (find(site, "record") != nullptr)) {
            fail(member(path, "record"), "record numbers must be given for every site or for none");
        }
        // The program does not read site record numbers; any int32 is kept.
        record.recordNumber = static_cast<std::int32_t>(optionalInteger(
            site, path, "record", record.recordNumber, std::numeric_limits<std::int32_t>::min(),
            std::numeric_limits<std::int32_t>::max()));
        record.recordSpare = static_cast<std::int32_t>(
            optionalInteger(site, path, "spare", 0, std::numeric_limits<std::int32_t>::min(),
                            std::numeric_limits<std::int32_t>::max()));
        const EllipsoidParameters shape = ds.ellipsoid();
        const ProjectEllipsoid ellipsoid{shape.semiMajorAxis, shape.inverseFlattening};
        readSitePosition(site, path, ellipsoid, record, positionForms);
        if (const Json* fixed = find(site, "fixed")) {
            const std::string where = member(path, "fixed");
            if (fixed->is_boolean()) {
                const std::uint8_t all = fixed->get<bool>() ? 1 : 0;
                record.latitudeFixed = record.longitudeFixed = record.elevationFixed = all;
            } else {
                requireObject(*fixed, where);
                checkKeys(*fixed, where, {"latitude", "longitude", "elevation"});
                record.latitudeFixed = optionalBool(*fixed, where, "latitude", false) ? 1 : 0;
                record.longitudeFixed = optionalBool(*fixed, where, "longitude", false) ? 1 : 0;
                record.elevationFixed = optionalBool(*fixed, where, "elevation", false) ? 1 : 0;
            }
        }
        record.inUse = optionalBool(site, path, "inUse", true) ? 1 : 0;
        readSiteResults(site, path, record);
    }

    void readVectorResults(const Json& vector, const std::string& path, VectorRecord& record) {
        std::string where;
        const Json* results =
            resultsToRead(vector, path,
                          {"localSigmas", "localCorrelations", "adjusted", "residuals",
                           "normalizedResiduals", "adjustedLocalSigmas",
                           "adjustedLocalCorrelations", "adjustedSigmas", "adjustedCorrelations"},
                          where);
        if (results == nullptr) {
            return;
        }
        double* local[3] = {&record.localSigmaNorth, &record.localSigmaEast, &record.localSigmaUp};
        readTriple(*results, where, "localSigmas", kNeu, local, kResultNumber);
        readArray3(*results, where, "localCorrelations", record.localCorrelation, kResultNumber);
        if (const Json* adjusted = find(*results, "adjusted")) {
            const std::string at = member(where, "adjusted");
            requireObject(*adjusted, at);
            checkKeys(*adjusted, at, {"dX", "dY", "dZ", "north", "east", "up"});
            double* values[6] = {&record.adjustedDeltaX, &record.adjustedDeltaY,
                                 &record.adjustedDeltaZ, &record.adjustedNorth,
                                 &record.adjustedEast,   &record.adjustedUp};
            const char* keys[6] = {"dX", "dY", "dZ", "north", "east", "up"};
            for (int i = 0; i < 6; ++i) {
                *values[i] = optionalNumber(*adjusted, at, keys[i], *values[i], kResultNumber);
            }
        }
        // vectorTestResults: residuals X, Y, Z, normalized X, Y, Z, residuals N, E, U,
        // normalized N, E, U.
        for (int normalized = 0; normalized < 2; ++normalized) {
            const char* key = normalized ? "normalizedResiduals" : "residuals";
            const Json* block = find(*results, key);
            if (block == nullptr) {
                continue;
            }
            const std::string at = member(where, key);
            requireObject(*block, at);
            checkKeys(*block, at, {"x", "y", "z", "north", "east", "up"});
            const char* keys[6] = {"x", "y", "z", "north", "east", "up"};
            for (int i = 0; i < 6; ++i) {
                const std::size_t slot = (i < 3 ? 0 : 6) + (normalized ? 3 : 0) + (i % 3);
                record.vectorTestResults[slot] = optionalNumber(
                    *block, at, keys[i], record.vectorTestResults[slot], kResultNumber);
            }
        }
        double* adjustedLocal[3] = {&record.adjustedLocalSigmaNorth, &record.adjustedLocalSigmaEast,
                                    &record.adjustedLocalSigmaUp};
        readTriple(*results, where, "adjustedLocalSigmas", kNeu, adjustedLocal, kResultNumber);
        readArray3(*results, where, "adjustedLocalCorrelations", record.adjustedLocalCorrelation,
                   kResultNumber);
        double* adjustedSigmas[3] = {&record.adjustedSigmaX, &record.adjustedSigmaY,
                                     &record.adjustedSigmaZ};
        readTriple(*results, where, "adjustedSigmas", kXyz, adjustedSigmas, kResultNumber);
        double* adjustedCorrelations[3] = {&record.adjustedCorrelationXY,
                                           &record.adjustedCorrelationXZ,
                                           &record.adjustedCorrelationYZ};
        readTriple(*results, where, "adjustedCorrelations", kCorrelationKeys, adjustedCorrelations,
                   kResultNumber);
    }

    void readVector(const Json& vector, std::size_t index, bool numbered, AdjustedDataSet& ds) {
        std::string path = "vectors[" + std::to_string(index) + "]";
        requireObject(vector, path);
        const std::string from = requiredString(vector, path, "from");
        const std::string to = requiredString(vector, path, "to");
        path += " (\"" + from + "\" to \"" + to + "\")";
        checkKeys(vector, path,
                  {"from", "to", "record", "dX", "dY", "dZ", "sigmas", "correlations",
                   "covariances", "covariance", "weightDivisor", "inUse"},
                  {"spare", "results"});
        const auto fromSite = codeByName.find(foldAsciiCase(from));
        if (fromSite == codeByName.end()) {
            fail(member(path, "from"), "no site is named \"" + from + "\"");
        }
        const auto toSite = codeByName.find(foldAsciiCase(to));
        if (toSite == codeByName.end()) {
            fail(member(path, "to"), "no site is named \"" + to + "\"");
        }
        const std::string& storedFrom = fromSite->second;
        const std::string& storedTo = toSite->second;
        if (storedFrom == storedTo) {
            fail(path, "a vector must join two different sites");
        }
        if (!ds.addVector(storedFrom.c_str(), storedTo.c_str())) {
            fail(path, "no room for another vector");
        }
        VectorRecord& record = *ds.currentVector();
        if (numbered != (find(vector, "record") != nullptr)) {
            fail(member(path, "record"),
                 "record numbers must be given for every vector or for none");
        }
        record.recordNumber = static_cast<std::int32_t>(optionalInteger(
            vector, path, "record", record.recordNumber, 0, kLargestVectorRecordNumber));
        record.recordSpare = static_cast<std::int32_t>(
            optionalInteger(vector, path, "spare", 0, std::numeric_limits<std::int32_t>::min(),
                            std::numeric_limits<std::int32_t>::max()));
        record.deltaX = requiredNumber(vector, path, "dX", {-kLongestVector, kLongestVector});
        record.deltaY = requiredNumber(vector, path, "dY", {-kLongestVector, kLongestVector});
        record.deltaZ = requiredNumber(vector, path, "dZ", {-kLongestVector, kLongestVector});

        readVectorPrecision(vector, path, record, precision, report.notes);
        record.weightDivisor = static_cast<std::int32_t>(
            optionalInteger(vector, path, "weightDivisor", kNeutralWeightDivisor, 1,
                            std::numeric_limits<std::int32_t>::max()));
        if (record.weightDivisor < kNeutralWeightDivisor) {
            report.notes.push_back(member(path, "weightDivisor") +
                                   ": a divisor below 2 counts as 2 (weights unchanged)");
        }
        record.inUse = optionalBool(vector, path, "inUse", true) ? 1 : 0;
        readVectorResults(vector, path, record);
    }

    // Each vector is found again by the first vector between the same sites whose record number
    // is at least its own, so numbers must rise along the list for each pair of sites.
    void checkVectorNumbers(const AdjustedDataSet& ds) {
        std::map<std::pair<std::string, std::string>, std::pair<std::int32_t, std::size_t>> last;
        for (std::size_t i = 0; i < ds.vectors().size(); ++i) {
            const VectorRecord& v = ds.vectors()[i];
            auto key = std::make_pair(std::string(v.fromSite.data(), kSiteNameSize),
                                      std::string(v.toSite.data(), kSiteNameSize));
            auto it = last.find(key);
            if (it != last.end() && it->second.first >= v.recordNumber) {
                fail("vectors[" + std::to_string(i) + "].record",
                     "record " + std::to_string(v.recordNumber) + " does not follow record " +
                         std::to_string(it->second.first) + " of vectors[" +
                         std::to_string(it->second.second) +
                         "] between the same sites: the program could not find this vector");
            }
            last[key] = {v.recordNumber, i};
        }
    }

    void readRunResults(const Json& root, AdjustedDataSet& ds) {
        const Json* results = find(root, "results");
        if (results == nullptr) {
            return;
        }
        if (!options.withResults) {
            noteIgnoredResults();
            return;
        }
        const std::string path = "results";
        requireObject(*results, path);
        checkKeys(*results, path,
                  {"succeeded", "observations", "unknowns", "degreesOfFreedom", "iterations",
                   "chiSquare", "chiSquareLower", "chiSquareUpper", "tauCriticalValue",
                   "unitWeightStandardError", "datumBias"});
        AdjustmentRecord& r = *ds.currentAdjustmentRecord();
        constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
        constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
        r.adjustmentSucceeded = optionalBool(*results, path, "succeeded", false) ? 1 : 0;
        r.observationCount = static_cast<std::int32_t>(
            optionalInteger(*results, path, "observations", r.observationCount, kMin, kMax));
        r.unknownCount = static_cast<std::int32_t>(
            optionalInteger(*results, path, "unknowns", r.unknownCount, kMin, kMax));
        r.degreesOfFreedom = static_cast<std::int32_t>(
            optionalInteger(*results, path, "degreesOfFreedom", r.degreesOfFreedom, kMin, kMax));
        r.iterationCount = static_cast<std::int32_t>(
            optionalInteger(*results, path, "iterations", r.iterationCount, kMin, kMax));
        r.chiSquare = optionalNumber(*results, path, "chiSquare", r.chiSquare, kResultNumber);
        r.chiSquareLower =
            optionalNumber(*results, path, "chiSquareLower", r.chiSquareLower, kResultNumber);
        r.chiSquareUpper =
            optionalNumber(*results, path, "chiSquareUpper", r.chiSquareUpper, kResultNumber);
        r.tauCriticalValue =
            optionalNumber(*results, path, "tauCriticalValue", r.tauCriticalValue, kResultNumber);
        r.unitWeightStandardError = optionalNumber(*results, path, "unitWeightStandardError",
                                                   r.unitWeightStandardError, kResultNumber);
        if (const Json* bias = find(*results, "datumBias")) {
            const std::string where = member(path, "datumBias");
            requireObject(*bias, where);
            checkKeys(
                *bias, where,
                {kBiasResultNames[0], kBiasResultNames[1], kBiasResultNames[2], kBiasResultNames[3],
                 kBiasResultNames[4], kBiasResultNames[5], kBiasResultNames[6]});
            for (int k = 0; k < 7; ++k) {
                const Json* parameter = find(*bias, kBiasResultNames[k]);
                if (parameter == nullptr) {
                    continue;
                }
                const std::string at = member(where, kBiasResultNames[k]);
                requireObject(*parameter, at);
                checkKeys(*parameter, at, {"value", "sigma"});
                r.biasResults[2 * k] =
                    optionalNumber(*parameter, at, "value", r.biasResults[2 * k], kResultNumber);
                r.biasResults[2 * k + 1] = optionalNumber(*parameter, at, "sigma",
                                                          r.biasResults[2 * k + 1], kResultNumber);
            }
        }
    }

    void readPreserved(const Json& root, AdjustedDataSet& ds) {
        const Json* preserved = find(root, "preserved");
        if (preserved == nullptr) {
            return;
        }
        const std::string path = "preserved";
        requireObject(*preserved, path);
        checkKeys(
            *preserved, path,
            {"headerReserved", "headerOptions", "headerPadding", "headerValues", "adjustmentRecord",
             "adjustmentReserved", "flagPadding", "reservedValues", "trailingPadding"});
        DataSetHeader& header = ds.headerRecord();
        readHex(*preserved, path, "headerReserved", header.headerReserved);
        readHex(*preserved, path, "headerPadding", header.headerPadding);
        for (const char* key : {"headerOptions", "headerValues"}) {
            const Json* pair = find(*preserved, key);
            if (pair == nullptr) {
                continue;
            }
            const std::string where = member(path, key);
            if (!pair->is_array() || pair->size() != 2) {
                fail(where, "must be a list of two whole numbers");
            }
            const bool options = std::string(key) == "headerOptions";
            const std::int64_t low = options ? 0 : std::numeric_limits<std::int32_t>::min();
            const std::int64_t high = options ? 255 : std::numeric_limits<std::int32_t>::max();
            const std::int64_t first = toInteger((*pair)[0], where + "[0]", low, high);
            const std::int64_t second = toInteger((*pair)[1], where + "[1]", low, high);
            if (options) {
                header.headerOption1 = static_cast<std::uint8_t>(first);
                header.headerOption2 = static_cast<std::uint8_t>(second);
            } else {
                header.headerValue1 = static_cast<std::int32_t>(first);
                header.headerValue2 = static_cast<std::int32_t>(second);
            }
        }
        AdjustmentRecord& r = *ds.currentAdjustmentRecord();
        r.recordNumber = static_cast<std::int32_t>(optionalInteger(
            *preserved, path, "adjustmentRecord", r.recordNumber,
            std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
        readHex(*preserved, path, "adjustmentReserved", r.headerReserved);
        readHex(*preserved, path, "flagPadding", r.flagPadding);
        readHex(*preserved, path, "trailingPadding", r.trailingPadding);
        if (const Json* values = find(*preserved, "reservedValues")) {
            const std::string where = member(path, "reservedValues");
            if (!values->is_array() || values->size() != r.reserved.size()) {
                fail(where, "must be a list of six numbers");
            }
            for (std::size_t i = 0; i < r.reserved.size(); ++i) {
                r.reserved[i] =
                    toNumber((*values)[i], where + "[" + std::to_string(i) + "]", kResultNumber);
            }
        }
    }

    // The reference point of the local frame defaults to the middle of the sites in use, so that
    // the frame's north and up lie close to every site's own.
    void defaultReferencePoint(AdjustedDataSet& ds) {
        double latitudeSum = 0.0, longitudeOffsetSum = 0.0;
        double firstLongitude = 0.0;
        int count = 0;
        for (const SiteRecord& s : ds.sites()) {
            if (!s.inUse) {
                continue;
            }
            if (count == 0) {
                firstLongitude = s.longitude;
            }
            // Longitudes are taken relative to the first site so that a network across the
            // 180th meridian does not average to the far side of the Earth.
            double offset = std::remainder(s.longitude - firstLongitude, 360.0);
            latitudeSum += s.latitude;
            longitudeOffsetSum += offset;
            ++count;
        }
        if (count == 0) {
            return;
        }
        const double latitude = latitudeSum / count;
        double longitude = firstLongitude + longitudeOffsetSum / count;
        if (longitude > 180.0) {
            longitude -= 360.0;
        } else if (longitude < -180.0) {
            longitude += 360.0;
        }
        ds.setReferencePoint(latitude, longitude);
        char text[160];
        std::snprintf(text, sizeof text,
                      "settings.referencePoint is not given: the middle of the sites in use is "
                      "taken (latitude %.6f, longitude %.6f)",
                      latitude, longitude);
        report.notes.push_back(text);
    }

    void read(const Json& root, AdjustedDataSet& ds) {
        requireObject(root, "the document");
        checkKeys(root, "",
                  {"format", "version", "title", "client", "surveyor", "datum", "epoch", "settings",
                   "sites", "vectors", "planned"},
                  {"results", "preserved"});
        if (const Json* format = find(root, "format")) {
            if (*format != "torvek-project") {
                fail("format", "must be \"torvek-project\", not " + describe(*format));
            }
        }
        if (const Json* version = find(root, "version")) {
            if (toInteger(*version, "version", 1, 1000) != 1) {
                fail("version", "this front end reads version 1");
            }
        }
        if (const Json* title = find(root, "title")) {
            if (!title->is_string()) {
                fail("title", "must be a text in quotes, not " + describe(*title));
            }
            const std::string text = title->get<std::string>();
            if (text.size() > kHeaderTextSize || text.find('\0') != std::string::npos) {
                fail("title", "must be at most " + std::to_string(kHeaderTextSize) +
                                  " bytes without NUL characters");
            }
            ds.setHeaderText(text.c_str());
        }
        // Texts for the header of the result documents; the data set has no room for them.
        for (const char* key : kDocumentFields) {
            if (const Json* value = find(root, key)) {
                if (!value->is_string() || value->get<std::string>().size() > kHeaderTextSize) {
                    fail(key, "must be a text in quotes of at most " +
                                  std::to_string(kHeaderTextSize) + " bytes, not " +
                                  describe(*value));
                }
            }
        }
        bool referenceGiven = false;
        readSettings(root, ds, referenceGiven);

        const Json* sites = find(root, "sites");
        if (sites == nullptr || !sites->is_array()) {
            fail("sites", sites == nullptr ? "is missing" : "must be a list [...]");
        }
        assignCodes(*sites);
        const bool sitesNumbered =
            !sites->empty() && (*sites)[0].is_object() && find((*sites)[0], "record") != nullptr;
        for (std::size_t i = 0; i < sites->size(); ++i) {
            readSite((*sites)[i], i, sitesNumbered, ds);
        }
        const Json* vectors = find(root, "vectors");
        if (vectors == nullptr || !vectors->is_array()) {
            fail("vectors", vectors == nullptr ? "is missing" : "must be a list [...]");
        }
        if (vectors->size() > kLargestProjectVectors) {
            fail("vectors", "more than " + std::to_string(kLargestProjectVectors) +
                                " vectors, more than a network the engines adjust");
        }
        const bool vectorsNumbered = !vectors->empty() && (*vectors)[0].is_object() &&
                                     find((*vectors)[0], "record") != nullptr;
        for (const std::string& note : positionNotes(positionForms)) {
            report.notes.push_back(note);
        }
        for (std::size_t i = 0; i < vectors->size(); ++i) {
            readVector((*vectors)[i], i, vectorsNumbered, ds);
        }
        for (const std::string& note : precisionNotes(precision)) {
            report.notes.push_back(note);
        }
        checkVectorNumbers(ds);
        if (const Json* planned = find(root, "planned")) {
            readPlannedVectors(*planned, {codeByName, options.withPlanned, options.sigmaModel}, ds,
                               precision, report.notes);
        }
        readRunResults(root, ds);
        readPreserved(root, ds);
        if (!referenceGiven) {
            defaultReferencePoint(ds);
        }
    }
};

// Offset of the first bracket that opens more than kMaximumNesting arrays and objects, or npos.
// Strings and comments are skipped as the parser skips them, so that brackets inside them do not
// count.
std::size_t tooDeepAt(const std::string& text) {
    std::size_t depth = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                i += text[i] == '\\' ? 1 : 0;
            }
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
            i = std::min(text.find('\n', i), text.size());
        } else if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            const std::size_t end = text.find("*/", i + 2);
            i = end == std::string::npos ? text.size() : end + 1;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaximumNesting) {
                return i;
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return std::string::npos;
}

// Where in the text the token that a parser message quotes ('1e400', say) stands; 0 when the
// message quotes none or the token is not found.
std::size_t quotedTokenAt(const std::string& text, const std::string& message) {
    const std::size_t open = message.find('\'');
    const std::size_t close = open == std::string::npos ? open : message.find('\'', open + 1);
    if (close == std::string::npos || close == open + 1) {
        return 0;
    }
    const std::size_t at = text.find(message.substr(open + 1, close - open - 1));
    return at == std::string::npos ? 0 : at;
}

// The library's message without its own tag ("[json.exception.parse_error.101] ") and, for a
// parse error, its position, which ours gives.
std::string parserMessage(const std::string& what) {
    if (what.rfind("[json.exception.", 0) != 0) {
        return what;
    }
    const std::size_t colon = what.find(": ");
    if (colon != std::string::npos) {
        return what.substr(colon + 2);
    }
    const std::size_t tagEnd = what.find("] ");
    return tagEnd == std::string::npos ? what : what.substr(tagEnd + 2);
}

}  // namespace

bool parseProjectText(const std::string& text, const std::string& sourceName, Json& document,
                      std::string& error) {
    if (text.size() > kMaximumProjectSize) {
        error = sourceName + ": the file is larger than " +
                std::to_string(kMaximumProjectSize >> 20) + " MiB";
        return false;
    }
    // The parser descends once per bracket: a file of brackets nested a hundred thousand deep
    // would exhaust the stack.
    if (const std::size_t deep = tooDeepAt(text); deep != std::string::npos) {
        error = sourceName + ": " + lineAndColumn(text, deep) +
                ": arrays and objects nested more than " + std::to_string(kMaximumNesting) +
                " deep";
        return false;
    }
    try {
        document = Json::parse(text, nullptr, true, true);
    } catch (const Json::parse_error& e) {
        const std::size_t offset = e.byte > 0 ? e.byte - 1 : 0;
        error = sourceName + ": " + lineAndColumn(text, offset) + ": " + parserMessage(e.what());
        return false;
    } catch (const Json::exception& e) {
        // A number beyond the range of a double (1e400) and the like: the library gives no
        // position, but quotes the token.
        error = sourceName + ": " + lineAndColumn(text, quotedTokenAt(text, e.what())) + ": " +
                parserMessage(e.what());
        return false;
    }
    return true;
}

bool importProject(const std::string& text, const std::string& sourceName,
                   const ImportOptions& options, AdjustedDataSet& dataSet, ImportReport& report) {
    report = ImportReport{};
    Json root;
    if (!parseProjectText(text, sourceName, root, report.error)) {
        return false;
    }
    return importProjectDocument(root, sourceName, options, dataSet, report);
}

bool importProjectDocument(const Json& root, const std::string& sourceName,
                           const ImportOptions& options, AdjustedDataSet& dataSet,
                           ImportReport& report) {
    report = ImportReport{};
    AdjustedDataSet built;
    built.setFileName(dataSet.fileName().c_str());
    Reader reader{options, report};
    try {
        reader.read(root, built);
    } catch (const fields::FieldError& e) {
        report.error = sourceName + ": " + (e.where.empty() ? "" : e.where + ": ") + e.what;
        return false;
    } catch (const Json::exception& e) {
        report.error = sourceName + ": " + parserMessage(e.what());
        return false;
    }
    dataSet = std::move(built);
    return true;
}

}  // namespace torvek::front
