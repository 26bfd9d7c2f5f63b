#pragma once

#include <cstdint>

#include "dataset/project_data_set.h"

namespace torvek {

// The adjusted position of a site and its standard deviations.
struct AdjustedSite {
    double latitude = 0.0;        // decimal degrees
    double longitude = 0.0;       // decimal degrees
    double elevation = 0.0;       // metres above the geoid
    double latitudeSigma = 0.0;   // metres
    double longitudeSigma = 0.0;  // metres
    double elevationSigma = 0.0;  // metres
};

// The adjusted vector between the adjusted positions of its end sites, metres.
struct AdjustedVector {
    double deltaX = 0.0;  // Earth-centred components
    double deltaY = 0.0;
    double deltaZ = 0.0;
    double north = 0.0;  // components in the local frame of the reference point
    double east = 0.0;
    double up = 0.0;
};

// The counts of an adjustment.
struct AdjustmentCounts {
    std::int32_t observationCount = 0;
    std::int32_t unknownCount = 0;
    std::int32_t degreesOfFreedom = 0;
    std::int32_t iterationCount = 0;
};

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

    // The north, east and up corrections (metres, along the site's meridian, prime vertical and
    // normal) of the last iteration's solution; 0 for a fixed component.
    bool setSiteCorrections(double north, double east, double up);
    bool getSiteCorrections(double& north, double& east, double& up) const;
    // The setter applies the 1 mm rule (applyConstraintSigmaRule) to the sigmas. The getter
    // returns the site's in-use flag instead of true (0 at end, output untouched).
    bool setAdjustedSite(const AdjustedSite& site);
    std::uint8_t getAdjustedSite(AdjustedSite& site) const;
    // component: 0 latitude, 1 longitude, 2 elevation; any other gives false and changes nothing.
    bool setConstraintResidual(std::int32_t component, double residual, double normalizedResidual);
    bool getConstraintResidual(std::int32_t component, double& residual,
                               double& normalizedResidual) const;

    // ---- Vectors ----------------------------------------------------------------------------

    // The getter returns the vector's in-use flag instead of true (0 at end, output untouched).
    bool setAdjustedVector(const AdjustedVector& vector);
    std::uint8_t getAdjustedVector(AdjustedVector& vector) const;
    // Residuals X, Y, Z; normalized residuals X, Y, Z; residuals north, east, up; normalized
    // residuals north, east, up. The setter stores values of magnitude below kResultFloor as 0.
    bool setVectorTestResults(const double values[kVectorTestResultCount]);
    bool getVectorTestResults(double values[kVectorTestResultCount]) const;
    // Precision of the adjusted vector along north, east and up. The setter raises a positive
    // sigma below kResultFloor to kResultFloor (zero and negative values are kept) and stores a
    // correlation of magnitude above 1 as 0.
    bool setAdjustedLocalSigmas(const ComponentPrecision& precision);
    bool getAdjustedLocalSigmas(ComponentPrecision& precision) const;
    // Precision of the adjusted vector's Earth-centred components; the setter applies the same
    // rule to the sigmas and stores the correlations as given.
    bool setAdjustedVectorSigmas(const ComponentPrecision& precision);
    bool getAdjustedVectorSigmas(ComponentPrecision& precision) const;

    // ---- Adjustment record ------------------------------------------------------------------

    bool setAdjustmentCounts(const AdjustmentCounts& counts);
    // False, output untouched, when there is no adjustment record.
    bool getAdjustmentCounts(AdjustmentCounts& counts) const;
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
