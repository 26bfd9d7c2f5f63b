#pragma once

// Planned vectors: baselines a person means to observe, for the pre-analysis of a campaign. They
// carry no observed values (the approximate coordinates of their sites stand in) and take their
// covariance as given or from a sigma model of the receivers: a constant plus parts per million
// of the vector's length, horizontally (north and east) and vertically (up).

#include <optional>
#include <string>

#include "geodesy/local_frame.h"

namespace torvek::front {

// One standard deviation as a constant (metres, >= 0) plus parts per million of the length
// (>= 0).
struct SigmaTerm {
    double constant = 0.0;
    double ppm = 0.0;
};

// The sigmas of a planned vector: horizontal applies to north and east, vertical to up.
struct SigmaModel {
    SigmaTerm horizontal;
    SigmaTerm vertical;
};

// What a planned vector without a covariance gets when no sigma model is given: static GNSS over
// short baselines, 5 mm + 1 ppm horizontally and 10 mm + 2 ppm vertically (the usual statement of
// geodetic receivers' static precision).
inline constexpr SigmaModel kDefaultSigmaModel{{0.005, 1.0}, {0.010, 2.0}};

// The longest constant and largest ppm a sigma model takes: 1 m and 1000 ppm (a sigma beyond is
// a unit slip).
inline constexpr double kLargestSigmaConstant = 1.0;
inline constexpr double kLargestSigmaPpm = 1000.0;

// Reads "5mm+1ppm,10mm+2ppm" (horizontal, then vertical): each part a length in mm or m and/or
// a ppm, blanks anywhere. False with `error` saying what is wrong; `model` is then unchanged.
bool parseSigmaModel(const std::string& text, SigmaModel& model, std::string& error);

// The sigma model as text, "5mm+1ppm,10mm+2ppm".
std::string sigmaModelText(const SigmaModel& model);

// The Earth-centred covariance (m^2) of a vector of `length` metres whose middle lies at
// `latitude`, `longitude` (radians): diag(sH^2, sH^2, sV^2) along north, east, up rotated into
// X, Y, Z (R diag R^T), with sH, sV the model's sigmas at that length.
Matrix3 sigmaModelCovariance(const SigmaModel& model, double length, double latitude,
                             double longitude);

}  // namespace torvek::front
