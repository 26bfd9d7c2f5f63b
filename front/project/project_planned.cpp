// Reading the planned vectors of a project: checked always, added to the data set for a
// pre-analysis.
#include <cmath>
#include <cstring>

#include "front/project/project_fields.h"
#include "front/project/project_reading.h"
#include "front/project/site_name_mapping.h"
#include "front/project/vector_covariance.h"
#include "geodesy/geodetic_conversion.h"
#include "geodesy/geodetic_from_cartesian.h"

namespace torvek::front {
namespace {

using namespace fields;

constexpr double kRadiansPerDegree = M_PI / 180.0;

Vector3 approximatePosition(const SiteRecord& site, const EllipsoidParameters& shape) {
    const double f = 1.0 / shape.inverseFlattening;
    return cartesianFromGeodeticAt(
        shape.semiMajorAxis, f * (2.0 - f), site.latitude * kRadiansPerDegree,
        site.longitude * kRadiansPerDegree, site.elevation + site.geoidHeight);
}

const SiteRecord* siteByCode(const AdjustedDataSet& ds, const std::string& code) {
    for (const SiteRecord& s : ds.sites()) {
        if (std::strncmp(s.name.data(), code.c_str(), kSiteNameSize) == 0) {
            return &s;
        }
    }
    return nullptr;
}

// The planned vector's components from the approximate coordinates, and its precision as given
// or from the sigma model at its middle.
void fillPlanned(const Json& entry, const std::string& path, const PlannedReading& reading,
                 const SiteRecord& from, const SiteRecord& to, VectorRecord& record,
                 PrecisionTally& tally, std::vector<std::string>& notes,
                 const AdjustedDataSet& ds) {
    const EllipsoidParameters shape = ds.ellipsoid();
    const Vector3 a = approximatePosition(from, shape), b = approximatePosition(to, shape);
    record.deltaX = b[0] - a[0];
    record.deltaY = b[1] - a[1];
    record.deltaZ = b[2] - a[2];
    record.weightDivisor = kNeutralWeightDivisor;
    record.inUse = 1;
    for (const char* key : {"sigmas", "covariance"}) {
        if (find(entry, key) != nullptr) {
            readVectorPrecision(entry, path, record, tally, notes);
            return;
        }
    }
    const double f = 1.0 / shape.inverseFlattening;
    const GeodeticPoint middle =
        geodeticFromCartesian(shape.semiMajorAxis, f * (2.0 - f),
                              {(a[0] + b[0]) / 2, (a[1] + b[1]) / 2, (a[2] + b[2]) / 2});
    const double length = std::hypot(record.deltaX, record.deltaY, record.deltaZ);
    const SigmasAndCorrelations sc = sigmasAndCorrelations(
        sigmaModelCovariance(reading.sigmaModel, length, middle.latitude, middle.longitude));
    record.sigmaX = sc.sigmas[0];
    record.sigmaY = sc.sigmas[1];
    record.sigmaZ = sc.sigmas[2];
    record.correlationXY = sc.correlations[0];
    record.correlationXZ = sc.correlations[1];
    record.correlationYZ = sc.correlations[2];
}

}  // namespace

void readPlannedVectors(const Json& planned, const PlannedReading& reading, AdjustedDataSet& ds,
                        PrecisionTally& tally, std::vector<std::string>& notes) {
    if (!planned.is_array()) {
        fail("planned", "must be a list [...]");
    }
    std::int32_t nextRecord = 1;
    for (const VectorRecord& v : ds.vectors()) {
        nextRecord = std::max(nextRecord, v.recordNumber + 1);
    }
    for (std::size_t i = 0; i < planned.size(); ++i) {
        const Json& entry = planned[i];
        std::string path = "planned[" + std::to_string(i) + "]";
        requireObject(entry, path);
        const std::string from = requiredString(entry, path, "from");
        const std::string to = requiredString(entry, path, "to");
        path += " (\"" + from + "\" to \"" + to + "\")";
        checkKeys(entry, path,
                  {"from", "to", "sigmas", "correlations", "covariances", "covariance"});
        const auto fromCode = reading.codeByName.find(foldAsciiCase(from));
        if (fromCode == reading.codeByName.end()) {
            fail(member(path, "from"), "no site is named \"" + from + "\"");
        }
        const auto toCode = reading.codeByName.find(foldAsciiCase(to));
        if (toCode == reading.codeByName.end()) {
            fail(member(path, "to"), "no site is named \"" + to + "\"");
        }
        if (fromCode->second == toCode->second) {
            fail(path, "a planned vector must join two different sites");
        }
        if (!reading.addToDataSet) {
            VectorRecord checked;
            if (find(entry, "sigmas") != nullptr || find(entry, "covariance") != nullptr) {
                readVectorPrecision(entry, path, checked, tally, notes);
            } else if (find(entry, "correlations") != nullptr ||
                       find(entry, "covariances") != nullptr) {
                fail(path, "correlations or covariances need \"sigmas\"");
            }
            continue;
        }
        const SiteRecord* a = siteByCode(ds, fromCode->second);
        const SiteRecord* b = siteByCode(ds, toCode->second);
        if (a == nullptr || b == nullptr || nextRecord > kLargestVectorRecordNumber ||
            !ds.addVector(fromCode->second.c_str(), toCode->second.c_str())) {
            fail(path, "no room for another vector");
        }
        VectorRecord& record = *ds.currentVector();
        record.recordNumber = nextRecord++;
        fillPlanned(entry, path, reading, *a, *b, record, tally, notes, ds);
    }
}

}  // namespace torvek::front
