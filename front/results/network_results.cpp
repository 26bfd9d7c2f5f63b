#include "front/results/network_results.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <unordered_map>

#include "dataset/name_index.h"
#include "front/project/site_name_mapping.h"
#include "front/results/result_reading.h"
#include "front/results/vector_misfit.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/geodetic_conversion.h"
#include "geodesy/local_frame.h"

namespace torvek::front {

bool NetworkResults::chiSquarePassed() const {
    return chiSquareTestPassed(chiSquareOutcome(chiSquare, chiSquareLower, chiSquareUpper));
}

int NetworkResults::flaggedCount() const {
    int count = 0;
    for (const VectorResult& v : vectors) {
        count += v.flagged ? 1 : 0;
    }
    return count;
}

std::string controlDescription(const SiteResult& s) {
    std::string text;
    if (s.latitudeFixed && s.longitudeFixed && s.elevationFixed) {
        text = "fixed";
    } else {
        if (s.latitudeFixed || s.longitudeFixed) {
            text = "fixed horizontally";
        }
        if (s.elevationFixed) {
            text += text.empty() ? "fixed in height" : ", in height";
        }
    }
    if (s.constrained) {
        text += text.empty() ? "constrained" : "; constrained";
    }
    return text;
}

std::string formatSexagesimal(double degrees, const char* letters, int decimals) {
    if (!std::isfinite(degrees)) {
        return "-";
    }
    const char letter = degrees < 0 ? letters[1] : letters[0];
    double value = std::fabs(degrees);
    // Rounded once, in units of the last decimal of the seconds, so that 59.99999... never
    // shows as 60.
    const double unit = std::pow(10.0, -decimals);
    double totalSeconds = std::round(value * 3600.0 / unit) * unit;
    const long whole = static_cast<long>(totalSeconds / 3600.0);
    totalSeconds -= whole * 3600.0;
    const int minutes = static_cast<int>(totalSeconds / 60.0);
    double seconds = totalSeconds - minutes * 60.0;
    if (seconds < 0) {
        seconds = 0;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%ld %02d %0*.*f %c", whole, minutes, decimals + 3, decimals,
                  seconds, letter);
    return text;
}

namespace {

// The settings of the header and the statistics of the last adjustment record, if any.
void readRunRecord(const AdjustedDataSet& output, NetworkResults& r) {
    const DataSetHeader& h = output.headerRecord();
    r.title = output.headerText();
    r.semiMajorAxis = h.semiMajorAxis;
    r.inverseFlattening = h.inverseFlattening;
    r.referenceLatitude = h.referenceLatitude;
    r.referenceLongitude = h.referenceLongitude;
    r.confidenceLevel = h.confidenceLevel;
    r.vectorSigmaScale = h.vectorSigmaScale;
    if (output.adjustmentRecords().empty()) {
        return;
    }
    const AdjustmentRecord& a = output.adjustmentRecords().back();
    r.hasAdjustmentRecord = true;
    r.succeeded = a.adjustmentSucceeded != 0;
    r.minimallyConstrained = a.minimallyConstrained != 0;
    r.observations = a.observationCount;
    r.unknowns = a.unknownCount;
    r.degreesOfFreedom = a.degreesOfFreedom;
    r.iterations = a.iterationCount;
    r.chiSquare = a.chiSquare;
    r.chiSquareLower = a.chiSquareLower;
    r.chiSquareUpper = a.chiSquareUpper;
    r.tauCriticalValue = a.tauCriticalValue;
    r.unitWeightStandardError = a.unitWeightStandardError;
    for (std::size_t i = 0; i < r.bias.size(); ++i) {
        r.bias[i] = a.biasResults[i];
    }
}

// Local positions: differences of Earth-centred coordinates turned into the north/east/up frame
// of the reference point, which keeps the plot free of map-projection choices.
class LocalPlacement {
  public:
    explicit LocalPlacement(const NetworkResults& r)
        : a_(r.semiMajorAxis), e2_(eccentricitySquared(r.inverseFlattening)) {
        const double refLat = radiansFromDegrees(r.referenceLatitude);
        const double refLon = radiansFromDegrees(r.referenceLongitude);
        origin_ = cartesianFromGeodeticAt(a_, e2_, refLat, refLon, 0.0);
        frame_ = localFrameMatrixAt(refLat, refLon);
    }

    // North/east/up of a position in degrees and metres above the ellipsoid.
    Vector3 local(double latitude, double longitude, double height) const {
        const Vector3 p = cartesianFromGeodeticAt(a_, e2_, radiansFromDegrees(latitude),
                                                  radiansFromDegrees(longitude), height);
        return localFromCartesian(frame_,
                                  {p[0] - origin_[0], p[1] - origin_[1], p[2] - origin_[2]});
    }

  private:
    double a_, e2_;
    Vector3 origin_{};
    Matrix3 frame_{};
};

SiteResult siteResult(const SiteRecord& s, bool succeeded, const SiteNameTable& names,
                      const LocalPlacement& placement) {
    SiteResult site;
    site.name = names.nameOf(s.name.data());
    site.adjusted = succeeded && s.inUse != 0;
    site.latitudeFixed = s.latitudeFixed != 0;
    site.longitudeFixed = s.longitudeFixed != 0;
    site.elevationFixed = s.elevationFixed != 0;
    site.constrained = s.latitudeSigma > 0 || s.longitudeSigma > 0 || s.elevationSigma > 0;
    site.latitude = s.latitude;
    site.longitude = s.longitude;
    site.elevation = s.elevation;
    site.geoidHeight = s.geoidHeight;
    site.adjustedLatitude = s.adjustedLatitude;
    site.adjustedLongitude = s.adjustedLongitude;
    site.adjustedElevation = s.adjustedElevation;
    site.sigmaNorth = s.adjustedLatitudeSigma;
    site.sigmaEast = s.adjustedLongitudeSigma;
    site.sigmaUp = s.adjustedElevationSigma;
    const double lat = site.adjusted ? s.adjustedLatitude : s.latitude;
    const double lon = site.adjusted ? s.adjustedLongitude : s.longitude;
    const double height = (site.adjusted ? s.adjustedElevation : s.elevation) + s.geoidHeight;
    const Vector3 local = placement.local(lat, lon, height);
    site.north = local[kNorth];
    site.east = local[kEast];
    return site;
}

// Position of the first site of each name ignoring case, as the program's lookups find them:
// one hashed lookup per vector end keeps reading the results linear in the number of records.
using FirstSiteByName = std::unordered_map<std::uint32_t, int>;

FirstSiteByName firstSiteByName(const std::vector<SiteRecord>& sites) {
    FirstSiteByName first;
    first.reserve(sites.size());
    for (std::size_t i = 0; i < sites.size(); ++i) {
        first.emplace(siteNameKey(sites[i].name.data(), true), static_cast<int>(i));
    }
    return first;
}

VectorResult vectorResult(const VectorRecord& v, const NetworkResults& r,
                          const FirstSiteByName& siteIndex, const SiteNameTable& names) {
    VectorResult vector;
    vector.from = names.nameOf(v.fromSite.data());
    vector.to = names.nameOf(v.toSite.data());
    vector.record = v.recordNumber;
    const auto positionOf = [&](const SiteName& name) {
        const auto found = siteIndex.find(siteNameKey(name.data(), true));
        return found != siteIndex.end() ? found->second : -1;
    };
    vector.fromIndex = positionOf(v.fromSite);
    vector.toIndex = positionOf(v.toSite);
    vector.adjusted = r.succeeded && v.inUse != 0;
    vector.length = std::sqrt(v.deltaX * v.deltaX + v.deltaY * v.deltaY + v.deltaZ * v.deltaZ);
    for (int k = 0; k < 3; ++k) {
        vector.residual[k] = v.vectorTestResults[6 + k];
        vector.normalized[k] = v.vectorTestResults[9 + k];
        if (std::fabs(vector.normalized[k]) > vector.largestNormalized) {
            vector.largestNormalized = std::fabs(vector.normalized[k]);
            vector.signedLargestNormalized = vector.normalized[k];
        }
    }
    vector.flagged =
        vector.adjusted && r.tauCriticalValue > 0 && vector.largestNormalized > r.tauCriticalValue;
    vector.excluded = r.succeeded && v.inUse == 0;
    return vector;
}

}  // namespace

NetworkResults collectResults(const AdjustedDataSet& output, const SiteNameTable& names) {
    NetworkResults r;
    readRunRecord(output, r);
    const LocalPlacement placement(r);
    r.sites.reserve(output.sites().size());
    for (const SiteRecord& s : output.sites()) {
        r.sites.push_back(siteResult(s, r.succeeded, names, placement));
    }
    const FirstSiteByName siteIndex = firstSiteByName(output.sites());
    r.vectors.reserve(output.vectors().size());
    for (const VectorRecord& v : output.vectors()) {
        r.vectors.push_back(vectorResult(v, r, siteIndex, names));
    }
    const std::vector<VectorMisfit> misfits = vectorMisfits(output);
    for (std::size_t i = 0; i < r.vectors.size(); ++i) {
        VectorResult& vector = r.vectors[i];
        if (vector.excluded && misfits[i].available) {
            vector.hasMisfit = true;
            vector.misfit = misfits[i].misfit;
            vector.normalizedMisfit = misfits[i].normalized;
        }
    }
    return r;
}

}  // namespace torvek::front
