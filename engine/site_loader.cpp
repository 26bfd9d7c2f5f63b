// Loading the sites in use: control classification, unknown numbering, constraints, start
// coordinates.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "dataset/name_index.h"
#include "dataset/site_record.h"
#include "engine/adjustment_engine.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/geodetic_conversion.h"

namespace torvek {
namespace {

constexpr const char* kComponentLabels[3] = {"LAT.", "LON.", "H   "};

// A position or sigma that no survey can have: it would only turn into NaN or infinite results
// later. The sigmas are the record's own, before the millimetre rule or a minimal constraint
// replaces them, so that a damaged field is reported rather than quietly ignored.
bool positionIsUsable(const SiteRecord& site) {
    if (!std::isfinite(site.latitude) || std::fabs(site.latitude) > 90)
        return false;
    if (!std::isfinite(site.longitude) || std::fabs(site.longitude) > 360)
        return false;
    for (double height : {site.elevation, site.geoidHeight})
        if (!std::isfinite(height) || std::fabs(height) > kMaxAbsoluteHeight)
            return false;
    for (double sigma : {site.latitudeSigma, site.longitudeSigma, site.elevationSigma})
        if (!std::isfinite(sigma))
            return false;
    return true;
}

}  // namespace

int AdjustmentEngine::findSite(const char* name) const {
    if (name == nullptr)
        return 0;
    const AdjustmentState& s = *state_;
    if (siteSlotIndex_.empty()) {
        // Slots beyond the loaded sites are empty (the state is rebuilt by every attempt), so
        // the scan stops at the loaded ones.
        for (int i = 1; i <= s.loadedSiteCount && i < static_cast<int>(s.sites.size()); ++i)
            if (std::strncmp(s.sites[i].nameSlot, name, 4) == 0)
                return i;
        return 0;
    }
    const std::uint32_t key = siteNameKey(name, false);
    const std::size_t mask = siteSlotIndex_.size() - 1;
    for (std::size_t at = nameKeySlot(key, mask + 1); siteSlotIndex_[at].second != 0;
         at = (at + 1) & mask) {
        if (siteSlotIndex_[at].first == key)
            return siteSlotIndex_[at].second;
    }
    return 0;
}

void AdjustmentEngine::indexSiteSlots() {
    const AdjustmentState& s = *state_;
    const int sites = std::min(s.loadedSiteCount, static_cast<int>(s.sites.size()) - 1);
    siteSlotIndex_.clear();
    if (sites < 1)
        return;
    // Open addressing, at most half full; slot 0 marks an empty entry. The sites go in in slot
    // order and a name already there keeps its first slot, as the scan finds it.
    std::size_t size = 2;
    while (size < 2 * static_cast<std::size_t>(sites))
        size *= 2;
    siteSlotIndex_.assign(size, {0, 0});
    for (int i = 1; i <= sites; ++i) {
        const std::uint32_t key = siteNameKey(s.sites[i].nameSlot, false);
        std::size_t at = nameKeySlot(key, size);
        while (siteSlotIndex_[at].second != 0 && siteSlotIndex_[at].first != key)
            at = (at + 1) & (size - 1);
        if (siteSlotIndex_[at].second == 0)
            siteSlotIndex_[at] = {key, i};
    }
}

bool AdjustmentEngine::loadSites() {
    AdjustmentState& s = *state_;
    s.loadedSiteCount = 0;
    s.coordinateUnknownCount = 0;
    s.controlConstraintCount = 0;
    siteSlotIndex_.clear();
    int sitesWithGeoid = 0;

    bool found = input_.firstSite();
    while (found && input_.siteInUse() == 0)
        found = input_.nextSite();
    if (!found) {
        report_.print("Error: No sites for adjustment.\n");
        return false;
    }
    for (; found; found = input_.nextSite()) {
        if (input_.siteInUse() == 0)
            continue;
        if (!loadSite(sitesWithGeoid))
            return false;
    }

    indexSiteSlots();

    chooseTiltConstraintAxis();
    if (s.horizontalControlCount == 0 || s.verticalControlCount == 0) {
        report_.print("Error: No starting horizontal position or elevation.");
        return false;
    }
    formSiteCartesians();
    if (sitesWithGeoid > 0 && sitesWithGeoid < s.loadedSiteCount) {
        report_.print("Error: Geoid height(s) missing at %3d site(s)\n",
                      s.loadedSiteCount - sitesWithGeoid);
        return false;
    }
    return true;
}

bool AdjustmentEngine::loadSite(int& sitesWithGeoid) {
    AdjustmentState& s = *state_;
    const char* name = input_.siteName();
    output_.seekSite(name);
    std::uint8_t fixed[3] = {0, 0, 0};
    input_.getSiteFixed(fixed[0], fixed[1], fixed[2]);
    SitePosition position;
    input_.getSitePosition(position);
    output_.setSiteInUse(0);
    double sigma[3] = {0, 0, 0};
    input_.getSiteSigmas(sigma[0], sigma[1], sigma[2]);

    if (settings_.minimallyConstrained) {
        // Only the first horizontally and the first vertically fixed site keep their fixes, and
        // no site is weighted.
        sigma[0] = sigma[1] = sigma[2] = 0;
        if (s.horizontalControlCount == 1)
            fixed[0] = fixed[1] = 0;
        if (s.verticalControlCount == 1)
            fixed[2] = 0;
    }
    if (++s.loadedSiteCount > siteLimit()) {
        report_.print("Error: Max number of sites allowed is %ld\n", long(siteLimit()));
        return false;
    }
    s.reserveSites(s.loadedSiteCount);
    s.reserveUnknowns(s.coordinateUnknownCount + 3 + kBiasParameterCount * kBiasGroupSlots);
    if (!positionIsUsable(*std::as_const(input_).currentSite())) {
        return reportError("Error: Site %4.4s has an invalid position or sigma\n", name);
    }
    const int index = s.loadedSiteCount;
    SiteState& site = s.sites[index];
    std::memcpy(site.name, name, 4);
    std::snprintf(site.nameSlot, sizeof site.nameSlot, "%4.4s          ", name);
    site.latitude = position.latitude / kDegreesPerRadian;
    site.longitude = position.longitude / kDegreesPerRadian;
    site.geoidHeight = position.geoidHeight;
    site.height = position.elevation + position.geoidHeight;
    if (position.geoidHeight != 0)
        ++sitesWithGeoid;

    if (fixed[0] || fixed[1] || fixed[2])
        output_.setSiteFixed(fixed[0], fixed[1], fixed[2]);
    if (sigma[0] != 0 || sigma[1] != 0 || sigma[2] != 0)
        output_.setSiteSigmas(sigma[0], sigma[1], sigma[2]);

    const bool horizontal = (fixed[0] || sigma[0] != 0) && (fixed[1] || sigma[1] != 0);
    const bool vertical = fixed[2] || sigma[2] != 0;
    if (horizontal)
        ++s.horizontalControlCount;
    if (vertical) {
        ++s.verticalControlCount;
        if (s.verticalControlCount == 1)
            s.firstVerticalControlSite = index;
        if (s.verticalControlCount == 2)
            s.secondVerticalControlSite = index;
    }

    numberSiteUnknowns(index, fixed, sigma);
    return true;
}

void AdjustmentEngine::numberSiteUnknowns(int index, const std::uint8_t (&fixed)[3],
                                          const double (&sigma)[3]) {
    AdjustmentState& s = *state_;
    SiteState& site = s.sites[index];
    const char* name = site.name;
    const double value[3] = {site.latitude, site.longitude, site.height};
    for (int k = 0; k < 3; ++k) {
        if (fixed[k])
            continue;  // a fixed component has no unknown and no constraint
        const int unknown = ++s.coordinateUnknownCount;
        std::memcpy(s.unknownSite[unknown].name, name, 4);
        s.unknownSite[unknown].component = k;
        site.unknownNumber[k] = unknown;
        if (sigma[k] != 0) {
            ++s.controlConstraintCount;
            ControlConstraintRecord record;
            record.siteIndex = index;
            record.component = k + 1;
            record.unknown = unknown;
            record.sigma = sigma[k];
            std::memcpy(record.label, kComponentLabels[k], 5);
            record.value = value[k];
            writeRecord(scratch_.controlScratch, record);
        }
    }
}

void AdjustmentEngine::chooseTiltConstraintAxis() {
    AdjustmentState& s = *state_;
    if (s.verticalControlCount == 2) {
        // Two height controls fix the tilt across the line joining them only; the tilt along the
        // other axis needs a bias constraint.
        const SiteState& first = s.sites[s.firstVerticalControlSite];
        const SiteState& second = s.sites[s.secondVerticalControlSite];
        const double dLatitude = second.latitude - first.latitude;
        const double dLongitude = second.longitude - first.longitude;
        s.tiltConstraintAxis =
            std::fabs(dLatitude) < std::fabs(dLongitude) * std::cos(s.referenceLatitude) ? 2 : 1;
    }
}

void AdjustmentEngine::formSiteCartesians() {
    AdjustmentState& s = *state_;
    for (int i = 1; i <= s.loadedSiteCount; ++i) {
        SiteState& site = s.sites[i];
        site.sinLatitude = std::sin(site.latitude);
        site.cosLatitude = std::cos(site.latitude);
        site.sinLongitude = std::sin(site.longitude);
        site.cosLongitude = std::cos(site.longitude);
        Vector3 xyz = cartesianFromGeodetic(s.semiMajorAxis, s.eccentricitySquared,
                                            site.sinLatitude, site.cosLatitude, site.sinLongitude,
                                            site.cosLongitude, site.height);
        site.x = xyz[0];
        site.y = xyz[1];
        site.z = xyz[2];
    }
}

}  // namespace torvek
