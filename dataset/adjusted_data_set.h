#pragma once

#include <cstdint>

#include "dataset/project_data_set.h"

namespace torvek {

// The output data set of a run: a ProjectDataSet with the operations that store adjustment
// results and read them back. It holds no data of its own.
//
// Site and vector setters work on the record under the cursor and return false at end, changing
// nothing. Setters on the adjustment record append a record when there is none and return false
// only when that fails.
class AdjustedDataSet : public ProjectDataSet {
  public:
    using ProjectDataSet::ProjectDataSet;
    AdjustedDataSet() = default;
    AdjustedDataSet(const AdjustedDataSet&) = default;
    AdjustedDataSet(AdjustedDataSet&&) = default;
    AdjustedDataSet& operator=(const AdjustedDataSet&) = default;
    AdjustedDataSet& operator=(AdjustedDataSet&&) = default;
    ~AdjustedDataSet() override = default;

    // ---- Sites ------------------------------------------------------------------------------

    // Solution values of the latitude, longitude and elevation unknowns in the last iteration.
    bool setSiteCorrections(double latitude, double longitude, double elevation);
    bool getSiteCorrections(double& latitude, double& longitude, double& elevation) const;
    // Adjusted latitude and longitude (decimal degrees), elevation and three sigmas (metres); the
    // setter applies the 1 mm rule to the sigmas. The getter returns the site's in-use flag
    // instead of true (0 at end, outputs untouched).
    bool setAdjustedSite(double latitude, double longitude, double elevation, double latitudeSigma,
                         double longitudeSigma, double elevationSigma);
    std::uint8_t getAdjustedSite(double& latitude, double& longitude, double& elevation,
                                 double& latitudeSigma, double& longitudeSigma,
                                 double& elevationSigma) const;
    // component: 0 latitude, 1 longitude, 2 elevation; any other gives false and changes nothing.
    bool setConstraintResidual(std::int32_t component, double residual, double normalizedResidual);
    bool getConstraintResidual(std::int32_t component, double& residual,
                               double& normalizedResidual) const;

    // ---- Vectors ----------------------------------------------------------------------------

    // Adjusted vector, earth-centred and local components (metres). The getter returns the
    // vector's in-use flag instead of true (0 at end, outputs untouched).
    bool setAdjustedVector(double deltaX, double deltaY, double deltaZ, double north, double east,
                           double up);
    std::uint8_t getAdjustedVector(double& deltaX, double& deltaY, double& deltaZ, double& north,
                                   double& east, double& up) const;
    // Residuals X, Y, Z; normalized residuals X, Y, Z; residuals north, east, up; normalized
    // residuals north, east, up. The setter stores values of magnitude below kResultFloor as 0.
    bool setVectorTestResults(const double values[kVectorTestResultCount]);
    bool getVectorTestResults(double values[kVectorTestResultCount]) const;
    // Adjusted local sigmas (metres) and three local correlations. The setter raises a positive
    // sigma below kResultFloor to kResultFloor (zero and negative values are kept) and stores a
    // correlation of magnitude above 1 as 0.
    bool setAdjustedLocalSigmas(double sigmaNorth, double sigmaEast, double sigmaUp,
                                double correlation1, double correlation2, double correlation3);
    bool getAdjustedLocalSigmas(double& sigmaNorth, double& sigmaEast, double& sigmaUp,
                                double& correlation1, double& correlation2,
                                double& correlation3) const;
    // Adjusted earth-centred sigmas (metres) and correlations; the setter applies the same rule
    // to the sigmas and stores the correlations as given.
    bool setAdjustedVectorSigmas(double sigmaX, double sigmaY, double sigmaZ, double correlationXY,
                                 double correlationXZ, double correlationYZ);
    bool getAdjustedVectorSigmas(double& sigmaX, double& sigmaY, double& sigmaZ,
                                 double& correlationXY, double& correlationXZ,
                                 double& correlationYZ) const;

    // ---- Adjustment record ------------------------------------------------------------------

    bool setAdjustmentCounts(std::int32_t observationCount, std::int32_t unknownCount,
                             std::int32_t degreesOfFreedom, std::int32_t iterationCount);
    // False when there is no adjustment record.
    bool getAdjustmentCounts(std::int32_t& observationCount, std::int32_t& unknownCount,
                             std::int32_t& degreesOfFreedom, std::int32_t& iterationCount) const;
    // The weighted sum of squared residuals and the lower and upper limits of its test.
    bool setChiSquareTest(double chiSquare, double lower, double upper);
    // False when there is no adjustment record.
    bool getChiSquareTest(double& chiSquare, double& lower, double& upper) const;
    bool setTauCriticalValue(double value);
    // 0.0 when there is no adjustment record.
    double tauCriticalValue() const;
    bool setUnitWeightStandardError(double value);
    // 0.0 when there is no adjustment record.
    double unitWeightStandardError() const;
    // 1 after a successful adjustment, 0 after a failed one.
    bool setAdjustmentSucceeded(std::uint8_t succeeded);
    // 0 when there is no adjustment record.
    std::uint8_t adjustmentSucceeded() const;
};

// Positive sigmas below kResultFloor become kResultFloor; zero, negative and larger values stay.
double applyResultSigmaFloor(double sigma);

}  // namespace torvek
