// SHA-1, for the one place the web needs it: the WebSocket handshake's
// accept value. Not for anything that must resist collisions.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace vantu {

std::array<std::uint8_t, 20> sha1(std::span<const std::uint8_t> bytes);

}  // namespace vantu
