// The ends of vectors are found from an index of site names; the result must be what a scan of
// the site table in order gives, with duplicate names, names differing in case or in length,
// sites out of use and vectors from a site to itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "network/group_tables.h"

namespace torvek {
namespace {

// The scan the index stands for: sites in table order, the start checked before the end at each
// site, stopping once both are known.
void scanVectorEnds(GroupTables& tables) {
    for (GroupVector& vector : tables.vectors) {
        if (!vector.inUse)
            continue;
        vector.fromIndex = vector.toIndex = -1;
        for (std::int32_t m = 0; m < std::int32_t(tables.sites.size()); ++m) {
            const GroupSite& site = tables.sites[m];
            if (!site.inUse)
                continue;
            if (compareSiteNames(vector.label.from.data(), site.name.data(), false) == 0) {
                vector.fromIndex = m;
                if (vector.toIndex >= 0)
                    break;
            }
            if (compareSiteNames(vector.label.to.data(), site.name.data(), false) == 0) {
                vector.toIndex = m;
                if (vector.fromIndex >= 0)
                    break;
            }
        }
        if (vector.fromIndex < 0 || vector.toIndex < 0)
            vector.inUse = 0;
    }
}

TEST(VectorEndMatching, IndexFindsWhatTheOrderedScanFinds) {
    // A small alphabet of names so that duplicates, case variants and short names are common.
    const char* const kNames[] = {"AAAA", "aaaa", "AAA", "BBBB", "BB", "CCCC", "AB", "A"};
    std::mt19937 random(17);
    for (int network = 0; network < 500; ++network) {
        GroupTables tables;
        const int sites = 1 + int(random() % 12);
        const int vectors = int(random() % 15);
        for (int k = 0; k < sites; ++k) {
            GroupSite site;
            site.name = SiteName(kNames[random() % 8]);
            site.inUse = random() % 5 != 0;
            tables.sites.push_back(site);
        }
        for (int k = 0; k < vectors; ++k) {
            GroupVector vector;
            VectorRecord record;
            record.fromSite = SiteName(kNames[random() % 8]);
            record.toSite = SiteName(kNames[random() % 8]);
            record.recordNumber = k + 1;
            formatVectorLabel(record, vector.label.from.data(), vector.label.to.data());
            // Labels print names right-aligned; some are written by hand left-aligned, as a name
            // of four characters would print.
            if (random() % 2) {
                std::snprintf(vector.label.from.data(), kVectorLabelSize, "%-4.4s",
                              kNames[random() % 8]);
                std::snprintf(vector.label.to.data(), kVectorLabelSize, "%-4.4s     %05d",
                              kNames[random() % 8], k + 1);
            }
            vector.inUse = random() % 6 != 0;
            tables.vectors.push_back(vector);
        }
        GroupTables expected = tables;
        scanVectorEnds(expected);
        matchVectorEnds(tables);
        for (std::size_t v = 0; v < tables.vectors.size(); ++v) {
            EXPECT_EQ(tables.vectors[v].inUse, expected.vectors[v].inUse) << network << "/" << v;
            if (!expected.vectors[v].inUse)
                continue;
            EXPECT_EQ(tables.vectors[v].fromIndex, expected.vectors[v].fromIndex)
                << network << "/" << v;
            EXPECT_EQ(tables.vectors[v].toIndex, expected.vectors[v].toIndex)
                << network << "/" << v;
        }
    }
}

TEST(VectorEndMatching, NumberedNamesOfALargeNetworkAsTheScanFindsThem) {
    // Names of one series (P001 ... P600) share their first bytes and fill a table of a thousand
    // slots with long runs, which wrap around its end: every end must still be the scan's, with
    // some names twice and some sites out of use.
    std::mt19937 random(5);
    GroupTables tables;
    for (int k = 0; k < 700; ++k) {
        GroupSite site;
        char name[8];
        std::snprintf(name, sizeof name, "P%03d", k < 600 ? k + 1 : 1 + int(random() % 600));
        site.name = SiteName(name);
        site.inUse = random() % 10 != 0;
        tables.sites.push_back(site);
    }
    for (int k = 0; k < 3000; ++k) {
        VectorRecord record;
        record.fromSite = tables.sites[random() % 700].name;
        record.toSite = SiteName(k % 50 == 0 ? "Q999" : tables.sites[random() % 700].name.data());
        record.recordNumber = k + 1;
        GroupVector vector;
        formatVectorLabel(record, vector.label.from.data(), vector.label.to.data());
        vector.inUse = 1;
        tables.vectors.push_back(vector);
    }
    GroupTables expected = tables;
    scanVectorEnds(expected);
    matchVectorEnds(tables);
    int matched = 0;
    for (std::size_t v = 0; v < tables.vectors.size(); ++v) {
        matched += expected.vectors[v].inUse;
        ASSERT_EQ(tables.vectors[v].inUse, expected.vectors[v].inUse) << v;
        if (expected.vectors[v].inUse) {
            EXPECT_EQ(tables.vectors[v].fromIndex, expected.vectors[v].fromIndex) << v;
            EXPECT_EQ(tables.vectors[v].toIndex, expected.vectors[v].toIndex) << v;
        }
    }
    EXPECT_GT(matched, 2000);  // most vectors found both ends: the case is not vacuous
}

}  // namespace
}  // namespace torvek
