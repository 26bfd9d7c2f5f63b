#pragma once

#include <array>
#include <string>
#include <vector>

#include "dataset/adjusted_data_set.h"
#include "front/project/site_name_mapping.h"

namespace torvek::front {

// One site as the results show it.
struct SiteResult {
    std::string name;       // in full
    bool adjusted = false;  // the run stored results for it (in use in the output data set)
    bool latitudeFixed = false, longitudeFixed = false, elevationFixed = false;
    bool constrained = false;  // has a constraint sigma in any component
    double latitude = 0, longitude = 0, elevation = 0, geoidHeight = 0;  // input; degrees, metres
    double adjustedLatitude = 0, adjustedLongitude = 0, adjustedElevation = 0;
    double sigmaNorth = 0, sigmaEast = 0, sigmaUp = 0;  // metres, from the latitude, longitude
                                                        // and elevation sigmas
    // Position in the local frame of the reference point (metres): the adjusted position when
    // there is one, the input position otherwise. Used by the plot.
    double east = 0, north = 0;

    bool fixedAny() const { return latitudeFixed || longitudeFixed || elevationFixed; }
    // Control: held fixed or constrained in any component.
    bool control() const { return fixedAny() || constrained; }
};

// One vector as the results show it.
struct VectorResult {
    std::string from, to;  // full site names
    int record = 0;
    int fromIndex = -1, toIndex = -1;    // positions in NetworkResults::sites; -1 when unknown
    bool adjusted = false;               // the run stored its test results
    double length = 0;                   // metres, of the observed vector
    std::array<double, 3> residual{};    // north, east, up, metres
    std::array<double, 3> normalized{};  // north, east, up, residual / a-priori sigma
    double largestNormalized = 0;        // largest magnitude of the three
    double signedLargestNormalized = 0;  // the same component with its sign
    bool flagged = false;                // largestNormalized above the tau critical value
    // A vector the run left out (not in use in the output of a run that succeeded) has no
    // residuals; its misfit against the adjusted positions of its sites takes their place when
    // both were adjusted: north, east, up along the reference point's axes, metres, and each
    // divided by its a-priori standard deviation.
    bool excluded = false;
    bool hasMisfit = false;
    std::array<double, 3> misfit{};
    std::array<double, 3> normalizedMisfit{};
};

// The results of a run, read from its output data set.
struct NetworkResults {
    std::string title;
    bool hasAdjustmentRecord = false;
    bool succeeded = false;
    bool minimallyConstrained = false;
    int observations = 0, unknowns = 0, degreesOfFreedom = 0, iterations = 0;
    double chiSquare = 0, chiSquareLower = 0, chiSquareUpper = 0;
    double tauCriticalValue = 0, unitWeightStandardError = 0;
    double confidenceLevel = 0, vectorSigmaScale = 0;  // percent; factor
    double semiMajorAxis = 0, inverseFlattening = 0;
    double referenceLatitude = 0, referenceLongitude = 0;  // degrees
    // Adjusted datum bias parameters as stored: rotations about north, east, up (arc seconds),
    // scale (ppm), rotations about X, Y, Z (arc seconds), each followed by its sigma.
    std::array<double, 14> bias{};
    std::vector<SiteResult> sites;
    std::vector<VectorResult> vectors;

    // The chi-square sum within its limits (limits included; false when any of the three is not
    // finite), as chiSquareOutcome (result_reading.h) reads it.
    bool chiSquarePassed() const;
    int flaggedCount() const;
};

// Reads the results of a run, naming the sites by `names` (by their codes when it has none).
// Flags the adjusted vectors whose largest normalized residual (north, east or up) exceeds the tau
// critical value; nothing is flagged after a failed run.
NetworkResults collectResults(const AdjustedDataSet& output, const SiteNameTable& names = {});

// How a site is held: "fixed", "fixed horizontally", "fixed in height", "constrained" and their
// combinations; empty for a free site.
std::string controlDescription(const SiteResult& site);

// Degrees as sexagesimal text with `decimals` decimals of the seconds and a hemisphere letter:
// 46 57 03.12345 N with latitudeLetters "NS", longitudes with "EW".
std::string formatSexagesimal(double degrees, const char* letters, int decimals);

}  // namespace torvek::front
