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

bool AdjustedDataSet::setSiteCorrections(double north, double east, double up) {
    SiteRecord* site = siteForUpdate();
    if (site == nullptr) {
        return false;
    }
    site->lastCorrection = {north, east, up};
    return true;
}

bool AdjustedDataSet::getSiteCorrections(double& north, double& east, double& up) const {
    const SiteRecord* site = currentSite();
    if (site == nullptr) {
        return false;
    }
    north = site->lastCorrection[0];
    east = site->lastCorrection[1];
    up = site->lastCorrection[2];
    return true;
}

bool AdjustedDataSet::setAdjustedSite(const AdjustedSite& adjusted) {
    SiteRecord* site = siteForUpdate();
    if (site == nullptr) {
        return false;
    }
    site->adjustedLatitude = adjusted.latitude;
    site->adjustedLongitude = adjusted.longitude;
    site->adjustedElevation = adjusted.elevation;
    site->adjustedLatitudeSigma = applyConstraintSigmaRule(adjusted.latitudeSigma);
    site->adjustedLongitudeSigma = applyConstraintSigmaRule(adjusted.longitudeSigma);
    site->adjustedElevationSigma = applyConstraintSigmaRule(adjusted.elevationSigma);
    return true;
}

std::uint8_t AdjustedDataSet::getAdjustedSite(AdjustedSite& adjusted) const {
    const SiteRecord* site = currentSite();
    if (site == nullptr) {
        return 0;
    }
    adjusted = {site->adjustedLatitude,       site->adjustedLongitude,
                site->adjustedElevation,      site->adjustedLatitudeSigma,
                site->adjustedLongitudeSigma, site->adjustedElevationSigma};
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

bool AdjustedDataSet::setAdjustedVector(const AdjustedVector& adjusted) {
    VectorRecord* vector = vectorForUpdate();
    if (vector == nullptr) {
        return false;
    }
    vector->adjustedDeltaX = adjusted.deltaX;
    vector->adjustedDeltaY = adjusted.deltaY;
    vector->adjustedDeltaZ = adjusted.deltaZ;
    vector->adjustedNorth = adjusted.north;
    vector->adjustedEast = adjusted.east;
    vector->adjustedUp = adjusted.up;
    return true;
}

std::uint8_t AdjustedDataSet::getAdjustedVector(AdjustedVector& adjusted) const {
    const VectorRecord* vector = currentVector();
    if (vector == nullptr) {
        return 0;
    }
    adjusted = {vector->adjustedDeltaX, vector->adjustedDeltaY, vector->adjustedDeltaZ,
                vector->adjustedNorth,  vector->adjustedEast,   vector->adjustedUp};
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

bool AdjustedDataSet::setAdjustedLocalSigmas(const ComponentPrecision& precision) {
    VectorRecord* vector = vectorForUpdate();
    if (vector == nullptr) {
        return false;
    }
    vector->adjustedLocalSigmaNorth = applyResultSigmaFloor(precision.sigma[0]);
    vector->adjustedLocalSigmaEast = applyResultSigmaFloor(precision.sigma[1]);
    vector->adjustedLocalSigmaUp = applyResultSigmaFloor(precision.sigma[2]);
    vector->adjustedLocalCorrelation = {dropImpossibleCorrelation(precision.correlation[0]),
                                        dropImpossibleCorrelation(precision.correlation[1]),
                                        dropImpossibleCorrelation(precision.correlation[2])};
    return true;
}

bool AdjustedDataSet::getAdjustedLocalSigmas(ComponentPrecision& precision) const {
    const VectorRecord* vector = currentVector();
    if (vector == nullptr) {
        return false;
    }
    precision.sigma = {vector->adjustedLocalSigmaNorth, vector->adjustedLocalSigmaEast,
                       vector->adjustedLocalSigmaUp};
    precision.correlation = vector->adjustedLocalCorrelation;
    return true;
}

bool AdjustedDataSet::setAdjustedVectorSigmas(const ComponentPrecision& precision) {
    VectorRecord* vector = vectorForUpdate();
    if (vector == nullptr) {
        return false;
    }
    vector->adjustedSigmaX = applyResultSigmaFloor(precision.sigma[0]);
    vector->adjustedSigmaY = applyResultSigmaFloor(precision.sigma[1]);
    vector->adjustedSigmaZ = applyResultSigmaFloor(precision.sigma[2]);
    vector->adjustedCorrelationXY = precision.correlation[0];
    vector->adjustedCorrelationXZ = precision.correlation[1];
    vector->adjustedCorrelationYZ = precision.correlation[2];
    return true;
}

bool AdjustedDataSet::getAdjustedVectorSigmas(ComponentPrecision& precision) const {
    const VectorRecord* vector = currentVector();
    if (vector == nullptr) {
        return false;
    }
    precision.sigma = {vector->adjustedSigmaX, vector->adjustedSigmaY, vector->adjustedSigmaZ};
    precision.correlation = {vector->adjustedCorrelationXY, vector->adjustedCorrelationXZ,
                             vector->adjustedCorrelationYZ};
    return true;
}

// ---- Adjustment record ----------------------------------------------------------------------

bool AdjustedDataSet::setAdjustmentCounts(const AdjustmentCounts& counts) {
    AdjustmentRecord* record = adjustmentRecordForWriting();
    if (record == nullptr) {
        return false;
    }
    record->observationCount = counts.observationCount;
    record->unknownCount = counts.unknownCount;
    record->degreesOfFreedom = counts.degreesOfFreedom;
    record->iterationCount = counts.iterationCount;
    return true;
}

bool AdjustedDataSet::getAdjustmentCounts(AdjustmentCounts& counts) const {
    const AdjustmentRecord* record = currentAdjustmentRecord();
    if (record == nullptr) {
        return false;
    }
    counts = {record->observationCount, record->unknownCount, record->degreesOfFreedom,
              record->iterationCount};
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
