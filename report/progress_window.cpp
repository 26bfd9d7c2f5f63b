#include "report/progress_window.h"

#include "link/messages.h"
#include "platform/message_box.h"
#include "platform/send_message.h"

namespace torvek {

ProgressWindow::ProgressWindow(std::int32_t endpoint, ReportWriter& report)
    : endpoint_(endpoint), report_(report) {}

bool ProgressWindow::pollAbort(int stageCode) {
    const std::int32_t answer = platform::sendMessage(endpoint_, link::Message::kAbortPoll,
                                                      static_cast<std::uint32_t>(stageCode));
    if (answer == link::kAnswerNone)
        return false;
    abortAnswered_ = true;
    report_.setStyle(style::kAbortNotice);
    report_.print("Adjustment aborted by user\n");
    return true;
}

bool ProgressWindow::confirm(const char* text, const char* caption) {
    return platform::messageBox(endpoint_, text, caption, link::kWarningBoxStyle) ==
           link::kButtonOk;
}

}  // namespace torvek
