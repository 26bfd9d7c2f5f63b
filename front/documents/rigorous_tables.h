#pragma once
// The tables of the rigorous model's statistics, shared by the RTF and HTML documents: the
// model's statistics, the sites' oriented ellipses, the adjusted vectors, the observation tests,
// the relative precisions and the rounds of data snooping. Each states its conventions in its
// introduction.

#include <vector>

#include "front/documents/results_document.h"
#include "front/results/rigorous_statistics.h"

namespace torvek::front {

// Hands the rigorous statistics of a run to its view: the documents then show their tables, and
// the plot draws each site's oriented ellipse (matched by full name) in place of the classic one.
void attachRigorousStatistics(RigorousStatistics statistics, ResultsView& view);

// The tables of `statistics`, in the order the documents show them; the snooping table only when
// a vector was taken out. A document of a large network (`scope` not whole) leaves out the tables
// of every site and vector and shows the largest tests and the pairs that fail their tolerance
// first (DocumentScope::rowsShown).
std::vector<ResultTable> rigorousTables(const RigorousStatistics& statistics,
                                        const DocumentScope& scope = {});

// The positions in statistics.vectors and component numbers (0 to 2) of every tested component,
// largest |studentized residual| first (ties in the file's order); components without a
// test (vectors not in use) are left out.
std::vector<std::pair<std::size_t, int>> componentsByStudentized(
    const RigorousStatistics& statistics);

}  // namespace torvek::front
