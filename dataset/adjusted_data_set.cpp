#include "dataset/adjusted_data_set.h"

#include <cmath>

namespace torvek {

double applyResultSigmaFloor(double sigma) {
    return (sigma > 0.0 && sigma < kResultFloor) ? kResultFloor : sigma;
}

namespace {

bool isConstraintComponent(std::int32_t component) {
    return component >= 0 && component <= 2;
}

// Residuals this small are rounding noise of the solution; storing them as 0 keeps the report
// free of meaningless digits.
double dropNoise(double value) {
    return std::fabs(value) < kResultFloor ? 0.0 : value;
}

double dropImpossibleCorrelation(double value) {
    return std::fabs(value) > 1.0 ? 0.0 : value;
}

}  // namespace

// ---- Sites ----------------------------------------------------------------------------------

bool AdjustedDataSet::setSiteCorrections(double latitude, double longitude, double elevation) {
    SiteRecord* site = siteForUpdate();
    if (site == nullptr) {
        return false;
    }
    site->lastCorrection = {latitude, longitude, elevation};
    return true;
}

bool AdjustedDataSet::getSiteCorrections(double& latitude, double& longitude,
                                         double& elevation) const {
    const SiteRecord* site = currentSite();
    if (site == nullptr) {
        return false;
    }
    latitude = site->lastCorrection[0];
    longitude = site->lastCorrection[1];
    elevation = site->lastCorrection[2];
    return true;
}

bool AdjustedDataSet::setAdjustedSite(double latitude, double longitude, double elevation,
                                      double latitudeSigma, double longitudeSigma,
                                      double elevationSigma) {
    SiteRecord* site = siteForUpdate();
    if (site == nullptr) {
        return false;
    }
    site->adjustedLatitude = latitude;
    site->adjustedLongitude = longitude;
    site->adjustedElevation = elevation;
    site->adjustedLatitudeSigma = applyConstraintSigmaRule(latitudeSigma);
    site->adjustedLongitudeSigma = applyConstraintSigmaRule(longitudeSigma);
    site->adjustedElevationSigma = applyConstraintSigmaRule(elevationSigma);
    return true;
}

std::uint8_t AdjustedDataSet::getAdjustedSite(double& latitude, double& longitude,
                                              double& elevation, double& latitudeSigma,
                                              double& longitudeSigma,
                                              double& elevationSigma) const {
    const SiteRecord* site = currentSite();
    if (site == nullptr) {
        return 0;
    }
    latitude = site->adjustedLatitude;
    longitude = site->adjustedLongitude;
    elevation = site->adjustedElevation;
    latitudeSigma = site->adjustedLatitudeSigma;
    longitudeSigma = site->adjustedLongitudeSigma;
    elevationSigma = site->adjustedElevationSigma;
    return site->inUse;
}

bool AdjustedDataSet::setConstraintResidual(std::int32_t component, double residual,
                                            double normalizedResidual) {
    SiteRecord* site = siteForUpdate();
    if (site == nullptr || !isConstraintComponent(component)) {
        return false;
    }
    site->constraintResidual[static_cast<std::size_t>(component)] = residual;
    site->normalizedConstraintResidual[static_cast<std::size_t>(component)] = normalizedResidual;
    return true;
}

bool AdjustedDataSet::getConstraintResidual(std::int32_t component, double& residual,
                                            double& normalizedResidual) const {
    const SiteRecord* site = currentSite();
    if (site == nullptr || !isConstraintComponent(component)) {
        return false;
    }
    residual = site->constraintResidual[static_cast<std::size_t>(component)];
    normalizedResidual = site->normalizedConstraintResidual[static_cast<std::size_t>(component)];
    return true;
}

// ---- Vectors --------------------------------------------------------------------------------

bool AdjustedDataSet::setAdjustedVector(double deltaX, double deltaY, double deltaZ, double north,
                                        double east, double up) {
    VectorRecord* vector = vectorForUpdate();
    if (vector == nullptr) {
        return false;
    }
    vector->adjustedDeltaX = deltaX;
    vector->adjustedDeltaY = deltaY;
    vector->adjustedDeltaZ = deltaZ;
    vector->adjustedNorth = north;
    vector->adjustedEast = east;
    vector->adjustedUp = up;
    return true;
}

std::uint8_t AdjustedDataSet::getAdjustedVector(double& deltaX, double& deltaY, double& deltaZ,
                                                double& north, double& east, double& up) const {
    const VectorRecord* vector = currentVector();
    if (vector == nullptr) {
        return 0;
    }
    deltaX = vector->adjustedDeltaX;
    deltaY = vector->adjustedDeltaY;
    deltaZ = vector->adjustedDeltaZ;
    north = vector->adjustedNorth;
    east = vector->adjustedEast;
    up = vector->adjustedUp;
    return vector->inUse;
}

bool AdjustedDataSet::setVectorTestResults(const double values[kVectorTestResultCount]) {
    VectorRecord* vector = vectorForUpdate();
    if (vector == nullptr) {
        return false;
    }
    for (std::size_t i = 0; i < kVectorTestResultCount; ++i) {
        vector->vectorTestResults[i] = dropNoise(values[i]);
    }
    return true;
}

bool AdjustedDataSet::getVectorTestResults(double values[kVectorTestResultCount]) const {
    const VectorRecord* vector = currentVector();
    if (vector == nullptr) {
        return false;
    }
    for (std::size_t i = 0; i < kVectorTestResultCount; ++i) {
        values[i] = vector->vectorTestResults[i];
    }
    return true;
}

bool AdjustedDataSet::setAdjustedLocalSigmas(double sigmaNorth, double sigmaEast, double sigmaUp,
                                             double correlation1, double correlation2,
                                             double correlation3) {
    VectorRecord* vector = vectorForUpdate();
    if (vector == nullptr) {
        return false;
    }
    vector->adjustedLocalSigmaNorth = applyResultSigmaFloor(sigmaNorth);
    vector->adjustedLocalSigmaEast = applyResultSigmaFloor(sigmaEast);
    vector->adjustedLocalSigmaUp = applyResultSigmaFloor(sigmaUp);
    vector->adjustedLocalCorrelation = {dropImpossibleCorrelation(correlation1),
                                        dropImpossibleCorrelation(correlation2),
                                        dropImpossibleCorrelation(correlation3)};
    return true;
}

bool AdjustedDataSet::getAdjustedLocalSigmas(double& sigmaNorth, double& sigmaEast, double& sigmaUp,
                                             double& correlation1, double& correlation2,
                                             double& correlation3) const {
    const VectorRecord* vector = currentVector();
    if (vector == nullptr) {
        return false;
    }
    sigmaNorth = vector->adjustedLocalSigmaNorth;
    sigmaEast = vector->adjustedLocalSigmaEast;
    sigmaUp = vector->adjustedLocalSigmaUp;
    correlation1 = vector->adjustedLocalCorrelation[0];
    correlation2 = vector->adjustedLocalCorrelation[1];
    correlation3 = vector->adjustedLocalCorrelation[2];
    return true;
}

bool AdjustedDataSet::setAdjustedVectorSigmas(double sigmaX, double sigmaY, double sigmaZ,
                                              double correlationXY, double correlationXZ,
                                              double correlationYZ) {
    VectorRecord* vector = vectorForUpdate();
    if (vector == nullptr) {
        return false;
    }
    vector->adjustedSigmaX = applyResultSigmaFloor(sigmaX);
    vector->adjustedSigmaY = applyResultSigmaFloor(sigmaY);
    vector->adjustedSigmaZ = applyResultSigmaFloor(sigmaZ);
    vector->adjustedCorrelationXY = correlationXY;
    vector->adjustedCorrelationXZ = correlationXZ;
    vector->adjustedCorrelationYZ = correlationYZ;
    return true;
}

bool AdjustedDataSet::getAdjustedVectorSigmas(double& sigmaX, double& sigmaY, double& sigmaZ,
                                              double& correlationXY, double& correlationXZ,
                                              double& correlationYZ) const {
    const VectorRecord* vector = currentVector();
    if (vector == nullptr) {
        return false;
    }
    sigmaX = vector->adjustedSigmaX;
    sigmaY = vector->adjustedSigmaY;
    sigmaZ = vector->adjustedSigmaZ;
    correlationXY = vector->adjustedCorrelationXY;
    correlationXZ = vector->adjustedCorrelationXZ;
    correlationYZ = vector->adjustedCorrelationYZ;
    return true;
}

// ---- Adjustment record ----------------------------------------------------------------------

bool AdjustedDataSet::setAdjustmentCounts(std::int32_t observationCount, std::int32_t unknownCount,
                                          std::int32_t degreesOfFreedom,
                                          std::int32_t iterationCount) {
    AdjustmentRecord* record = adjustmentRecordForWriting();
    if (record == nullptr) {
        return false;
    }
    record->observationCount = observationCount;
    record->unknownCount = unknownCount;
    record->degreesOfFreedom = degreesOfFreedom;
    record->iterationCount = iterationCount;
    return true;
}

bool AdjustedDataSet::getAdjustmentCounts(std::int32_t& observationCount,
                                          std::int32_t& unknownCount,
                                          std::int32_t& degreesOfFreedom,
                                          std::int32_t& iterationCount) const {
    const AdjustmentRecord* record = currentAdjustmentRecord();
    if (record == nullptr) {
        return false;
    }
    observationCount = record->observationCount;
    unknownCount = record->unknownCount;
    degreesOfFreedom = record->degreesOfFreedom;
    iterationCount = record->iterationCount;
    return true;
}

bool AdjustedDataSet::setChiSquareTest(double chiSquare, double lower, double upper) {
    AdjustmentRecord* record = adjustmentRecordForWriting();
    if (record == nullptr) {
        return false;
    }
    record->chiSquare = chiSquare;
    record->chiSquareLower = lower;
    record->chiSquareUpper = upper;
    return true;
}

bool AdjustedDataSet::getChiSquareTest(double& chiSquare, double& lower, double& upper) const {
    const AdjustmentRecord* record = currentAdjustmentRecord();
    if (record == nullptr) {
        return false;
    }
    chiSquare = record->chiSquare;
    lower = record->chiSquareLower;
    upper = record->chiSquareUpper;
    return true;
}

bool AdjustedDataSet::setTauCriticalValue(double value) {
    AdjustmentRecord* record = adjustmentRecordForWriting();
    if (record == nullptr) {
        return false;
    }
    record->tauCriticalValue = value;
    return true;
}

double AdjustedDataSet::tauCriticalValue() const {
    const AdjustmentRecord* record = currentAdjustmentRecord();
    return record == nullptr ? 0.0 : record->tauCriticalValue;
}

bool AdjustedDataSet::setUnitWeightStandardError(double value) {
    AdjustmentRecord* record = adjustmentRecordForWriting();
    if (record == nullptr) {
        return false;
    }
    record->unitWeightStandardError = value;
    return true;
}

double AdjustedDataSet::unitWeightStandardError() const {
    const AdjustmentRecord* record = currentAdjustmentRecord();
    return record == nullptr ? 0.0 : record->unitWeightStandardError;
}

bool AdjustedDataSet::setAdjustmentSucceeded(std::uint8_t succeeded) {
    AdjustmentRecord* record = adjustmentRecordForWriting();
    if (record == nullptr) {
        return false;
    }
    record->adjustmentSucceeded = succeeded;
    return true;
}

std::uint8_t AdjustedDataSet::adjustmentSucceeded() const {
    const AdjustmentRecord* record = currentAdjustmentRecord();
    return record == nullptr ? 0 : record->adjustmentSucceeded;
}

}  // namespace torvek
