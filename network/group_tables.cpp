#include "network/group_tables.h"

namespace torvek {
namespace {

std::uint8_t flag(std::uint8_t byte) {
    return byte != 0 ? 1 : 0;
}

// A label names its site by the name "%4.4s" printed in its first four characters.
bool labelNamesSite(const char* label, const SiteName& name) {
    return compareSiteNames(label, name.data(), false) == 0;
}

}  // namespace

void readGroupTables(ProjectDataSet& dataSet, GroupTables& tables) {
    tables.sites.clear();
    tables.vectors.clear();
    tables.sites.reserve(dataSet.sites().size());
    tables.vectors.reserve(dataSet.vectors().size());

    for (bool more = dataSet.firstSite(); more; more = dataSet.nextSite()) {
        GroupSite site;
        site.name = SiteName(dataSet.siteName());
        site.inUse = flag(dataSet.siteInUse());
        std::uint8_t latitude = 0, longitude = 0, elevation = 0;
        dataSet.getSiteFixed(latitude, longitude, elevation);
        site.latitudeFixed = flag(latitude);
        site.longitudeFixed = flag(longitude);
        site.elevationFixed = flag(elevation);
        tables.sites.push_back(site);
    }
    for (bool more = dataSet.firstVector(); more; more = dataSet.nextVector()) {
        GroupVector vector;
        dataSet.vectorLabels(vector.label);
        vector.inUse = flag(dataSet.vectorInUse());
        tables.vectors.push_back(vector);
    }
    matchVectorEnds(tables);
}

void matchVectorEnds(GroupTables& tables) {
    const std::int32_t siteCount = static_cast<std::int32_t>(tables.sites.size());
    for (GroupVector& vector : tables.vectors) {
        if (!vector.inUse)
            continue;
        vector.fromIndex = -1;
        vector.toIndex = -1;
        for (std::int32_t m = 0; m < siteCount; ++m) {
            const GroupSite& site = tables.sites[m];
            if (!site.inUse)
                continue;
            if (labelNamesSite(vector.label.from.data(), site.name)) {
                vector.fromIndex = m;
                if (vector.toIndex >= 0)
                    break;
            }
            if (labelNamesSite(vector.label.to.data(), site.name)) {
                vector.toIndex = m;
                if (vector.fromIndex >= 0)
                    break;
            }
        }
        if (vector.fromIndex < 0 || vector.toIndex < 0)
            vector.inUse = 0;
    }
}

void writeGroupFlags(const GroupTables& tables, ProjectDataSet& dataSet) {
    for (const GroupSite& site : tables.sites) {
        if (!dataSet.seekSite(site.name.data()))
            continue;
        dataSet.setSiteFixed(site.latitudeFixed, site.longitudeFixed, site.elevationFixed);
        dataSet.setSiteInUse(site.inUse);
    }
    for (const GroupVector& vector : tables.vectors) {
        if (!dataSet.seekVector(vector.label))
            continue;
        dataSet.setVectorInUse(vector.inUse);
    }
}

}  // namespace torvek
