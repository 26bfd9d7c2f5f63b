#pragma once
#include <cstddef>
#include <cstdint>

namespace torvek::platform {

/// Asks the endpoint `endpoint` for its class name. Writes at most `size` - 1 bytes plus a
/// terminator into `name` and returns the name's length; returns 0 (and an empty name) when the
/// query fails or the answered length is not in 1..link::kMaxClassNameLength.
int getClassName(std::int32_t endpoint, char* name, std::size_t size);

}  // namespace torvek::platform
