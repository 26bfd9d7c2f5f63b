#pragma once
// The synchronous message send of the host platform, spoken over the front-end link.
#include <cstdint>
#include <string_view>

#include "link/messages.h"

namespace torvek::platform {

/// Sends `message` with `wParam` and `payload` to `endpoint` (an inherited socket descriptor; 0
/// means none) and waits for the answer. Returns the endpoint's answer, or 0 when the send failed,
/// exactly like a send to a destroyed window.
std::int32_t sendMessage(std::int32_t endpoint, link::Message message, std::uint32_t wParam,
                         std::string_view payload = {});

}  // namespace torvek::platform
