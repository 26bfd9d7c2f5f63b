// Writing a data set as a project document, every result included.
#include <cmath>

#include "front/project/project_fields.h"
#include "front/project/project_json.h"
#include "front/project/site_name_mapping.h"

namespace torvek::front {
namespace {

using fields::kBiasNames;
using fields::kBiasResultNames;
using fields::kCorrelationKeys;
using fields::kLatLonElev;
using fields::kNeu;
using fields::kXyz;

template <std::size_t N>
std::string hexText(const std::array<std::uint8_t, N>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

template <std::size_t N>
bool allZero(const std::array<std::uint8_t, N>& bytes) {
    for (std::uint8_t b : bytes) {
        if (b != 0) {
            return false;
        }
    }
    return true;
}

Json number(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "Infinity" : "-Infinity";
    }
    return value;
}

Json triple(const char* const names[3], double a, double b, double c) {
    Json object = Json::object();
    object[names[0]] = number(a);
    object[names[1]] = number(b);
    object[names[2]] = number(c);
    return object;
}

Json array3(const std::array<double, 3>& values) {
    return Json::array({number(values[0]), number(values[1]), number(values[2])});
}

Json siteJson(const SiteRecord& s, const SiteNameTable& names) {
    Json site = Json::object();
    site["name"] = names.nameOf(s.name.data());
    if (names.renamed(std::string(s.name.data(), kSiteNameSize)) != nullptr) {
        site["code"] = projectSiteName(s.name.data());
    }
    site["record"] = s.recordNumber;
    if (s.recordSpare != 0) {
        site["spare"] = s.recordSpare;
    }
    site["latitude"] = number(s.latitude);
    site["longitude"] = number(s.longitude);
    site["elevation"] = number(s.elevation);
    site["geoidHeight"] = number(s.geoidHeight);
    site["sigmas"] = triple(kLatLonElev, s.latitudeSigma, s.longitudeSigma, s.elevationSigma);
    site["fixed"] = {{"latitude", s.latitudeFixed != 0},
                     {"longitude", s.longitudeFixed != 0},
                     {"elevation", s.elevationFixed != 0}};
    site["inUse"] = s.inUse != 0;
    Json results = Json::object();
    results["adjusted"] =
        triple(kLatLonElev, s.adjustedLatitude, s.adjustedLongitude, s.adjustedElevation);
    results["sigmas"] = triple(kLatLonElev, s.adjustedLatitudeSigma, s.adjustedLongitudeSigma,
                               s.adjustedElevationSigma);
    results["lastCorrection"] =
        triple(kLatLonElev, s.lastCorrection[0], s.lastCorrection[1], s.lastCorrection[2]);
    results["constraintResiduals"] = triple(kLatLonElev, s.constraintResidual[0],
                                            s.constraintResidual[1], s.constraintResidual[2]);
    results["normalizedConstraintResiduals"] =
        triple(kLatLonElev, s.normalizedConstraintResidual[0], s.normalizedConstraintResidual[1],
               s.normalizedConstraintResidual[2]);
    site["results"] = results;
    return site;
}

Json vectorJson(const VectorRecord& v, const SiteNameTable& names) {
    Json vector = Json::object();
    vector["from"] = names.nameOf(v.fromSite.data());
    vector["to"] = names.nameOf(v.toSite.data());
    vector["record"] = v.recordNumber;
    if (v.recordSpare != 0) {
        vector["spare"] = v.recordSpare;
    }
    vector["dX"] = number(v.deltaX);
    vector["dY"] = number(v.deltaY);
    vector["dZ"] = number(v.deltaZ);
    vector["sigmas"] = triple(kXyz, v.sigmaX, v.sigmaY, v.sigmaZ);
    const bool covariances = std::fabs(v.correlationXY) > 1.0 || std::fabs(v.correlationXZ) > 1.0 ||
                             std::fabs(v.correlationYZ) > 1.0;
    vector[covariances ? "covariances" : "correlations"] =
        triple(kCorrelationKeys, v.correlationXY, v.correlationXZ, v.correlationYZ);
    vector["weightDivisor"] = v.weightDivisor;
    vector["inUse"] = v.inUse != 0;
    Json results = Json::object();
    results["localSigmas"] = triple(kNeu, v.localSigmaNorth, v.localSigmaEast, v.localSigmaUp);
    results["localCorrelations"] = array3(v.localCorrelation);
    results["adjusted"] = {{"dX", number(v.adjustedDeltaX)}, {"dY", number(v.adjustedDeltaY)},
                           {"dZ", number(v.adjustedDeltaZ)}, {"north", number(v.adjustedNorth)},
                           {"east", number(v.adjustedEast)}, {"up", number(v.adjustedUp)}};
    const auto& t = v.vectorTestResults;
    results["residuals"] = {{"x", number(t[0])},     {"y", number(t[1])},    {"z", number(t[2])},
                            {"north", number(t[6])}, {"east", number(t[7])}, {"up", number(t[8])}};
    results["normalizedResiduals"] = {{"x", number(t[3])},     {"y", number(t[4])},
                                      {"z", number(t[5])},     {"north", number(t[9])},
                                      {"east", number(t[10])}, {"up", number(t[11])}};
    results["adjustedLocalSigmas"] =
        triple(kNeu, v.adjustedLocalSigmaNorth, v.adjustedLocalSigmaEast, v.adjustedLocalSigmaUp);
    results["adjustedLocalCorrelations"] = array3(v.adjustedLocalCorrelation);
    results["adjustedSigmas"] = triple(kXyz, v.adjustedSigmaX, v.adjustedSigmaY, v.adjustedSigmaZ);
    results["adjustedCorrelations"] = triple(kCorrelationKeys, v.adjustedCorrelationXY,
                                             v.adjustedCorrelationXZ, v.adjustedCorrelationYZ);
    vector["results"] = results;
    return vector;
}

Json ellipsoidJson(const DataSetHeader& header) {
    for (const NamedEllipsoid& e : namedEllipsoids()) {
        if (e.semiMajorAxis == header.semiMajorAxis &&
            e.inverseFlattening == header.inverseFlattening) {
            return e.name;
        }
    }
    return {{"semiMajorAxis", number(header.semiMajorAxis)},
            {"inverseFlattening", number(header.inverseFlattening)}};
}

// The bytes that the program keeps without reading them, when they differ from what an import
// writes: a fresh header and one adjustment record numbered 1.
Json preservedJson(const DataSetHeader& header, const AdjustmentRecord* record) {
    Json preserved = Json::object();
    const DataSetHeader fresh;
    if (!allZero(header.headerReserved)) {
        preserved["headerReserved"] = hexText(header.headerReserved);
    }
    if (header.headerOption1 != fresh.headerOption1 ||
        header.headerOption2 != fresh.headerOption2) {
        preserved["headerOptions"] = {header.headerOption1, header.headerOption2};
    }
    if (!allZero(header.headerPadding)) {
        preserved["headerPadding"] = hexText(header.headerPadding);
    }
    if (header.headerValue1 != 0 || header.headerValue2 != 0) {
        preserved["headerValues"] = {header.headerValue1, header.headerValue2};
    }
    if (record != nullptr) {
        if (record->recordNumber != 1) {
            preserved["adjustmentRecord"] = record->recordNumber;
        }
        if (!allZero(record->headerReserved)) {
            preserved["adjustmentReserved"] = hexText(record->headerReserved);
        }
        if (!allZero(record->flagPadding)) {
            preserved["flagPadding"] = hexText(record->flagPadding);
        }
        bool reservedZero = true;
        for (double v : record->reserved) {
            reservedZero = reservedZero && v == 0.0 && !std::signbit(v);
        }
        if (!reservedZero) {
            Json values = Json::array();
            for (double v : record->reserved) {
                values.push_back(number(v));
            }
            preserved["reservedValues"] = values;
        }
        if (!allZero(record->trailingPadding)) {
            preserved["trailingPadding"] = hexText(record->trailingPadding);
        }
    }
    return preserved;
}

}  // namespace

Json exportProject(const AdjustedDataSet& dataSet, const SiteNameTable& names) {
    const DataSetHeader& header = dataSet.headerRecord();
    const AdjustmentRecord* record =
        dataSet.adjustmentRecords().empty() ? nullptr : &dataSet.adjustmentRecords().back();
    Json root = Json::object();
    root["format"] = "torvek-project";
    root["version"] = 1;
    root["title"] = dataSet.headerText();

    Json settings = Json::object();
    settings["ellipsoid"] = ellipsoidJson(header);
    settings["referencePoint"] = {{"latitude", number(header.referenceLatitude)},
                                  {"longitude", number(header.referenceLongitude)}};
    settings["confidenceLevel"] = number(header.confidenceLevel);
    settings["vectorSigmaScale"] = number(header.vectorSigmaScale);
    settings["minimallyConstrained"] = record != nullptr && record->minimallyConstrained != 0;
    Json bias = Json::object();
    for (int k = 0; k < 4; ++k) {
        const double value = record != nullptr ? record->aprioriBias[2 * k] : 0.0;
        const double sigma = record != nullptr ? record->aprioriBias[2 * k + 1] : 0.0;
        bias[kBiasNames[k]] = {{"value", number(value)}, {"sigma", number(sigma)}};
    }
    settings["datumBias"] = bias;
    root["settings"] = settings;

    Json sites = Json::array();
    for (const SiteRecord& s : dataSet.sites()) {
        sites.push_back(siteJson(s, names));
    }
    root["sites"] = sites;
    Json vectors = Json::array();
    for (const VectorRecord& v : dataSet.vectors()) {
        vectors.push_back(vectorJson(v, names));
    }
    root["vectors"] = vectors;

    if (record != nullptr) {
        Json results = Json::object();
        results["succeeded"] = record->adjustmentSucceeded != 0;
        results["observations"] = record->observationCount;
        results["unknowns"] = record->unknownCount;
        results["degreesOfFreedom"] = record->degreesOfFreedom;
        results["iterations"] = record->iterationCount;
        results["chiSquare"] = number(record->chiSquare);
        results["chiSquareLower"] = number(record->chiSquareLower);
        results["chiSquareUpper"] = number(record->chiSquareUpper);
        results["tauCriticalValue"] = number(record->tauCriticalValue);
        results["unitWeightStandardError"] = number(record->unitWeightStandardError);
        Json biasResults = Json::object();
        for (int k = 0; k < 7; ++k) {
            biasResults[kBiasResultNames[k]] = {{"value", number(record->biasResults[2 * k])},
                                                {"sigma", number(record->biasResults[2 * k + 1])}};
        }
        results["datumBias"] = biasResults;
        root["results"] = results;
    }
    Json preserved = preservedJson(header, record);
    if (!preserved.empty()) {
        root["preserved"] = preserved;
    }
    return root;
}

}  // namespace torvek::front
