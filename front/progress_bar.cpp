#include "front/progress_bar.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace torvek::front {

const char* stageDescription(int stage) {
    if (stage <= 0) {
        return "starting";
    }
    if (stage <= 26) {
        return "network connectivity test";
    }
    if (stage <= 29) {
        return "preparing the adjustment";
    }
    if (stage <= 36) {
        return "loading sites";
    }
    if (stage <= 42) {
        return "loading vectors";
    }
    if (stage <= 49) {
        return "forming the normal equations";
    }
    if (stage <= 58) {
        return "solving the normal equations";
    }
    if (stage < 100) {
        return "computing precisions";
    }
    return "adjustment done";
}

std::string progressLine(int stage, int width) {
    stage = std::clamp(stage, 0, 100);
    const int barWidth = std::max(10, std::min(40, width - 40));
    const int filled = stage * barWidth / 100;
    std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                       std::string(static_cast<std::size_t>(barWidth - filled), '-') + "]";
    char percent[16];
    std::snprintf(percent, sizeof percent, " %3d %%  ", stage);
    line += percent;
    line += stageDescription(stage);
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
    stage_ = std::clamp(stage, 0, 100);
    write("\r" + progressLine(stage_, 80) + "\x1b[K");
    drawn_ = true;
}

void ProgressBar::clear() {
    if (enabled_ && drawn_) {
        write("\r\x1b[K");
        drawn_ = false;
    }
}

void ProgressBar::redraw() {
    if (enabled_ && stage_ >= 0) {
        show(stage_);
    }
}

}  // namespace torvek::front
