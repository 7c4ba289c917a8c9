// Base64 encoding (RFC 4648, standard alphabet, with padding), for the
// WebSocket handshake.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vantu {

inline constexpr std::string_view base64_alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Standard alphabet with padding.
std::string base64_encode(std::span<const std::uint8_t> bytes);

}  // namespace vantu
