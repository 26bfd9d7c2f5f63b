#include "network/group_tables.h"

#include <algorithm>
#include <span>
#include <vector>

#include "dataset/name_index.h"

namespace torvek {
namespace {

std::uint8_t flag(std::uint8_t byte) {
    return byte != 0 ? 1 : 0;
}

// A label names its site by the name printed in its first four characters, compared as names
// are: case-sensitively, at most four bytes, up to the first zero byte. Two texts name the same
// site exactly when their keys are equal.
std::uint32_t nameKey(const char* text) {
    std::uint32_t key = 0;
    for (int i = 0; i < 4 && text[i] != '\0'; ++i)
        key |= std::uint32_t(static_cast<unsigned char>(text[i])) << (8 * i);
    return key;
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
    // The ends are found as a scan of the sites in table order would find them (the scan stops
    // once both ends are known, and a later site of the same name overwrites an end found
    // earlier), but from an index of the sites in use by name: a scan per vector costs sites x
    // vectors, which a damaged file with many records turns into minutes. The index holds the
    // sites in use ordered by name key and, within a name, by table position; a small open-address
    // table leads from a key to its run.
    std::vector<std::pair<std::uint32_t, std::int32_t>> byName;
    for (std::int32_t m = 0; m < static_cast<std::int32_t>(tables.sites.size()); ++m)
        if (tables.sites[m].inUse)
            byName.emplace_back(nameKey(tables.sites[m].name.data()), m);
    std::sort(byName.begin(), byName.end());
    std::vector<std::int32_t> position(byName.size());
    for (std::size_t k = 0; k < byName.size(); ++k)
        position[k] = byName[k].second;
    struct Run {
        std::uint32_t key = 0;
        std::int32_t first = 0, count = 0;  // count 0: an empty slot
    };
    std::size_t slots = 2;
    while (slots < 2 * byName.size())
        slots *= 2;
    std::vector<Run> runs(slots);
    const auto slotOf = [&](std::uint32_t key) { return nameKeySlot(key, slots); };
    for (std::size_t k = 0; k < byName.size();) {
        std::size_t end = k + 1;
        while (end < byName.size() && byName[end].first == byName[k].first)
            ++end;
        std::size_t slot = slotOf(byName[k].first);
        while (runs[slot].count != 0)
            slot = (slot + 1) & (slots - 1);
        runs[slot] = {byName[k].first, std::int32_t(k), std::int32_t(end - k)};
        k = end;
    }
    // The table positions of the sites in use named by `label`, ascending; empty when none.
    const auto sitesNamed = [&](const char* label) -> std::span<const std::int32_t> {
        const std::uint32_t key = nameKey(label);
        for (std::size_t slot = slotOf(key); runs[slot].count != 0;
             slot = (slot + 1) & (slots - 1)) {
            if (runs[slot].key == key)
                return {position.data() + runs[slot].first, std::size_t(runs[slot].count)};
        }
        return {};
    };
    for (GroupVector& vector : tables.vectors) {
        if (!vector.inUse)
            continue;
        const std::span<const std::int32_t> from = sitesNamed(vector.label.from.data());
        const std::span<const std::int32_t> to = sitesNamed(vector.label.to.data());
        if (from.empty() || to.empty()) {
            // The scan runs to the end: each end found is the last site of its name.
            vector.fromIndex = from.empty() ? -1 : from.back();
            vector.toIndex = to.empty() ? -1 : to.back();
            vector.inUse = 0;
            continue;
        }
        if (from.front() <= to.front()) {
            // The scan stops at the first site of the end's name, after checking it as a start.
            const std::int32_t stop = to.front();
            vector.toIndex = stop;
            vector.fromIndex = *(std::upper_bound(from.begin(), from.end(), stop) - 1);
        } else {
            // The scan stops at the first site of the start's name, before checking it as an end.
            const std::int32_t stop = from.front();
            vector.fromIndex = stop;
            vector.toIndex = *(std::lower_bound(to.begin(), to.end(), stop) - 1);
        }
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
