#pragma once

namespace torvek::front {

// The stage code of the poll after a successful adjustment; the program ignores its answer.
inline constexpr int kFinalStage = 100;

// What the program is doing at a stage code (the codes double as a percentage).
const char* stageDescription(int stage);

// Turns the stage codes of the program's progress polls into a percentage that never goes back.
// Every iteration of the adjustment polls the same codes again (normal equations formed, checked,
// factorised, solved); the codes of the second iteration are placed past those of the first, and
// a code that would still go back (a retry after a singular system starts again at 32) holds the
// bar where it is.
class StageProgress {
  public:
    // The percentage, 0 to 100, to show for the next poll's `stage` (clamped to 0..100).
    int percent(int stage);
    // The iteration the last stage belongs to: 1, 2, ...; 0 outside the iterations.
    int iteration() const { return inIteration_ ? iteration_ : 0; }

  private:
    int shown_ = 0;
    int previous_ = -1;
    int iteration_ = 0;
    bool inIteration_ = false;
};

}  // namespace torvek::front
