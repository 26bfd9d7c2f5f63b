#pragma once
#include <cstdint>
#include <vector>

#include "dataset/project_data_set.h"
#include "dataset/site_name.h"
#include "dataset/vector_label.h"

namespace torvek {

/// A site as the connectivity test sees it. Flags are normalised to 0/1, so a fix counts once
/// whatever non-zero byte the data set holds.
struct GroupSite {
    SiteName name;
    std::uint8_t latitudeFixed = 0;
    std::uint8_t longitudeFixed = 0;
    std::uint8_t elevationFixed = 0;
    /// 0 = in no group; 1..G otherwise.
    std::int32_t group = 0;
    std::uint8_t inUse = 0;

    bool anyFix() const { return latitudeFixed || longitudeFixed || elevationFixed; }
};

/// A vector as the connectivity test sees it: its label pair and the table positions of its ends.
struct GroupVector {
    VectorLabel label;
    /// Positions of the end sites in the site table; -1 = not found.
    std::int32_t fromIndex = -1;
    std::int32_t toIndex = -1;
    /// 0 = in no group; 1..G otherwise.
    std::int32_t group = 0;
    std::uint8_t inUse = 0;
};

/// The work tables of one connectivity test, one entry per site and per vector in data set order.
struct GroupTables {
    std::vector<GroupSite> sites;
    std::vector<GroupVector> vectors;
};

/// Fills `tables` from every site and vector of `dataSet`, in use or not, and matches the ends
/// of the vectors in use (matchVectorEnds). The tables are sized by the lists actually held, never
/// by the counts read from the file. Throws std::bad_alloc when storage runs out.
void readGroupTables(ProjectDataSet& dataSet, GroupTables& tables);

/// Finds the end sites of every vector in use: the first four characters of each label are
/// compared with the names of the sites in use, case-sensitively, scanning the site table in
/// order until both ends are found. A vector with an end not found is taken out of use (in the
/// table only); a vector from a site to itself gets that site at both ends.
void matchVectorEnds(GroupTables& tables);

/// Writes the table's fixed and in-use flags into `dataSet`: each site is found by name
/// (seekSite), each vector by its label pair (seekVector); entries that cannot be found again
/// are skipped.
void writeGroupFlags(const GroupTables& tables, ProjectDataSet& dataSet);

}  // namespace torvek
