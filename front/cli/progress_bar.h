#pragma once

#include <string>

#include "front/run/stage_progress.h"

namespace torvek::front {

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
