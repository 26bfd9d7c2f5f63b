#pragma once
#include <string>
#include <vector>

#include "report/progress_window.h"
#include "report/report_writer.h"

namespace torvek {

/// A vector as the decomposition lists it: the site names its two labels begin with (at most four
/// characters each).
struct ListedVector {
    std::string from;
    std::string to;
};

/// One group of connected sites as the decomposition lists it, members in data set order.
struct ListedSubnetwork {
    std::vector<std::string> siteNames;  // at most four characters each
    std::vector<ListedVector> vectors;
};

/// A site of the control listing: its name (at most four characters) and its fixes.
struct ListedControlSite {
    std::string name;
    bool latitudeFixed = false;
    bool longitudeFixed = false;
    bool elevationFixed = false;
};

// The connectivity test's part of the report, section by section in the order of a run.

/// The network offers no redundancy (no group, or the chosen one has a single site).
void printLackOfRedundancy(ReportWriter& report);

/// The verdict: passed for one connected network, failed for several groups.
void printConnectivityVerdict(ReportWriter& report, bool connected);

/// Every group with its sites, vectors and counts; `subnetworks[k - 1]` is group k, and
/// `chosenGroup` (1..subnetworks.size()) the one to be adjusted.
void printDecomposition(ReportWriter& report, const std::vector<ListedSubnetwork>& subnetworks,
                        int chosenGroup);

/// The size of a connected network, then an empty line.
void printNetworkSize(ReportWriter& report, int siteCount, int vectorCount);

/// The adjustment type and the sites that carry any fix, then an empty line.
void printControlSites(ReportWriter& report, bool minimallyConstrained,
                       const std::vector<ListedControlSite>& controlSites);

/// The empty line that closes a report with the groups in it.
void printGroupReportEnd(ReportWriter& report);

/// The line that ends a run whose user declined to adjust one part of a disconnected network.
void printConnectivityRefusal(ReportWriter& report);

/// Asks the user, with the progress window's warning box, whether only the chosen part of a
/// disconnected network is to be adjusted. True when the answer is OK.
bool confirmSubnetworkAdjustment(ProgressWindow& progress);

}  // namespace torvek
