#include "network/site_groups.h"

#include <cstddef>
#include <utility>

namespace torvek {
namespace {

// Disjoint sets over the site table. Merging through a set forest rather than renumbering every
// entry at each merge keeps a large, damaged data set from taking quadratic time; the numbering
// by first vector below gives the very groups that merging and renumbering would.
class SiteSets {
  public:
    explicit SiteSets(std::size_t count) : parent_(count), size_(count, 1) {
        for (std::size_t i = 0; i < count; ++i)
            parent_[i] = i;
    }

    std::size_t find(std::size_t i) {
        while (parent_[i] != i) {
            parent_[i] = parent_[parent_[i]];
            i = parent_[i];
        }
        return i;
    }

    void join(std::size_t a, std::size_t b) {
        a = find(a);
        b = find(b);
        if (a == b)
            return;
        if (size_[a] < size_[b])
            std::swap(a, b);
        parent_[b] = a;
        size_[a] += size_[b];
    }

  private:
    std::vector<std::size_t> parent_;
    std::vector<std::size_t> size_;
};

bool joinsTwoSites(const GroupVector& vector) {
    return vector.inUse && vector.fromIndex >= 0 && vector.toIndex >= 0;
}

}  // namespace

std::int32_t groupSites(GroupTables& tables) {
    const std::size_t siteCount = tables.sites.size();
    SiteSets sets(siteCount);
    for (const GroupVector& vector : tables.vectors) {
        if (!joinsTwoSites(vector))
            continue;
        if (static_cast<std::size_t>(vector.fromIndex) >= siteCount ||
            static_cast<std::size_t>(vector.toIndex) >= siteCount)
            continue;
        sets.join(static_cast<std::size_t>(vector.fromIndex),
                  static_cast<std::size_t>(vector.toIndex));
    }

    // Number each set when its first vector comes by, so the numbers follow the earliest vectors.
    std::vector<std::int32_t> numberOfSet(siteCount, 0);
    std::int32_t groupCount = 0;
    for (GroupVector& vector : tables.vectors) {
        vector.group = 0;
        if (!joinsTwoSites(vector))
            continue;
        if (static_cast<std::size_t>(vector.fromIndex) >= siteCount ||
            static_cast<std::size_t>(vector.toIndex) >= siteCount)
            continue;
        std::int32_t& number = numberOfSet[sets.find(static_cast<std::size_t>(vector.fromIndex))];
        if (number == 0)
            number = ++groupCount;
        vector.group = number;
    }
    // A site without a vector is a set of its own that no vector numbered: it stays in group 0.
    for (std::size_t i = 0; i < siteCount; ++i)
        tables.sites[i].group = numberOfSet[sets.find(i)];
    return groupCount;
}

std::vector<GroupTally> tallyGroups(const GroupTables& tables, std::int32_t groupCount) {
    std::vector<GroupTally> tallies(groupCount > 0 ? static_cast<std::size_t>(groupCount) : 0);
    auto tallyOf = [&](std::int32_t group) -> GroupTally* {
        if (group < 1 || group > groupCount)
            return nullptr;
        return &tallies[static_cast<std::size_t>(group - 1)];
    };
    for (const GroupSite& site : tables.sites) {
        GroupTally* tally = tallyOf(site.group);
        if (tally == nullptr)
            continue;
        tally->latitudeFixes += site.latitudeFixed;
        tally->longitudeFixes += site.longitudeFixed;
        tally->elevationFixes += site.elevationFixed;
        ++tally->sites;
    }
    for (const GroupVector& vector : tables.vectors) {
        GroupTally* tally = tallyOf(vector.group);
        if (tally != nullptr)
            ++tally->vectors;
    }
    return tallies;
}

std::int32_t chooseGroup(const std::vector<GroupTally>& tallies) {
    bool anyProduct = false, anySum = false;
    for (const GroupTally& tally : tallies) {
        anyProduct = anyProduct || tally.fixProduct() > 0;
        anySum = anySum || tally.fixSum() > 0;
    }
    auto measure = [&](const GroupTally& tally) -> std::int64_t {
        if (anyProduct)
            return tally.fixProduct();
        if (anySum)
            return tally.fixSum();
        return tally.sites;
    };
    std::int32_t chosen = 0;
    std::int64_t best = 0;
    for (std::size_t k = 0; k < tallies.size(); ++k) {
        const std::int64_t value = measure(tallies[k]);
        if (chosen == 0 || value > best) {
            chosen = static_cast<std::int32_t>(k + 1);
            best = value;
        }
    }
    return chosen;
}

}  // namespace torvek
