#pragma once

#include <string>
#include <vector>

#include "dataset/adjusted_data_set.h"
#include "front/project/site_name_mapping.h"

namespace torvek::front {

// What the checks before a run found. None of it stops the run: a warning says what looks wrong
// and what the program will make of it, a note what the program will do on its own.
struct NetworkFindings {
    std::vector<std::string> warnings;
    std::vector<std::string> notes;
};

// Checks a data set before it is run, naming sites ("sites[3] (\"KAPF\")") and vectors
// ("vectors[7] (\"TANN\" to \"SPIT\")") by their places in the project and their full `names`:
//  - vectors whose components disagree with the approximate coordinates of their ends by more
//    than 10 m plus 100 ppm of their length, with the likely slip when one explains it (ends
//    swapped or all signs reversed, one sign wrong, millimetres or kilometres for metres);
//  - constraint sigmas the run will not use, and why (the site is not in use or not joined to the
//    network that is adjusted, the run is minimally constrained, the coordinate is held fixed),
//    with what to change;
//  - the fixes the program adds when the fixed control does not hold the network, naming the
//    site it holds, and the fixes a minimally constrained run drops;
//  - sites without a geoid height when others have one (the program then stops);
//  - vector sigmas of 0.5 m or more, which look like millimetres entered as metres.
// The program's rules are followed as it applies them: vector ends are matched to sites in use
// by their four-character codes, the network is the group of sites joined by vectors in use that
// holds the most fixed coordinates (the most sites when none holds any), a fix in latitude or
// longitude holds both, the first site (the first fixed one, when there is one) takes the
// missing fixes, and a run with three fixed coordinates or fewer is minimally constrained.
NetworkFindings checkNetwork(const AdjustedDataSet& dataSet, const SiteNameTable& names);

// Prints the findings of the checks before a run of `dataSet` ("warning: ...", "note: ...").
void printNetworkFindings(const AdjustedDataSet& dataSet, const SiteNameTable& names);

}  // namespace torvek::front
