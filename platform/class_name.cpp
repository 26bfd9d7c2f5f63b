#include "platform/class_name.h"

#include <algorithm>
#include <string>

#include "link/endpoint_io.h"

namespace torvek::platform {

int getClassName(std::int32_t endpoint, char* name, std::size_t size) {
    if (name == nullptr || size == 0)
        return 0;
    name[0] = '\0';
    std::string received;
    if (!link::queryClassName(endpoint, received))
        return 0;
    const std::size_t kept = std::min(received.size(), size - 1);
    received.copy(name, kept);
    name[kept] = '\0';
    return static_cast<int>(kept);
}

}  // namespace torvek::platform
