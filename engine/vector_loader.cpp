// Loading the vectors in use with their weights, after settling the datum bias constraints.
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "engine/adjustment_engine.h"
#include "geodesy/vector_precision.h"

namespace torvek {
namespace {

// The weights of a vector are multiplied by 2 / weightDivisor; smaller divisors count as this.
constexpr std::int32_t kSmallestWeightDivisor = 2;

// The record's own measurement: components within reach of the Earth, and finite sigmas and
// correlations. The accessors repair sigmas and correlations (an infinite sigma is held at
// 100 m, a NaN correlation becomes 0), which would hide a damaged record.
bool measurementIsUsable(const VectorRecord& vector) {
    for (double component : {vector.deltaX, vector.deltaY, vector.deltaZ})
        if (!std::isfinite(component) || std::fabs(component) > kMaxVectorComponent)
            return false;
    for (double value : {vector.sigmaX, vector.sigmaY, vector.sigmaZ, vector.correlationXY,
                         vector.correlationXZ, vector.correlationYZ})
        if (!std::isfinite(value))
            return false;
    return true;
}

// The record number as the report names a vector: "%05d" gives the five characters of the
// label for the usual numbers, and the whole number where the label has no room for it.
struct RecordNumberText {
    explicit RecordNumberText(const VectorRecord* vector) {
        std::snprintf(text, sizeof text, "%05d", vector != nullptr ? int(vector->recordNumber) : 0);
    }
    char text[16];
};

// Adds a program constraint to bias parameter k (0-based) when it is free.
void constrainIfFree(double sigma[kBiasParameterCount], int k) {
    if (sigma[k] == 0)
        sigma[k] = kFixedBiasSigma;
}

}  // namespace

bool AdjustmentEngine::loadVectors() {
    AdjustmentState& s = *state_;
    s.biasGroupCount = 0;
    s.usedVectorCount = 0;
    s.vectorNameCount = 0;

    std::array<double, kBiasAprioriCount> pairs = input_.biasApriori();
    if (input_.vectorCount() == 0)
        return true;
    s.biasGroupCount = 1;
    const int group = 1;

    BiasGroupRecord bias;
    if (!readBiasApriori(pairs, bias))
        return false;
    constrainBiases(bias);
    for (int k = 0; k < kBiasParameterCount; ++k) {
        settings_.biasApriori[k] = bias.value[k];
        settings_.biasFixed[k] = bias.sigma[k] == kFixedBiasSigma;
        pairs[2 * k] = bias.value[k];
        pairs[2 * k + 1] = bias.sigma[k];
    }
    output_.setBiasApriori(pairs.data());
    // The group's vector count is known only after the walk; it is written back then.
    const long groupRecordAt = scratch_.vectorScratch.position();
    writeRecord(scratch_.vectorScratch, bias);

    bool found = input_.firstVector();
    while (found && input_.vectorInUse() == 0)
        found = input_.nextVector();
    if (!found) {
        report_.print("Error: There isn't any vector for adjustment.\n");
        return false;
    }
    for (; found; found = input_.nextVector()) {
        if (input_.vectorInUse() == 0)
            continue;
        if (!loadVector(group))
            return false;
    }
    bias.vectorCount = s.usedVectorCount + s.rejectedVectorCount[group];
    scratch_.vectorScratch.seek(groupRecordAt);
    scratch_.vectorScratch.putInt32(bias.vectorCount);
    scratch_.vectorScratch.seekEnd();
    return true;
}

bool AdjustmentEngine::readBiasApriori(const std::array<double, kBiasAprioriCount>& pairs,
                                       BiasGroupRecord& bias) {
    for (int k = 0; k < kBiasParameterCount; ++k) {
        bias.value[k] = pairs[2 * k];
        bias.sigma[k] = pairs[2 * k + 1];
        if (!std::isfinite(bias.value[k]) || !std::isfinite(bias.sigma[k])) {
            return reportError("Error: Invalid a-priori datum bias parameter %d\n", k + 1);
        }
    }
    return true;
}

void AdjustmentEngine::constrainBiases(BiasGroupRecord& bias) {
    const AdjustmentState& s = *state_;
    if (settings_.minimallyConstrained) {
        for (double& sigma : bias.sigma)
            sigma = 0;
    } else if (settings_.forceBiasConstraints) {
        for (int k = 0; k < kBiasParameterCount; ++k)
            constrainIfFree(bias.sigma, k);
    }
    // Control too weak to carry a rotation or the scale: the program holds those parameters.
    if (s.horizontalControlCount < 2 || s.verticalControlCount < 3) {
        if (s.horizontalControlCount == 1) {
            constrainIfFree(bias.sigma, 2);  // rotation about up
            constrainIfFree(bias.sigma, 3);  // scale
        }
        if (s.verticalControlCount == 2 && s.tiltConstraintAxis >= 1 && s.tiltConstraintAxis <= 2)
            constrainIfFree(bias.sigma, s.tiltConstraintAxis - 1);
        if (s.verticalControlCount == 1) {
            constrainIfFree(bias.sigma, 0);  // rotation about north
            constrainIfFree(bias.sigma, 1);  // rotation about east
        }
        if (!settings_.minimallyConstrained) {
            report_.setStyle(style::kBody);
            report_.print("Note: Bias constraint(s) applied by the program.\n");
            report_.print("See issue \"Adjusted Datum Bias Parameters\".\n\n");
            report_.setStyle(style::kBody);
        }
    }
}

bool AdjustmentEngine::loadVector(int group) {
    AdjustmentState& s = *state_;
    VectorObservationRecord vector;
    input_.vectorLabels(vector.label1, vector.label2);
    if (!output_.seekVector(vector.label1, vector.label2)) {
        const RecordNumberText number(std::as_const(input_).currentVector());
        report_.print("Error: The vector #%s:%4.4s-%4.4s not found\n", number.text, vector.label1,
                      vector.label2);
        return false;
    }
    vector.fromSite = findSite(vector.label1);
    vector.toSite = findSite(vector.label2);
    if (vector.fromSite == 0 || vector.toSite == 0) {
        if (vector.fromSite == 0)
            report_.print("Error: Site %4.4s not found\n", vector.label1);
        if (vector.toSite == 0)
            report_.print("Error: Site %4.4s not found\n", vector.label2);
        return false;
    }
    VectorComponents components;
    input_.getVectorComponents(components);
    vector.dX = components.deltaX;
    vector.dY = components.deltaY;
    vector.dZ = components.deltaZ;
    std::int32_t divisor = components.weightDivisor;
    output_.setVectorInUse(0);
    if (divisor < kSmallestWeightDivisor)
        divisor = kSmallestWeightDivisor;
    // A vector to a site beyond the attempt's loaded sites waits for the retry with more sites.
    if (vector.fromSite > s.loadedSiteCount || vector.toSite > s.loadedSiteCount) {
        ++s.rejectedVectorCount[group];
        return true;
    }
    if (!measurementIsUsable(*std::as_const(input_).currentVector())) {
        const RecordNumberText number(std::as_const(input_).currentVector());
        return reportError("Error: The vector #%s:%4.4s-%4.4s has invalid components or sigmas\n",
                           number.text, vector.label1, vector.label2);
    }
    ++s.usedVectorCount;
    if (settings_.preanalysis) {
        // A planned vector: the approximate coordinates stand in for what will be observed.
        const SiteState& from = s.sites[vector.fromSite];
        const SiteState& to = s.sites[vector.toSite];
        vector.dX = to.x - from.x;
        vector.dY = to.y - from.y;
        vector.dZ = to.z - from.z;
    }
    vector.length =
        std::sqrt(vector.dX * vector.dX + vector.dY * vector.dY + vector.dZ * vector.dZ);
    // The cursor is on this vector, so the precision is read.
    ComponentPrecision stored;
    input_.getVectorCovariance(stored);
    const Vector3 local = localVectorSigmas(
        stored.sigma, vectorCorrelations(stored.sigma, stored.correlation), s.sigmaFrame);
    const double sN = local[kNorth], sE = local[kEast], sU = local[kUp];
    output_.setVectorLocalSigmas(sN, sE, sU);
    const double scale = 2.0 / divisor;
    vector.pN = scale / (sN * sN);
    vector.pE = scale / (sE * sE);
    vector.pU = scale / (sU * sU);
    if (settings_.rigorous && !loadRigorousVector(vector, divisor))
        return false;
    writeRecord(scratch_.vectorScratch, vector);

    VectorNameRecord name;
    name.fromSite = vector.fromSite;
    name.toSite = vector.toSite;
    std::memcpy(name.label1, vector.label1, kNameSlotSize);
    std::memcpy(name.label2, vector.label2, kNameSlotSize);
    ++s.vectorNameCount;
    writeRecord(scratch_.vectorNameScratch, name);
    return true;
}

}  // namespace torvek
