#pragma once

// The angle constants and ellipsoid quantities shared by every geodetic computation.

namespace torvek {

// pi, the double nearest to it (bits 0x400921FB54442D18). Every angle conversion derives from this
// one value, so that the same angle in degrees gives the same radians wherever it is converted.
inline constexpr double kPi = 3.141592653589793;

// Degrees and arc seconds per radian, derived from kPi in this order so that every part of the
// system converts with the same doubles.
inline constexpr double kDegreesPerRadian = 180.0 / kPi;
inline constexpr double kArcsecondsPerRadian = kDegreesPerRadian * 3600.0;

// First eccentricity squared e2 = 2/rf - 1/(rf rf) from the reciprocal flattening rf (> 1 for a
// real ellipsoid; rf = 0 gives an infinite value, nothing is checked). Always computed in exactly
// this form so that coordinates agree to the last bit wherever they are computed.
[[nodiscard]] double eccentricitySquared(double inverseFlattening);

// Radius of curvature in the prime vertical, N = a / sqrt(1 - e2 sin^2 phi), in metres; a in
// metres, e2 in [0, 1), sinPhi the sine of the geodetic latitude.
[[nodiscard]] double primeVerticalRadius(double semiMajorAxis, double eccentricitySquared,
                                         double sinPhi);

// Radius of curvature in the meridian, M = a (1 - e2) / W^3 with W = sqrt(1 - e2 sin^2 phi), in
// metres; arguments as for primeVerticalRadius.
[[nodiscard]] double meridianRadius(double semiMajorAxis, double eccentricitySquared,
                                    double sinPhi);

// Degrees to radians with kPi / 180 (the form used for reference points and bias rotations); any
// finite angle.
[[nodiscard]] double radiansFromDegrees(double degrees);

}  // namespace torvek
