#include "front/import/survey_merge.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <utility>

namespace torvek::front {
namespace {

// Degrees of latitude per metre on the Earth's surface, rounded up: a bound for comparing sites
// placed by latitude and longitude above the geoid, which have no Earth-centred position.
constexpr double kDegreesPerMetre = 1.0 / 110574.0;

std::string positionText(const SurveySite& site) {
    char text[128];
    const Vector3& c = site.coordinates;
    if (site.position == SitePosition::kGeocentric) {
        std::snprintf(text, sizeof text, "X %.4f Y %.4f Z %.4f m", c[0], c[1], c[2]);
    } else {
        std::snprintf(text, sizeof text, "latitude %.9f, longitude %.9f degrees, height %.4f m%s",
                      c[0], c[1], c[2],
                      site.position == SitePosition::kGeodeticAboveGeoid ? " above the geoid" : "");
    }
    return text;
}

// The site as the merged network keeps it: placed on the ellipsoid by latitude and longitude, it
// becomes Earth-centred on its own file's ellipsoid.
SurveySite centred(SurveySite site, const NamedEllipsoid& ellipsoid) {
    if (site.position == SitePosition::kGeodeticEllipsoidal) {
        site.coordinates = *filePosition(site, ellipsoid);
        site.position = SitePosition::kGeocentric;
    }
    return site;
}

// True when `a` and `b` (both with coordinates, geodetic ones already made Earth-centred) are
// one place within kSamePositionTolerance.
bool samePlace(const SurveySite& a, const SurveySite& b) {
    if (a.position != b.position) {
        return false;  // Earth-centred against above the geoid: no common frame to compare in
    }
    const Vector3& p = a.coordinates;
    const Vector3& q = b.coordinates;
    if (a.position == SitePosition::kGeocentric) {
        return std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]) <= kSamePositionTolerance;
    }
    const double angle = kSamePositionTolerance * kDegreesPerMetre;
    return std::fabs(p[0] - q[0]) <= angle && std::fabs(p[1] - q[1]) <= angle &&
           std::fabs(p[2] - q[2]) <= kSamePositionTolerance;
}

class Merger {
  public:
    void add(SurveySource& source) {
        SurveyNetwork& n = source.network;
        const NamedEllipsoid ellipsoid = surveyEllipsoid(n);
        header(source);
        for (const SurveySite& site : n.sites) {
            join(centred(site, ellipsoid), source.name);
        }
        if (!n.vectors.empty() && !unitChosen_) {
            merged_.covarianceUnit = n.covarianceUnit;
            unitChosen_ = true;
        }
        const double scale =
            squareMetresPer(n.covarianceUnit) / squareMetresPer(merged_.covarianceUnit);
        for (SurveyVector v : n.vectors) {
            for (double& c : v.covariance) {
                c *= scale;
            }
            v.where = source.name + ": " + v.where;
            merged_.vectors.push_back(std::move(v));
        }
        for (const auto& [kind, count] : n.skipped) {
            merged_.skipped[kind] += count;
        }
        for (const std::string& note : n.notes) {
            merged_.notes.push_back(source.name + ": " + note);
        }
        for (const std::string& warning : n.warnings) {
            merged_.warnings.push_back(source.name + ": " + warning);
        }
    }

    SurveyNetwork take() { return std::move(merged_); }

  private:
    // The title, ellipsoid and confidence level of the first file that gives them.
    void header(const SurveySource& source) {
        const SurveyNetwork& n = source.network;
        if (merged_.title.empty()) {
            merged_.title = n.title;
        }
        const bool statesEllipsoid = n.customEllipsoid || !n.ellipsoidName.empty();
        if (statesEllipsoid && ellipsoidFrom_.empty()) {
            merged_.ellipsoidName = n.ellipsoidName;
            merged_.customEllipsoid = n.customEllipsoid;
            ellipsoidFrom_ = source.name;
        } else if (statesEllipsoid) {
            const NamedEllipsoid a = surveyEllipsoid(merged_), b = surveyEllipsoid(n);
            if (a.semiMajorAxis != b.semiMajorAxis || a.inverseFlattening != b.inverseFlattening) {
                surveyFail("", ellipsoidFrom_ + " and " + source.name +
                                   " name different ellipsoids: give the files of one network "
                                   "on one ellipsoid");
            }
        }
        if (n.confidenceLevel && !merged_.confidenceLevel) {
            merged_.confidenceLevel = n.confidenceLevel;
        } else if (n.confidenceLevel && *n.confidenceLevel != *merged_.confidenceLevel) {
            merged_.notes.push_back(source.name +
                                    ": its confidence level is not used; the first "
                                    "file's is");
        }
    }

    void join(const SurveySite& site, const std::string& file) {
        const bool known = merged_.findSite(site.name) != nullptr;
        SurveySite& into = merged_.site(site.name);
        if (!known || into.position == SitePosition::kNone) {
            const SurveySite before = into;
            into = site;
            if (known) {  // named by an earlier file without coordinates: its holds stay
                into.inUse = before.inUse && site.inUse;
                for (int i = 0; i < 3; ++i) {
                    into.fixed[i] = into.fixed[i] || before.fixed[i];
                }
            }
            placedBy_[site.name] = file;
            return;
        }
        into.inUse = into.inUse && site.inUse;
        if (site.position == SitePosition::kNone) {
            return;
        }
        if (!samePlace(into, site)) {
            surveyFail("", "site \"" + site.name + "\" is placed twice, more than 1 mm apart: " +
                               placedBy_[site.name] + " gives " + positionText(into) + ", " + file +
                               " gives " + positionText(site));
        }
        for (int i = 0; i < 3; ++i) {
            into.fixed[i] = into.fixed[i] || site.fixed[i];
        }
        if (!into.geocentricSigmas) {
            into.geocentricSigmas = site.geocentricSigmas;
        }
        if (into.fixed[0] || into.fixed[1] || into.fixed[2]) {
            into.geocentricSigmas.reset();  // a held site is not weighted as well
        }
    }

    SurveyNetwork merged_;
    bool unitChosen_ = false;
    std::string ellipsoidFrom_;
    std::map<std::string, std::string> placedBy_;  // site name -> the file that placed it
};

}  // namespace

SurveyNetwork mergeSurveys(std::vector<SurveySource> sources) {
    if (sources.size() == 1) {
        return std::move(sources.front().network);
    }
    Merger merger;
    for (SurveySource& source : sources) {
        merger.add(source);
    }
    return merger.take();
}

}  // namespace torvek::front
