#include "network/connectivity_test.h"

#include <cstdint>
#include <new>

#include "network/datum_completion.h"
#include "network/group_tables.h"
#include "network/site_groups.h"

namespace torvek {
namespace {

// The warning box shown when the network falls apart into several groups.
constexpr const char* kWarningText =
    "The network connectivity test fails.\nOnly one of the subnetworks will be adjusted.\n"
    "Do you want to continue with the adjustment?";
constexpr const char* kWarningCaption = "The network connectivity test";

// A minimally constrained adjustment has no more fixes than a datum needs: one latitude, one
// longitude and one elevation.
constexpr std::int64_t kDatumFixCount = 3;

void plainStyle(ReportWriter& report) {
    report.setStyle(9, 3, 0, 0);
}

void printLackOfRedundancy(ReportWriter& report) {
    report.setStyle(9, 1, 1, 0);
    report.print("\nNo adjustment could be performed due to lack of redundancy.\n");
    plainStyle(report);
    report.print("\n");
}

void printVerdict(ReportWriter& report, std::int32_t groupCount) {
    report.setStyle(9, 3, 1, 0);
    report.print("\nNetwork connectivity test: ");
    if (groupCount > 1) {
        report.setStyle(9, 8, 0, 1);
        report.print("failed\n");
    } else {
        report.setStyle(9, 5, 0, 1);
        report.print("passed\n");
    }
    plainStyle(report);
}

void printCounts(ReportWriter& report, const GroupTally& tally) {
    report.print("Number of sites: %d\n", static_cast<int>(tally.sites));
    report.print("Number of vectors: %d\n", static_cast<int>(tally.vectors));
}

void printDecomposition(ReportWriter& report, const GroupTables& tables,
                        const std::vector<GroupTally>& tallies, std::int32_t chosen) {
    plainStyle(report);
    report.print("Decomposition\n");
    for (std::size_t k = 1; k <= tallies.size(); ++k) {
        const std::int32_t group = static_cast<std::int32_t>(k);
        plainStyle(report);
        report.print("Group #%d\n", static_cast<int>(group));
        report.setStyle(9, 3, 2, 1);
        report.print("Sites: ");
        plainStyle(report);
        for (const GroupSite& site : tables.sites)
            if (site.group == group)
                report.print("%4.4s ", site.name.data());
        plainStyle(report);
        report.print("\n");
        report.setStyle(9, 3, 2, 1);
        report.print("Vectors: ");
        plainStyle(report);
        for (const GroupVector& vector : tables.vectors)
            if (vector.group == group)
                report.print("%4.4s-%4.4s ", vector.label.from.data(), vector.label.to.data());
        plainStyle(report);
        report.print("\n");
        printCounts(report, tallies[k - 1]);
    }
    plainStyle(report);
    report.print("Group #%d has been selected\n", static_cast<int>(chosen));
}

// Raises the data set's own setting when the fixes give no redundancy; never lowers it.
void decideAdjustmentType(ProjectDataSet& input, const GroupTally& tally,
                          ConnectivityResult& result) {
    DataSetSettings settings = input.adjustmentSettings();
    result.confidenceLevel = settings.confidenceLevel;
    result.vectorSigmaScale = settings.vectorSigmaScale;
    result.minimallyConstrained =
        settings.minimallyConstrained != 0 || tally.fixSum() <= kDatumFixCount;
    result.overConstrained = !result.minimallyConstrained;
    settings.minimallyConstrained = result.minimallyConstrained ? 1 : 0;
    input.setAdjustmentSettings(settings);
    result.typeDecided = true;
}

void printControlSites(ReportWriter& report, const GroupTables& tables, bool minimallyConstrained) {
    report.setStyle(9, 3, 1, 0);
    report.print(minimallyConstrained ? "\nAdjustment type:    Minimally constrained\n"
                                      : "\nAdjustment type:    Over constrained\n");
    plainStyle(report);
    report.print("Control sites    Constraints \n");
    for (const GroupSite& site : tables.sites) {
        if (!site.inUse || !site.anyFix())
            continue;
        // Each word takes nine columns so that the constraint columns line up.
        plainStyle(report);
        report.print("%4.4s                %s %s %s \n", site.name.data(),
                     site.latitudeFixed ? "Latitude " : "         ",
                     site.longitudeFixed ? "Longitude" : "         ",
                     site.elevationFixed ? "Elevation" : "         ");
    }
    plainStyle(report);
    report.print("\n");
}

}  // namespace

ConnectivityResult checkConnectivity(ProjectDataSet& input, AdjustedDataSet& output,
                                     ReportWriter& report, ProgressWindow& progress,
                                     bool reportGroups) {
    ConnectivityResult result;
    result.accepted = true;

    GroupTables tables;
    std::vector<GroupTally> tallies;
    std::int32_t groupCount = 0;
    try {
        readGroupTables(input, tables);
    } catch (const std::bad_alloc&) {
        return result;  // nothing printed: the run simply cannot go on
    }

    if (progress.pollAbort(stage::kGroupsBuilt))
        return result;

    try {
        groupCount = groupSites(tables);
        tallies = tallyGroups(tables, groupCount);
    } catch (const std::bad_alloc&) {
        return result;
    }
    const std::int32_t chosen = chooseGroup(tallies);
    if (chosen == 0 || tallies[static_cast<std::size_t>(chosen - 1)].sites < 2) {
        printLackOfRedundancy(report);
        return result;
    }
    GroupTally& tally = tallies[static_cast<std::size_t>(chosen - 1)];

    printVerdict(report, groupCount);
    if (groupCount > 1) {
        if (reportGroups)
            printDecomposition(report, tables, tallies, chosen);
        if (!progress.confirm(kWarningText, kWarningCaption)) {
            result.accepted = false;
            return result;
        }
    } else {
        plainStyle(report);
        printCounts(report, tally);
        plainStyle(report);
        report.print("\n");
    }

    restrictToGroup(tables, chosen, tally);
    completeDatum(tables, chosen, tally);
    decideAdjustmentType(input, tally, result);

    printControlSites(report, tables, result.minimallyConstrained);
    writeGroupFlags(tables, input);
    writeGroupFlags(tables, output);

    if (reportGroups) {
        plainStyle(report);
        report.print("\n");
    }
    if (progress.pollAbort(stage::kConnectivityDone))
        return result;
    result.proceed = true;
    return result;
}

}  // namespace torvek
