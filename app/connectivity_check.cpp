#include "app/connectivity_check.h"

#include <new>

#include "network/connectivity_test.h"
#include "report/connectivity_section.h"

namespace torvek {
namespace {

// The site name that a vector label begins with.
std::string labelSiteName(const char* label) {
    return SiteName(label).toString();
}

// Every group's sites and vectors in table order, group k at entry k - 1.
std::vector<ListedSubnetwork> subnetworksOf(const NetworkGrouping& grouping) {
    std::vector<ListedSubnetwork> subnetworks(static_cast<std::size_t>(grouping.groupCount));
    auto subnetworkOf = [&](std::int32_t group) -> ListedSubnetwork* {
        if (group < 1 || group > grouping.groupCount)
            return nullptr;
        return &subnetworks[static_cast<std::size_t>(group - 1)];
    };
    for (const GroupSite& site : grouping.tables.sites)
        if (ListedSubnetwork* subnetwork = subnetworkOf(site.group))
            subnetwork->siteNames.push_back(site.name.toString());
    for (const GroupVector& vector : grouping.tables.vectors)
        if (ListedSubnetwork* subnetwork = subnetworkOf(vector.group))
            subnetwork->vectors.push_back(
                {labelSiteName(vector.label.from.data()), labelSiteName(vector.label.to.data())});
    return subnetworks;
}

// The sites in use that carry any fix, in table order.
std::vector<ListedControlSite> controlSitesOf(const GroupTables& tables) {
    std::vector<ListedControlSite> sites;
    for (const GroupSite& site : tables.sites) {
        if (site.inUse && site.anyFix())
            sites.push_back({site.name.toString(), site.latitudeFixed != 0,
                             site.longitudeFixed != 0, site.elevationFixed != 0});
    }
    return sites;
}

}  // namespace

ConnectivityResult checkConnectivity(ProjectDataSet& input, AdjustedDataSet& output,
                                     ReportWriter& report, ProgressWindow& progress,
                                     bool reportGroups) {
    ConnectivityResult result;
    NetworkGrouping grouping;
    // The tables fail only when storage runs out; main reports that as it does for every other
    // allocation of the run.
    if (!readNetwork(input, grouping))
        throw std::bad_alloc();
    if (progress.pollAbort(stage::kGroupsBuilt))
        return result;
    if (!groupNetwork(grouping))
        throw std::bad_alloc();
    if (!grouping.hasRedundancy()) {
        printLackOfRedundancy(report);
        return result;
    }

    printConnectivityVerdict(report, grouping.groupCount == 1);
    if (grouping.groupCount > 1) {
        if (reportGroups)
            printDecomposition(report, subnetworksOf(grouping), grouping.chosen);
        if (!confirmSubnetworkAdjustment(progress)) {
            result.accepted = false;
            return result;
        }
    } else {
        const GroupTally& tally = grouping.chosenTally();
        printNetworkSize(report, tally.sites, tally.vectors);
    }

    const AdjustmentTypeDecision type = settleChosenGroup(grouping, input);
    result.typeDecided = true;
    result.minimallyConstrained = type.minimallyConstrained;
    result.overConstrained = type.overConstrained;
    result.confidenceLevel = type.confidenceLevel;
    result.vectorSigmaScale = type.vectorSigmaScale;

    printControlSites(report, type.minimallyConstrained, controlSitesOf(grouping.tables));
    writeGroupFlags(grouping.tables, input);
    writeGroupFlags(grouping.tables, output);

    if (reportGroups)
        printGroupReportEnd(report);
    if (progress.pollAbort(stage::kConnectivityDone))
        return result;
    result.proceed = true;
    return result;
}

}  // namespace torvek
