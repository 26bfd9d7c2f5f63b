// The last guard against damaged input that the loaders let through (huge but finite values,
// say): no NaN or infinite number is stored as a result. Each check names what the number
// belongs to, so that the surveyor knows which record to look at.
#include <cmath>
#include <initializer_list>

#include "engine/adjustment_engine.h"
#include "geodesy/ellipsoid.h"

namespace torvek {
namespace {

bool allFinite(std::initializer_list<double> values) {
    for (double value : values)
        if (!std::isfinite(value))
            return false;
    return true;
}

}  // namespace

bool AdjustmentEngine::iterationIsFinite() {
    const AdjustmentState& s = *state_;
    // An overflow spreads through the whole solution; the bias parameters are named first, since
    // the loaders bound every site and vector value but not the a-priori bias values.
    for (int u = s.coordinateUnknownCount + 1; u <= s.unknownCount; ++u) {
        if (allFinite({s.solution[u], s.solutionSigma[u]}))
            continue;
        const int parameter = (u - s.coordinateUnknownCount - 1) % kBiasParameterCount + 1;
        return reportError("Error: Datum bias parameter %d has no finite adjusted value\n",
                           parameter);
    }
    for (int u = 1; u <= s.coordinateUnknownCount; ++u) {
        if (allFinite({s.solution[u], s.solutionSigma[u]}))
            continue;
        return reportError("Error: Site %4.4s has no finite adjusted position\n",
                           s.unknownSite[u].name);
    }
    for (int i = 1; i <= s.loadedSiteCount; ++i) {
        const SiteState& site = s.sites[i];
        if (allFinite({site.latitude, site.longitude, site.height, site.x, site.y, site.z}))
            continue;
        return reportError("Error: Site %4.4s has no finite adjusted position\n", site.name);
    }
    return true;
}

bool AdjustmentEngine::adjustedSitesAreFinite() {
    const AdjustmentState& s = *state_;
    for (int g = 1; g <= s.biasGroupCount; ++g) {
        for (int k = 1; k <= kBiasParameterCount; ++k) {
            const int u = s.biasUnknown(g, k);
            if (allFinite({s.solution[u], s.solutionSigma[u]}))
                continue;
            return reportError("Error: Datum bias parameter %d has no finite adjusted value\n", k);
        }
    }
    for (int i = 1; i <= s.loadedSiteCount; ++i) {
        const SiteState& site = s.sites[i];
        double sigma[3];
        for (int k = 0; k < 3; ++k)
            sigma[k] = site.unknownNumber[k] ? s.solutionSigma[site.unknownNumber[k]] : 0.0;
        if (allFinite({site.latitude * kDegreesPerRadian, site.longitude * kDegreesPerRadian,
                       site.height - site.geoidHeight, sigma[0], sigma[1], sigma[2]}))
            continue;
        return reportError("Error: Site %4.4s has no finite adjusted position\n", site.name);
    }
    return true;
}

}  // namespace torvek
