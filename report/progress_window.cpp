#include "report/progress_window.h"

#include "platform/link_frame.h"
#include "platform/message_box.h"

namespace torvek {

ProgressWindow::ProgressWindow(std::int32_t window, ReportWriter& report)
    : window_(window), report_(report) {}

bool ProgressWindow::pollAbort(int stageCode) {
    std::int32_t answer = platform::sendMessage(window_, platform::kMessageAbortPoll,
                                                static_cast<std::uint32_t>(stageCode));
    if (answer == 0)
        return false;
    abortAnswered_ = true;
    report_.setStyle(style::kAbortNotice);
    report_.print("Adjustment aborted by user\n");
    return true;
}

bool ProgressWindow::confirm(const char* text, const char* caption) {
    return platform::messageBox(window_, text, caption, platform::kStyleOkCancelWarning) ==
           platform::kButtonOk;
}

}  // namespace torvek
