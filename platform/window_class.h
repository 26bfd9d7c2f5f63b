#pragma once
#include <cstddef>
#include <cstdint>

namespace torvek::platform {

/// Largest class name the query accepts, without terminator (the buffer holds 64 bytes).
inline constexpr int kMaxClassNameLength = 63;

/// Asks the endpoint `window` for its class name. Writes at most `size` - 1 bytes plus a terminator
/// into `name` and returns the name's length; returns 0 (and an empty name) when the query fails or
/// the answered length is not in 1..63.
int getClassName(std::int32_t window, char* name, std::size_t size);

}  // namespace torvek::platform
