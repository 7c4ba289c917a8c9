// WebSocket frames (RFC 6455, version 13): the opcodes, the close codes, the
// size limits, and the frames the server sends, which are never masked nor
// fragmented.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vantu::ws {

inline constexpr std::size_t max_message = 64 * 1024;  // a larger message closes with 1009
inline constexpr std::size_t max_control_payload = 125;
// The first byte's bit that ends a message.
inline constexpr std::uint8_t fin_bit = 0x80;

enum class Opcode : std::uint8_t {
    continuation = 0, text = 1, binary = 2, close = 8, ping = 9, pong = 10,
};

namespace close_code {
inline constexpr std::uint16_t normal = 1000;
inline constexpr std::uint16_t going_away = 1001;
inline constexpr std::uint16_t protocol_error = 1002;
inline constexpr std::uint16_t unsupported_data = 1003;
inline constexpr std::uint16_t no_status = 1005;  // never sent: a close without a code
inline constexpr std::uint16_t invalid_payload = 1007;
inline constexpr std::uint16_t message_too_big = 1009;
inline constexpr std::uint16_t internal_error = 1011;
inline constexpr std::uint16_t try_again_later = 1013;
}  // namespace close_code

// The header of a server-to-client frame (FIN set, unmasked) for a payload
// of `length` bytes, below 2^63: writes 2, 4 or 10 bytes at the start of
// `out` and returns how many.
std::size_t write_header(Opcode opcode, std::uint64_t length, std::span<std::uint8_t, 10> out);

// A whole control frame, built without an allocation.
struct ControlFrame {
    std::array<std::uint8_t, 2 + max_control_payload> bytes{};
    std::size_t size = 0;

    std::span<const std::uint8_t> view() const { return {bytes.data(), size}; }
};

// A close frame with `code` and `reason`; a reason longer than 123 bytes
// is cut at a UTF-8 character boundary.
ControlFrame close_frame(std::uint16_t code, std::string_view reason);

// A ping or pong frame (or a close frame with a raw payload); a payload
// longer than 125 bytes is cut.
ControlFrame control_frame(Opcode opcode, std::span<const std::uint8_t> payload);

}  // namespace vantu::ws
