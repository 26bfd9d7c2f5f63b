#pragma once
// How far a measured vector lies from the adjusted positions of its two sites. For a vector in use
// this is its residual; for one left out of the run it is what a person needs to decide whether it
// may go back in.

#include <vector>

#include "dataset/adjusted_data_set.h"
#include "geodesy/local_frame.h"

namespace torvek::front {

// The datum bias parameters of a run as the observation equations apply them to every vector.
struct DatumBias {
    double rotationNorth = 0.0;  // arc seconds, about the reference point's north axis
    double rotationEast = 0.0;   // arc seconds, about its east axis
    double rotationUp = 0.0;     // arc seconds, about its up axis
    double scale = 0.0;          // parts per million
};

// The misfit along the north, east and up axes of the reference point (metres) of the measured
// Earth-centred vector `observed` (to minus from, metres) against the Earth-centred positions
// `from` and `to` (metres): the adjusted difference minus the measurement, with the bias terms of
// the observation equations, -(w x t) / rho - s t / 10^6 for the rotations w (arc seconds) and the
// scale s (ppm), t the measurement along the reference axes. `referenceFrame` is the local frame
// matrix of the reference point.
Vector3 vectorMisfit(const Matrix3& referenceFrame, const Vector3& from, const Vector3& to,
                     const Vector3& observed, const DatumBias& bias);

struct VectorMisfit {
    bool available = false;  // both sites were adjusted by a run that succeeded
    Vector3 misfit{};        // north, east, up, metres
    Vector3 normalized{};    // each divided by its a-priori standard deviation, as the run's
                             // normalized residuals are (weight divisor included)
};

// The misfit of every vector of a run's output data set, in list order, against the adjusted
// positions and the adjusted datum bias; unavailable where either site has no adjusted position.
std::vector<VectorMisfit> vectorMisfits(const AdjustedDataSet& output);

}  // namespace torvek::front
