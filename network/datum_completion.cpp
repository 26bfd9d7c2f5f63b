#include "network/datum_completion.h"

#include <cstddef>

namespace torvek {

void restrictToGroup(GroupTables& tables, std::int32_t chosen, GroupTally& tally) {
    for (GroupSite& site : tables.sites) {
        if (site.group != chosen) {
            site.inUse = 0;
            site.latitudeFixed = site.longitudeFixed = site.elevationFixed = 0;
            continue;
        }
        site.inUse = 1;
        if (site.longitudeFixed && !site.latitudeFixed) {
            site.latitudeFixed = 1;
            ++tally.latitudeFixes;
        }
        if (site.latitudeFixed && !site.longitudeFixed) {
            site.longitudeFixed = 1;
            ++tally.longitudeFixes;
        }
    }
    for (GroupVector& vector : tables.vectors)
        vector.inUse = vector.group == chosen ? 1 : 0;
}

std::int32_t completeDatum(GroupTables& tables, std::int32_t chosen, GroupTally& tally) {
    const bool groupHasFix = tally.fixSum() > 0;
    std::int32_t anchor = -1;
    for (std::size_t i = 0; i < tables.sites.size(); ++i) {
        const GroupSite& site = tables.sites[i];
        if (site.group != chosen)
            continue;
        if (!groupHasFix || site.anyFix()) {
            anchor = static_cast<std::int32_t>(i);
            break;
        }
    }
    if (anchor < 0)
        return anchor;
    GroupSite& site = tables.sites[static_cast<std::size_t>(anchor)];
    if (tally.elevationFixes == 0) {
        site.elevationFixed = 1;
        ++tally.elevationFixes;
    }
    if (tally.latitudeFixes == 0 && tally.longitudeFixes == 0) {
        site.longitudeFixed = 1;
        site.latitudeFixed = 1;
        ++tally.longitudeFixes;
        ++tally.latitudeFixes;
    }
    return anchor;
}

}  // namespace torvek
