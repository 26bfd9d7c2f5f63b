#include "network/connectivity_test.h"

#include <new>

#include "network/datum_completion.h"

namespace torvek {
namespace {

// A minimally constrained adjustment has no more fixes than a datum needs: one latitude, one
// longitude and one elevation.
constexpr std::int64_t kDatumFixCount = 3;

}  // namespace

bool NetworkGrouping::hasRedundancy() const {
    return chosen != 0 && chosenTally().sites >= 2;
}

bool readNetwork(ProjectDataSet& input, NetworkGrouping& grouping) {
    try {
        readGroupTables(input, grouping.tables);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool groupNetwork(NetworkGrouping& grouping) {
    try {
        grouping.groupCount = groupSites(grouping.tables);
        grouping.tallies = tallyGroups(grouping.tables, grouping.groupCount);
    } catch (const std::bad_alloc&) {
        return false;
    }
    grouping.chosen = chooseGroup(grouping.tallies);
    return true;
}

AdjustmentTypeDecision settleChosenGroup(NetworkGrouping& grouping, ProjectDataSet& input) {
    GroupTally& tally = grouping.tallies[static_cast<std::size_t>(grouping.chosen - 1)];
    restrictToGroup(grouping.tables, grouping.chosen, tally);
    completeDatum(grouping.tables, grouping.chosen, tally);

    AdjustmentTypeDecision decision;
    DataSetSettings settings = input.adjustmentSettings();
    decision.confidenceLevel = settings.confidenceLevel;
    decision.vectorSigmaScale = settings.vectorSigmaScale;
    decision.minimallyConstrained =
        settings.minimallyConstrained != 0 || tally.fixSum() <= kDatumFixCount;
    decision.overConstrained = !decision.minimallyConstrained;
    settings.minimallyConstrained = decision.minimallyConstrained ? 1 : 0;
    input.setAdjustmentSettings(settings);
    return decision;
}

}  // namespace torvek
