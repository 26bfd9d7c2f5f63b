// Grouping, tallies, choice of group and completion of the datum on plain work tables.
#include "network/site_groups.h"

#include <gtest/gtest.h>

#include <random>

#include "network/datum_completion.h"
#include "network/group_tables.h"

namespace torvek {
namespace {

GroupSite site(const char* name, std::uint8_t inUse = 1) {
    GroupSite s;
    s.name = SiteName(name);
    s.inUse = inUse;
    return s;
}

GroupVector vector(int from, int to, std::uint8_t inUse = 1) {
    GroupVector v;
    v.fromIndex = from;
    v.toIndex = to;
    v.inUse = inUse;
    return v;
}

GroupVector labelled(const char* from, const char* to, int number) {
    VectorRecord record;
    record.fromSite = SiteName(from);
    record.toSite = SiteName(to);
    record.recordNumber = number;
    GroupVector v;
    formatVectorLabel(record, v.label.from.data(), v.label.to.data());
    v.inUse = 1;
    return v;
}

// The grouping done the plain way: every merge renumbers all entries, keeping the numbers dense.
// It serves as the reference for groupSites.
std::int32_t groupByRenumbering(GroupTables& t) {
    std::int32_t next = 1;
    for (GroupVector& v : t.vectors) {
        if (!v.inUse)
            continue;
        const std::int32_t g = t.sites[v.fromIndex].group;
        const std::int32_t h = t.sites[v.toIndex].group;
        if (g == 0 && h == 0) {
            t.sites[v.fromIndex].group = t.sites[v.toIndex].group = v.group = next++;
        } else if (h == 0) {
            t.sites[v.toIndex].group = v.group = g;
        } else if (g == 0) {
            t.sites[v.fromIndex].group = v.group = h;
        } else if (g == h) {
            v.group = g;
        } else {
            const std::int32_t keep = std::min(g, h), drop = std::max(g, h);
            v.group = keep;
            for (GroupSite& s : t.sites)
                s.group = s.group == drop ? keep : s.group - (s.group > drop);
            for (GroupVector& w : t.vectors)
                w.group = w.group == drop ? keep : w.group - (w.group > drop);
            --next;
        }
    }
    return next - 1;
}

TEST(SiteGroups, NumberingEqualsMergingWithDenseRenumberingOnRandomNetworks) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 400; ++round) {
        const int siteCount = 1 + int(random() % 30);
        const int vectorCount = int(random() % 40);
        GroupTables tables;
        for (int i = 0; i < siteCount; ++i)
            tables.sites.push_back(site("S", random() % 8 != 0));
        for (int j = 0; j < vectorCount; ++j) {
            const int from = int(random() % siteCount), to = int(random() % siteCount);
            const bool usable =
                random() % 6 != 0 && tables.sites[from].inUse && tables.sites[to].inUse;
            // Vectors out of use keep the -1 ends that matching leaves them.
            tables.vectors.push_back(usable ? vector(from, to) : vector(-1, -1, 0));
        }
        GroupTables reference = tables;
        const std::int32_t expectedCount = groupByRenumbering(reference);
        ASSERT_EQ(groupSites(tables), expectedCount) << "round " << round;
        for (int i = 0; i < siteCount; ++i)
            ASSERT_EQ(tables.sites[i].group, reference.sites[i].group) << round << " site " << i;
        for (int j = 0; j < vectorCount; ++j)
            ASSERT_EQ(tables.vectors[j].group, reference.vectors[j].group) << round << " vec " << j;
    }
}

TEST(SiteGroups, GroupsFollowTheirEarliestVectorAndMergesCloseTheGaps) {
    GroupTables t;
    for (const char* name : {"A", "B", "C", "D", "E", "F"})
        t.sites.push_back(site(name));
    // Groups {A,B}, {C,D}, {E,F} are opened, then B-E joins the first and the third.
    t.vectors = {vector(0, 1), vector(2, 3), vector(4, 5), vector(1, 4), vector(3, 3)};
    EXPECT_EQ(groupSites(t), 2);
    const std::int32_t siteGroups[] = {1, 1, 2, 2, 1, 1};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(t.sites[i].group, siteGroups[i]) << i;
    const std::int32_t vectorGroups[] = {1, 2, 1, 1, 2};
    for (int j = 0; j < 5; ++j)
        EXPECT_EQ(t.vectors[j].group, vectorGroups[j]) << j;

    std::vector<GroupTally> tallies = tallyGroups(t, 2);
    ASSERT_EQ(tallies.size(), 2u);
    EXPECT_EQ(tallies[0].sites, 4);
    EXPECT_EQ(tallies[0].vectors, 3);
    EXPECT_EQ(tallies[1].sites, 2);
    EXPECT_EQ(tallies[1].vectors, 2);  // the vector from D to itself counts
}

TEST(SiteGroups, SitesWithoutVectorsAndVectorsOutOfUseStayInNoGroup) {
    GroupTables t;
    t.sites = {site("A"), site("B"), site("C")};
    t.vectors = {vector(-1, -1, 0), vector(0, 1)};
    EXPECT_EQ(groupSites(t), 1);
    EXPECT_EQ(t.sites[2].group, 0);
    EXPECT_EQ(t.vectors[0].group, 0);
    EXPECT_EQ(t.vectors[1].group, 1);
    GroupTables empty;
    EXPECT_EQ(groupSites(empty), 0);
    EXPECT_TRUE(tallyGroups(empty, 0).empty());
}

GroupTally tally(int latitude, int longitude, int elevation, int sites) {
    GroupTally t;
    t.latitudeFixes = latitude;
    t.longitudeFixes = longitude;
    t.elevationFixes = elevation;
    t.sites = sites;
    return t;
}

TEST(ChooseGroup, ProductThenSumThenSitesWithTiesToTheLowestGroup) {
    EXPECT_EQ(chooseGroup({}), 0);
    // Product: 2*2*1 = 4 beats 1*1*3 = 3 although the latter has the larger sum.
    EXPECT_EQ(chooseGroup({tally(1, 1, 3, 9), tally(2, 2, 1, 2)}), 2);
    EXPECT_EQ(chooseGroup({tally(1, 1, 1, 2), tally(1, 1, 1, 9)}), 1);  // tie
    // No product above 0: the sum decides, over more sites.
    EXPECT_EQ(chooseGroup({tally(0, 0, 0, 50), tally(0, 0, 1, 2), tally(2, 2, 0, 3)}), 3);
    EXPECT_EQ(chooseGroup({tally(0, 0, 2, 5), tally(1, 1, 0, 3)}), 1);  // tie
    // No fix anywhere: the most sites, ties to the first.
    EXPECT_EQ(chooseGroup({tally(0, 0, 0, 2), tally(0, 0, 0, 3), tally(0, 0, 0, 3)}), 2);
    EXPECT_EQ(chooseGroup({tally(0, 0, 0, 1)}), 1);
    // Counts whose product leaves 32 bits still compare correctly.
    EXPECT_EQ(chooseGroup({tally(2000, 2000, 2000, 2000), tally(1, 1, 1, 1)}), 1);
}

TEST(MatchVectorEnds, NamesMatchCaseSensitivelyAmongSitesInUse) {
    GroupTables t;
    t.sites = {site("ABCD", 0), site("ABCD"), site("EFGH"), site("ab")};
    t.vectors = {labelled("ABCD", "EFGH", 1), labelled("EFGH", "EFGH", 2),
                 labelled("abcd", "EFGH", 3), labelled("ab", "ABCD", 4)};
    t.vectors.push_back(labelled("ABCD", "EFGH", 5));
    t.vectors.back().inUse = 0;
    matchVectorEnds(t);
    // The first ABCD is not in use: the second one is the end.
    EXPECT_EQ(t.vectors[0].fromIndex, 1);
    EXPECT_EQ(t.vectors[0].toIndex, 2);
    EXPECT_TRUE(t.vectors[0].inUse);
    // A vector from a site to itself has that site at both ends.
    EXPECT_EQ(t.vectors[1].fromIndex, 2);
    EXPECT_EQ(t.vectors[1].toIndex, 2);
    EXPECT_TRUE(t.vectors[1].inUse);
    // Other case, and a short name (its label is right-aligned): not found, out of use.
    EXPECT_EQ(t.vectors[2].fromIndex, -1);
    EXPECT_FALSE(t.vectors[2].inUse);
    EXPECT_FALSE(t.vectors[3].inUse);
    // Vectors out of use are not matched at all.
    EXPECT_EQ(t.vectors[4].fromIndex, -1);
}

TEST(DatumCompletion, RestrictionClearsOtherGroupsAndPairsHorizontalFixes) {
    GroupTables t;
    t.sites = {site("A"), site("B"), site("C"), site("D")};
    t.sites[0].group = 1;
    t.sites[0].longitudeFixed = 1;
    t.sites[1].group = 2;
    t.sites[1].latitudeFixed = t.sites[1].elevationFixed = 1;
    t.sites[2].group = 1;
    t.sites[2].latitudeFixed = 1;
    t.sites[3].group = 0;
    t.sites[3].elevationFixed = 1;
    t.vectors = {vector(0, 2), vector(1, 1)};
    t.vectors[0].group = 1;
    t.vectors[1].group = 2;
    GroupTally c = tally(1, 1, 0, 2);
    restrictToGroup(t, 1, c);
    EXPECT_EQ(c.latitudeFixes, 2);
    EXPECT_EQ(c.longitudeFixes, 2);
    EXPECT_TRUE(t.sites[0].latitudeFixed && t.sites[0].longitudeFixed && t.sites[0].inUse);
    EXPECT_TRUE(t.sites[2].latitudeFixed && t.sites[2].longitudeFixed && t.sites[2].inUse);
    for (int i : {1, 3}) {
        EXPECT_FALSE(t.sites[i].inUse || t.sites[i].anyFix()) << i;
    }
    EXPECT_TRUE(t.vectors[0].inUse);
    EXPECT_FALSE(t.vectors[1].inUse);

    // Elevation is missing: the first site with any fix, A, takes it.
    EXPECT_EQ(completeDatum(t, 1, c), 0);
    EXPECT_TRUE(t.sites[0].elevationFixed);
    EXPECT_EQ(c.elevationFixes, 1);
    EXPECT_EQ(c.fixSum(), 5);
}

TEST(DatumCompletion, AnchorIsTheFirstFixedSiteOrElseTheFirstSite) {
    GroupTables t;
    t.sites = {site("A"), site("B"), site("C")};
    for (GroupSite& s : t.sites)
        s.group = 1;
    t.sites[0].group = 2;
    GroupTally free = tally(0, 0, 0, 2);
    EXPECT_EQ(completeDatum(t, 1, free), 1);
    EXPECT_TRUE(t.sites[1].latitudeFixed && t.sites[1].longitudeFixed && t.sites[1].elevationFixed);
    EXPECT_EQ(free.fixSum(), 3);

    GroupTables u;
    u.sites = {site("A"), site("B"), site("C")};
    for (GroupSite& s : u.sites)
        s.group = 1;
    u.sites[2].elevationFixed = 1;
    GroupTally heightOnly = tally(0, 0, 1, 3);
    EXPECT_EQ(completeDatum(u, 1, heightOnly), 2);
    EXPECT_TRUE(u.sites[2].latitudeFixed && u.sites[2].longitudeFixed);
    EXPECT_FALSE(u.sites[0].anyFix());
    EXPECT_EQ(heightOnly.fixSum(), 3);

    GroupTally none = tally(0, 0, 0, 0);
    EXPECT_EQ(completeDatum(u, 7, none), -1);
}

}  // namespace
}  // namespace torvek
