#pragma once
#include <cstdint>

#include "network/group_tables.h"
#include "network/site_groups.h"

namespace torvek {

/// Keeps only group `chosen` (1..G) in use: its sites and vectors are in use, everything else is
/// out of use and the sites outside it lose every fix. A horizontal fix always covers both
/// coordinates, so a site of the group fixed in only one of latitude and longitude gains the
/// other; `tally` (the chosen group's) counts the fixes gained.
void restrictToGroup(GroupTables& tables, std::int32_t chosen, GroupTally& tally);

/// Gives group `chosen` a datum when its fixes lack one: with no elevation fix the anchor site's
/// elevation is fixed, with no horizontal fix its latitude and longitude. The anchor is the first
/// site of the group with any fix, or its first site when none has one. Counts the added fixes in
/// `tally`. Returns the anchor's table position, -1 when the group has no site.
std::int32_t completeDatum(GroupTables& tables, std::int32_t chosen, GroupTally& tally);

}  // namespace torvek
