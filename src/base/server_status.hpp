// The server's state, which every result frame carries to the client.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vantu {

enum class ServerStatus : std::uint8_t { NotInit, Idle, Busy, Error };
inline constexpr std::array<std::string_view, 4> server_status_names = {
    "NotInit", "Idle", "Busy", "Error",
};

}  // namespace vantu
