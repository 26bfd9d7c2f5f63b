#pragma once

#include <string>

namespace torvek::front {

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

// A one-line progress bar on a terminal, driven by the stage codes of the abort polls. Disabled
// (every call does nothing) when the stream is not a terminal, so that redirected output stays
// clean.
class ProgressBar {
  public:
    // `fd`: the descriptor to draw on; `enabled`: whether to draw at all.
    ProgressBar(int fd, bool enabled) : fd_(fd), enabled_(enabled) {}
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;
    ~ProgressBar() { clear(); }

    // Draws the bar for the poll of `stage` (see StageProgress) with its description.
    void show(int stage);
    // Removes the bar, so that other text can be written on a clean line.
    void clear();
    // Draws the bar again where it was, after other text was written.
    void redraw();
    bool enabled() const { return enabled_; }

  private:
    void write(const std::string& text) const;
    void draw();

    int fd_;
    bool enabled_;
    bool drawn_ = false;
    StageProgress progress_;
    int percent_ = -1;
    std::string what_;
};

// The text of the bar at `percent` (clamped to 0..100) for a line `width` characters wide:
// "[#####-----]  42 %  <what>".
std::string progressLine(int percent, const std::string& what, int width);

}  // namespace torvek::front
