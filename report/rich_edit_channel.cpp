#include "report/rich_edit_channel.h"

#include <cstring>
#include <vector>

#include "platform/link_frame.h"
#include "platform/window_class.h"

namespace torvek {

RichEditChannel::RichEditChannel(std::int32_t window) : window_(window) {
    char name[64];
    if (platform::getClassName(window_, name, sizeof name) == 0 ||
        std::strcmp(name, kRichEditClass) != 0) {
        window_ = 0;
    }
}

std::int32_t RichEditChannel::sendMessage(std::uint32_t message, std::uint32_t wParam,
                                          const void* payload, std::uint32_t payloadLength) {
    if (window_ == 0)
        return 0;
    return platform::sendMessage(window_, message, wParam, payload, payloadLength);
}

int RichEditChannel::sendText(const char* text, bool rtf, bool atSelection) {
    if (text == nullptr)
        return 0;
    const std::size_t length = std::strlen(text);
    const std::uint32_t dataWord =
        (rtf ? kDataWordRtf : 0) + (atSelection ? kDataWordAtSelection : 0);
    const std::uint32_t byteCount = static_cast<std::uint32_t>(length + 1);  // with the terminator
    std::vector<unsigned char> payload(8 + byteCount);
    for (int i = 0; i < 4; ++i) {
        payload[i] = static_cast<unsigned char>(dataWord >> (8 * i));
        payload[4 + i] = static_cast<unsigned char>(byteCount >> (8 * i));
    }
    std::memcpy(payload.data() + 8, text, byteCount);
    std::int32_t result = sendMessage(platform::kMessageCopyData, 0, payload.data(),
                                      static_cast<std::uint32_t>(payload.size()));
    return result != 0 ? static_cast<int>(length) : 0;
}

}  // namespace torvek
