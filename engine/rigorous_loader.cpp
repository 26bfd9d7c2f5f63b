// The rigorous model's weights: the full covariance of each vector in use, and the bias
// parameters it fixes exactly.
#include <cmath>
#include <cstring>
#include <utility>

#include "engine/adjustment_engine.h"
#include "geodesy/covariance_matrix.h"

namespace torvek {

void AdjustmentEngine::eliminatedBiases(const BiasGroupRecord& bias,
                                        bool (&eliminated)[kBiasParameterCount]) {
    for (int k = 0; k < kBiasParameterCount; ++k)
        eliminated[k] = bias.sigma[k] > 0 && bias.sigma[k] <= kEliminatedBiasSigma;
}

bool AdjustmentEngine::loadRigorousVector(const VectorObservationRecord& vector,
                                          std::int32_t divisor) {
    AdjustmentState& s = *state_;
    const VectorRecord* record = std::as_const(input_).currentVector();
    Matrix3 covariance{};
    bool usable =
        record != nullptr &&
        cartesianCovariance({record->sigmaX, record->sigmaY, record->sigmaZ},
                            {record->correlationXY, record->correlationXZ, record->correlationYZ},
                            covariance);
    // The vector sigma scale multiplies the sigmas, the weight divisor divides the weights by
    // divisor / 2 (as in the classic model).
    const double scale = settings_.vectorSigmaScale * settings_.vectorSigmaScale * (divisor / 2.0);
    for (double& value : covariance)
        value *= scale;
    RigorousVector weighted;
    weighted.record = record != nullptr ? record->recordNumber : 0;
    weighted.fromSite = vector.fromSite;
    weighted.toSite = vector.toSite;
    weighted.observed = {vector.dX, vector.dY, vector.dZ};
    std::memcpy(weighted.label1, vector.label1, kNameSlotSize);
    std::memcpy(weighted.label2, vector.label2, kNameSlotSize);
    const Matrix3 local = congruence(transposed(s.centreRotation), covariance);
    usable = usable && choleskyFactor(local, weighted.factor);
    if (!usable) {
        return reportError(
            "Error: The vector %4.4s-%4.4s (record %d) has a covariance that is not finite or "
            "not positive definite\n",
            vector.label1, vector.label2, int(weighted.record));
    }
    weighted.inverseFactor = lowerTriangularInverse(weighted.factor);
    // The a-priori local sigmas of the output are the ones this model weighs with (the setter
    // keeps the data set's 1 mm floor); the output's cursor is on this vector.
    output_.setVectorLocalSigmas(std::sqrt(local[0]), std::sqrt(local[4]), std::sqrt(local[8]));
    s.rigorousVectors.push_back(weighted);
    return true;
}

}  // namespace torvek
