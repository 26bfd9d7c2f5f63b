#pragma once
#include <cstddef>

#include "dataset/project_data_set.h"

namespace torvek {

/// Fixed capacities of one adjustment (kMaxSites, 500, is the data set's: a front end chooses the
/// program by it).
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

/// Sigma of a bias parameter held fixed: the smallest constraint sigma of the data set, which
/// gives its constraint equation the weight 1 / 0.001^2.
inline constexpr double kFixedBiasSigma = kMinimumSigma;

/// Largest magnitude of an elevation or a geoid height that a site can have, metres: ten thousand
/// kilometres, far above anything a survey occupies. Larger values only overflow the squares
/// and products of the equations.
inline constexpr double kMaxAbsoluteHeight = 1.0e7;
/// Largest magnitude of a vector component, metres: several times the Earth's diameter
/// (12,756 km), which no baseline between two sites can exceed.
inline constexpr double kMaxVectorComponent = 1.0e8;
/// Marks that an unknown had no equation (compared for exact equality).
inline constexpr double kNoEquationMark = -1e-9;

}  // namespace torvek
