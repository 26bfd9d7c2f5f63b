#pragma once
#include <cstddef>

namespace torvek {

/// Fixed capacities of one adjustment.
inline constexpr int kMaxSites = 500;
inline constexpr int kMaxUnknowns = 1504;  // 500 sites x 3 and the four bias unknowns
/// Datum bias parameters per bias group: rotations about north, east, up (arc seconds), scale
/// (ppm).
inline constexpr int kBiasParameterCount = 4;
/// Slots of the per-group counters; only group 1 is ever opened.
inline constexpr int kBiasGroupSlots = 5;
/// Terms of a vector equation: three unknowns per end site and the four bias unknowns.
inline constexpr int kVectorEquationTerms = 10;
/// A name slot: the four-character site name printed "%4.4s" and padded with blanks, 14
/// characters and a terminator.
inline constexpr std::size_t kNameSlotSize = 15;

/// Weight of a bias parameter held at the smallest sigma, 1 / 0.001^2.
inline constexpr double kFixedBiasSigma = 0.001;

/// Marks that an unknown had no equation (compared for exact equality).
inline constexpr double kNoEquationMark = -1e-9;

}  // namespace torvek
