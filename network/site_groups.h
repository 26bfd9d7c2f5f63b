#pragma once
#include <cstdint>
#include <vector>

#include "network/group_tables.h"

namespace torvek {

/// Control and size of one group of connected sites.
struct GroupTally {
    std::int32_t latitudeFixes = 0;
    std::int32_t longitudeFixes = 0;
    std::int32_t elevationFixes = 0;
    std::int32_t sites = 0;
    std::int32_t vectors = 0;

    std::int64_t fixProduct() const {
        return std::int64_t{latitudeFixes} * longitudeFixes * elevationFixes;
    }
    std::int64_t fixSum() const {
        return std::int64_t{latitudeFixes} + longitudeFixes + elevationFixes;
    }
};

/// Puts every site and vector in use that vectors join into numbered groups and returns their
/// number G. Groups are numbered 1..G without gaps in the order in which their earliest vector
/// in use comes in the table, so group 1 is the part of the network that holds the first vector
/// in use. Sites that no vector in use touches, and vectors out of use, get group 0. The vectors'
/// end indices must have been matched (matchVectorEnds). Throws std::bad_alloc when storage runs
/// out.
std::int32_t groupSites(GroupTables& tables);

/// Counts the fixes, sites and vectors of each group; entry k - 1 belongs to group k
/// (1..groupCount).
std::vector<GroupTally> tallyGroups(const GroupTables& tables, std::int32_t groupCount);

/// The best-controlled group, 1..G, or 0 when there is none: the largest product of latitude,
/// longitude and elevation fix counts when any product is above 0; otherwise the largest sum of
/// the three when any sum is above 0; otherwise the most sites. A later group must be strictly
/// better, so ties go to the lowest group number.
std::int32_t chooseGroup(const std::vector<GroupTally>& tallies);

}  // namespace torvek
