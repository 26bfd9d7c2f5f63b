#include "report/rich_edit_channel.h"

#include <string_view>

#include "link/frame_codec.h"
#include "platform/class_name.h"
#include "platform/send_message.h"

namespace torvek {

RichEditChannel::RichEditChannel(std::int32_t endpoint) : endpoint_(endpoint) {
    char name[link::kMaxClassNameLength + 1];
    if (platform::getClassName(endpoint_, name, sizeof name) == 0 ||
        std::string_view(name) != link::kReportClassName) {
        endpoint_ = 0;
    }
}

std::int32_t RichEditChannel::sendMessage(link::Message message, std::uint32_t wParam,
                                          std::string_view payload) {
    if (endpoint_ == 0)
        return 0;
    return platform::sendMessage(endpoint_, message, wParam, payload);
}

int RichEditChannel::sendText(const char* text, bool rtf, bool atSelection) {
    if (text == nullptr)
        return 0;
    const std::string_view piece(text);
    const std::uint32_t dataWord =
        (rtf ? link::kDataWordRtf : 0) + (atSelection ? link::kDataWordAtSelection : 0);
    const std::int32_t result =
        sendMessage(link::Message::kReportPiece, 0, link::encodeReportPiece(dataWord, piece));
    return result != 0 ? static_cast<int>(piece.size()) : 0;
}

}  // namespace torvek
