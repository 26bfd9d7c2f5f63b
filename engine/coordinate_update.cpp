// Applying the corrections of a solve to the site coordinates.
#include <cmath>

#include "engine/adjustment_engine.h"
#include "geodesy/geodetic_conversion.h"

namespace torvek {

void AdjustmentEngine::updateCoordinates() {
    AdjustmentState& s = *state_;
    const double a = s.semiMajorAxis;
    const double e2 = s.eccentricitySquared;
    for (int i = 1; i <= s.loadedSiteCount; ++i) {
        SiteState& site = s.sites[i];
        double x[3];
        for (int k = 0; k < 3; ++k)
            x[k] = site.unknownNumber[k] ? s.solution[site.unknownNumber[k]] : 0.0;
        // Radii of curvature from the latitude before the update; north and east corrections are
        // metres along the site's meridian and prime vertical at the new height.
        const double sinPhi = std::sin(site.latitude);
        const double cosPhi = std::cos(site.latitude);
        const double w = std::sqrt(1 - e2 * sinPhi * sinPhi);
        site.height += x[2];
        site.latitude += x[0] / (a * (1 - e2) / (w * w * w) + site.height);
        site.longitude += x[1] / (a / w + site.height) / cosPhi;
        site.sinLatitude = std::sin(site.latitude);
        site.cosLatitude = std::cos(site.latitude);
        site.sinLongitude = std::sin(site.longitude);
        site.cosLongitude = std::cos(site.longitude);
        const Vector3 xyz =
            cartesianFromGeodetic(a, e2, site.sinLatitude, site.cosLatitude, site.sinLongitude,
                                  site.cosLongitude, site.height);
        site.x = xyz[0];
        site.y = xyz[1];
        site.z = xyz[2];
    }
}

Vector3 AdjustmentEngine::vectorSigmas(int from, int to) const {
    const AdjustmentState& s = *state_;
    Vector3 sigma = {0, 0, 0};
    const bool valid = from >= 1 && from <= s.loadedSiteCount && to >= 1 && to <= s.loadedSiteCount;
    for (int k = 0; valid && k < 3; ++k) {
        // Component k of B Q6 B^T with B = [-I | I]: Q_ff + Q_tt - 2 Q_ft, absent terms 0.
        const int f = s.sites[from].unknownNumber[k];
        const int t = s.sites[to].unknownNumber[k];
        double variance = 0;
        if (f)
            variance += inverseElement(f, f);
        if (t)
            variance += inverseElement(t, t);
        if (f && t)
            variance -= 2.0 * inverseElement(f, t);
        // Rounding of the single-precision inverse may leave a tiny negative variance.
        sigma[k] = std::sqrt(std::max(variance, 0.0)) * s.sigmaScale;
    }
    return sigma;
}

}  // namespace torvek
