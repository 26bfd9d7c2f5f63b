#include "front/cli/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace torvek::front {

std::string progressLine(int percent, const std::string& what, int width) {
    percent = std::clamp(percent, 0, 100);
    const int barWidth = std::max(10, std::min(40, width - 40));
    const int filled = percent * barWidth / 100;
    std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(barWidth - filled), '-') + "]";
    char number[16];
    std::snprintf(number, sizeof number, " %3d %%  ", percent);
    line += number;
    line += what;
    if (static_cast<int>(line.size()) > width - 1) {
        line.resize(static_cast<std::size_t>(std::max(0, width - 1)));
    }
    return line;
}

void ProgressBar::write(const std::string& text) const {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = ::write(fd_, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return;
        }
        done += static_cast<std::size_t>(put);
    }
}

void ProgressBar::show(int stage) {
    if (!enabled_) {
        return;
    }
    percent_ = progress_.percent(stage);
    what_ = stageDescription(stage);
    if (progress_.iteration() > 1) {
        what_ += " (iteration " + std::to_string(progress_.iteration()) + ")";
    }
    draw();
}

void ProgressBar::clear() {
    if (enabled_ && drawn_) {
        write("\r\x1b[K");
        drawn_ = false;
    }
}

void ProgressBar::redraw() {
    if (enabled_ && percent_ >= 0) {
        draw();
    }
}

void ProgressBar::draw() {
    write("\r" + progressLine(percent_, what_, 80) + "\x1b[K");
    drawn_ = true;
}

}  // namespace torvek::front
