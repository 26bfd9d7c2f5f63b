#include "platform/window_class.h"

#include "platform/link_frame.h"

namespace torvek::platform {

int getClassName(std::int32_t window, char* name, std::size_t size) {
    if (name == nullptr || size == 0)
        return 0;
    name[0] = '\0';
    std::int32_t length = 0;
    if (!exchangeFrame(window, kMessageClassQuery, 0, nullptr, 0, length))
        return 0;
    // An answer outside 1..63 is a failure; the bytes of such an answer are not read, since a
    // channel that fails this query is never used again.
    if (length <= 0 || length > kMaxClassNameLength)
        return 0;
    char received[kMaxClassNameLength];
    if (!readFully(window, received, static_cast<std::size_t>(length)))
        return 0;
    std::size_t kept = static_cast<std::size_t>(length) < size - 1 ? length : size - 1;
    for (std::size_t i = 0; i < kept; ++i)
        name[i] = received[i];
    name[kept] = '\0';
    return static_cast<int>(kept);
}

}  // namespace torvek::platform
