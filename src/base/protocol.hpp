// The transport kinds a client may use. Only exposed to Python for now.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vantu {

enum class Protocol : std::uint8_t { WebSocket, Bluetooth, Http, Usb };
inline constexpr std::array<std::string_view, 4> protocol_names = {
    "WebSocket", "Bluetooth", "Http", "Usb",
};

}  // namespace vantu
