#pragma once

#include <string>

namespace torvek::front {

// What the program is doing at a stage code (the codes double as a percentage).
const char* stageDescription(int stage);

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

    // Draws the bar at `stage` (clamped to 0..100) with its description.
    void show(int stage);
    // Removes the bar, so that other text can be written on a clean line.
    void clear();
    // Draws the bar again where it was, after other text was written.
    void redraw();
    bool enabled() const { return enabled_; }

  private:
    void write(const std::string& text) const;

    int fd_;
    bool enabled_;
    bool drawn_ = false;
    int stage_ = -1;
};

// The text of the bar at `stage` for a line `width` characters wide: "[#####-----]  42 %  <what>".
std::string progressLine(int stage, int width);

}  // namespace torvek::front
