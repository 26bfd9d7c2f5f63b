#pragma once
#include <cstdint>
#include <vector>

#include "dataset/project_data_set.h"
#include "network/group_tables.h"
#include "network/site_groups.h"

namespace torvek {

/// The work of one connectivity test: every site and vector of the data set, the groups of sites
/// that vectors join, and the group chosen for the adjustment.
struct NetworkGrouping {
    GroupTables tables;
    /// Entry k - 1 belongs to group k.
    std::vector<GroupTally> tallies;
    std::int32_t groupCount = 0;
    /// The best-controlled group, 1..groupCount; 0 when there is none.
    std::int32_t chosen = 0;

    /// True when a group was chosen and it has at least two sites, so that an adjustment of it
    /// can have redundancy.
    bool hasRedundancy() const;
    /// The chosen group's tally; only when a group was chosen.
    const GroupTally& chosenTally() const { return tallies[static_cast<std::size_t>(chosen - 1)]; }
};

/// The adjustment type as the connectivity test decides it, with the settings read alongside it
/// from the data set.
struct AdjustmentTypeDecision {
    bool minimallyConstrained = false;
    bool overConstrained = false;
    double confidenceLevel = 95.0;  // percent
    double vectorSigmaScale = 1.0;
};

// The connectivity test, step by step. It makes sure the sites and vectors in use form one
// connected network with a datum; the caller reports between the steps, asks the user before
// adjusting one part of a disconnected network, and writes the flags (writeGroupFlags) into both
// data sets at the end.

/// Reads every site and vector of `input` into the tables and matches the vectors' ends. False,
/// with nothing done, when storage runs out.
bool readNetwork(ProjectDataSet& input, NetworkGrouping& grouping);

/// Groups the sites joined by vectors, tallies each group and chooses the best-controlled one.
/// False when storage runs out.
bool groupNetwork(NetworkGrouping& grouping);

/// Takes everything outside the chosen group out of use, completes the group's fixes to a datum
/// and decides the adjustment type: minimally constrained when the data set asks for it or when
/// the fixes give no redundancy (the data set's setting in `input` is raised then, never lowered).
/// Only when a group was chosen.
AdjustmentTypeDecision settleChosenGroup(NetworkGrouping& grouping, ProjectDataSet& input);

}  // namespace torvek
