// Data snooping in the rigorous model: the vector with the largest studentized residual above
// the critical value is taken out and the network adjusted again, round after round.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "app/adjustment_job.h"
#include "network/connectivity_test.h"
#include "report/rigorous_section.h"

namespace torvek {
namespace {

// Sites of the one group of the network in use; -1 when the vectors in use do not join every
// site in use into one group, or storage runs out.
int connectedSites(ProjectDataSet& input) {
    NetworkGrouping grouping;
    if (!readNetwork(input, grouping) || !groupNetwork(grouping) || grouping.groupCount != 1)
        return -1;
    return grouping.tallies[0].sites;
}

// The vectors of the last adjustment with a flagged component, largest studentized residual first
// (indices into the results and the rigorous model's vectors).
std::vector<std::size_t> flaggedVectors(const RigorousResults& g) {
    std::vector<std::size_t> flagged;
    for (std::size_t k = 0; k < g.vectors.size(); ++k) {
        const auto& c = g.vectors[k].components;
        // The tau test's own flags: without a critical value (fewer than two degrees of
        // freedom) nothing is flagged.
        if (c[0].outlier || c[1].outlier || c[2].outlier)
            flagged.push_back(k);
    }
    std::stable_sort(flagged.begin(), flagged.end(), [&](std::size_t a, std::size_t b) {
        return g.vectors[a].largestStudentized() > g.vectors[b].largestStudentized();
    });
    return flagged;
}

// The component of a vector with the largest |studentized| residual.
FlaggedComponent worstComponent(const RigorousVectorResult& v) {
    int worst = 0;
    for (int a = 1; a < 3; ++a)
        if (std::fabs(v.components[a].studentized) > std::fabs(v.components[worst].studentized))
            worst = a;
    return flaggedComponent(v, worst);
}

}  // namespace

bool AdjustmentJob::removalSplitsNetwork(const char* label1, const char* label2) {
    const int before = connectedSites(inputDataSet_);
    if (before < 0 || !inputDataSet_.seekVector(label1, label2))
        return true;
    inputDataSet_.setVectorInUse(0);
    const int after = connectedSites(inputDataSet_);
    inputDataSet_.seekVector(label1, label2);
    inputDataSet_.setVectorInUse(1);
    return after != before;
}

void AdjustmentJob::takeOutOfUse(const char* label1, const char* label2) {
    if (inputDataSet_.seekVector(label1, label2))
        inputDataSet_.setVectorInUse(0);
    if (outputDataSet_.seekVector(label1, label2)) {
        outputDataSet_.setVectorInUse(0);
        const double cleared[kVectorTestResultCount] = {};
        outputDataSet_.setVectorTestResults(cleared);
    }
}

void AdjustmentJob::snoopOutliers() {
    for (int round = 1;; ++round) {
        const AdjustmentState& s = engine_.state();
        const std::vector<std::size_t> flagged = flaggedVectors(s.rigorous);
        const RigorousVector* chosen = nullptr;
        std::size_t chosenIndex = 0;
        for (std::size_t k : flagged) {
            const RigorousVector& v = s.rigorousVectors[k];
            if (!removalSplitsNetwork(v.label1, v.label2)) {
                chosen = &v;
                chosenIndex = k;
                break;
            }
        }
        if (chosen == nullptr || round > options_.snoopRounds) {
            printSnoopingEnd(report_, round - 1, flagged.empty(), chosen == nullptr);
            return;
        }
        const FlaggedComponent worst = worstComponent(s.rigorous.vectors[chosenIndex]);
        SnoopedVector taken;
        taken.record = worst.record;
        std::memcpy(taken.from, worst.from, 4);
        std::memcpy(taken.to, worst.to, 4);
        taken.studentized = worst.studentized;
        snooped_.push_back(taken);
        printSnoopedVector(report_, round, worst);
        char label1[kNameSlotSize], label2[kNameSlotSize];
        std::memcpy(label1, chosen->label1, kNameSlotSize);
        std::memcpy(label2, chosen->label2, kNameSlotSize);
        takeOutOfUse(label1, label2);
        if (!runAdjustment()) {
            report_.setStyle(style::kError);
            report_.print("Error: Adjustment was not sucessful\n");
            return;
        }
    }
}

}  // namespace torvek
