#pragma once
// Pieces of the adjustment tests that both models use.
#include <vector>

#include "engine/adjustment_settings.h"
#include "engine/scratch_records.h"
#include "report/adjustment_tests_section.h"
#include "stats/adjustment_tests.h"

namespace torvek {

/// v = sum of coefficient x correction over the unknowns 1..unknownCount, plus the misclosure
/// (metres for site equations): the residual, adjusted minus observed.
double residualOf(const EquationRecord& equation, const std::vector<double>& x, int unknownCount);
/// The component (0 latitude, 1 longitude, 2 height) of a constraint label; 3 for another.
int componentOfLabel(const char* label);
/// The report section of the chi-square and tau tests.
AdjustmentTestsSection testsSection(const AdjustmentTestResult& result,
                                    const AdjustmentSettings& settings);

}  // namespace torvek
