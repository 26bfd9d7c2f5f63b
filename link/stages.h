#pragma once
// The stage codes of the abort polls (docs/frontend-link.md, "The progress endpoint"). The program
// polls with them and a front end reads them back as progress, so both sides take them from here.

namespace torvek::stage {

/// Stage codes of the abort poll, in the order a run sends them. They rise through a run and
/// double as a progress percentage (0 to 100).
inline constexpr int kStart = 0;              // the job exists, nothing printed yet
inline constexpr int kGroupsBuilt = 13;       // connectivity work tables built
inline constexpr int kConnectivityDone = 26;  // connectivity test finished, flags written
inline constexpr int kBeforeAdjustment = 29;  // before the adjustment attempt
inline constexpr int kMatrixAllocated = 32;   // a retry after a singular system starts here again
inline constexpr int kConstantsSet = 36;      // scratch files open, reference frame set
inline constexpr int kSitesLoaded = 42;
inline constexpr int kEquationsFormed = 49;   // every iteration: its first code
inline constexpr int kEquationsChecked = 52;  // every iteration
inline constexpr int kFactorised = 56;        // every iteration
inline constexpr int kSolved = 58;            // every iteration: its last code
inline constexpr int kInverseFormed = 86;
inline constexpr int kFinished = 100;  // answer ignored

}  // namespace torvek::stage
