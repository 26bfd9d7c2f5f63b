#include "report/connectivity_section.h"

namespace torvek {
namespace {

// The warning box shown when the network falls apart into several groups.
constexpr const char* kWarningText =
    "The network connectivity test fails.\nOnly one of the subnetworks will be adjusted.\n"
    "Do you want to continue with the adjustment?";
constexpr const char* kWarningCaption = "The network connectivity test";

void bodyStyle(ReportWriter& report) {
    report.setStyle(style::kBody);
}

void printCounts(ReportWriter& report, int siteCount, int vectorCount) {
    report.print("Number of sites: %d\n", siteCount);
    report.print("Number of vectors: %d\n", vectorCount);
}

void printSubnetwork(ReportWriter& report, const ListedSubnetwork& subnetwork) {
    report.setStyle(style::kSubheading);
    report.print("Sites: ");
    bodyStyle(report);
    for (const std::string& name : subnetwork.siteNames)
        report.print("%4.4s ", name.c_str());
    bodyStyle(report);
    report.print("\n");
    report.setStyle(style::kSubheading);
    report.print("Vectors: ");
    bodyStyle(report);
    for (const ListedVector& vector : subnetwork.vectors)
        report.print("%4.4s-%4.4s ", vector.from.c_str(), vector.to.c_str());
    bodyStyle(report);
    report.print("\n");
    printCounts(report, static_cast<int>(subnetwork.siteNames.size()),
                static_cast<int>(subnetwork.vectors.size()));
}

}  // namespace

void printLackOfRedundancy(ReportWriter& report) {
    report.setStyle(style::kErrorHeading);
    report.print("\nNo adjustment could be performed due to lack of redundancy.\n");
    bodyStyle(report);
    report.print("\n");
}

void printConnectivityVerdict(ReportWriter& report, bool connected) {
    report.setStyle(style::kHeading);
    report.print("\nNetwork connectivity test: ");
    if (connected) {
        report.setStyle(style::kPassed);
        report.print("passed\n");
    } else {
        report.setStyle(style::kFailed);
        report.print("failed\n");
    }
    bodyStyle(report);
}

void printDecomposition(ReportWriter& report, const std::vector<ListedSubnetwork>& subnetworks,
                        int chosenGroup) {
    bodyStyle(report);
    report.print("Decomposition\n");
    for (std::size_t k = 0; k < subnetworks.size(); ++k) {
        bodyStyle(report);
        report.print("Group #%d\n", static_cast<int>(k + 1));
        printSubnetwork(report, subnetworks[k]);
    }
    bodyStyle(report);
    report.print("Group #%d has been selected\n", chosenGroup);
}

void printNetworkSize(ReportWriter& report, int siteCount, int vectorCount) {
    bodyStyle(report);
    printCounts(report, siteCount, vectorCount);
    bodyStyle(report);
    report.print("\n");
}

void printControlSites(ReportWriter& report, bool minimallyConstrained,
                       const std::vector<ListedControlSite>& controlSites) {
    report.setStyle(style::kHeading);
    report.print(minimallyConstrained ? "\nAdjustment type:    Minimally constrained\n"
                                      : "\nAdjustment type:    Over constrained\n");
    bodyStyle(report);
    report.print("Control sites    Constraints \n");
    for (const ListedControlSite& site : controlSites) {
        // Each word takes nine columns so that the constraint columns line up.
        bodyStyle(report);
        report.print("%4.4s                %s %s %s \n", site.name.c_str(),
                     site.latitudeFixed ? "Latitude " : "         ",
                     site.longitudeFixed ? "Longitude" : "         ",
                     site.elevationFixed ? "Elevation" : "         ");
    }
    bodyStyle(report);
    report.print("\n");
}

void printGroupReportEnd(ReportWriter& report) {
    bodyStyle(report);
    report.print("\n");
}

void printConnectivityRefusal(ReportWriter& report) {
    report.setStyle(style::kHeading);
    report.print("\nAdjustment aborted due to Network connectivity test failure.\n");
    bodyStyle(report);
}

bool confirmSubnetworkAdjustment(ProgressWindow& progress) {
    return progress.confirm(kWarningText, kWarningCaption);
}

}  // namespace torvek
