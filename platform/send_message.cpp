#include "platform/send_message.h"

#include "link/endpoint_io.h"

namespace torvek::platform {

std::int32_t sendMessage(std::int32_t endpoint, link::Message message, std::uint32_t wParam,
                         std::string_view payload) {
    std::int32_t answer = link::kAnswerNone;
    link::exchangeFrame(endpoint, message, wParam, payload, answer);
    return answer;
}

}  // namespace torvek::platform
