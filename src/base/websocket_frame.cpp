// Building the frames the server sends.
#include "base/websocket_frame.hpp"

#include <algorithm>

namespace vantu::ws {
namespace {

void put_be(std::span<std::uint8_t> out, std::uint64_t value) {
    for (std::size_t i = out.size(); i-- > 0; value >>= 8) {
        out[i] = static_cast<std::uint8_t>(value);
    }
}

bool is_continuation_byte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::size_t write_header(Opcode opcode, std::uint64_t length, std::span<std::uint8_t, 10> out) {
    out[0] = fin_bit | static_cast<std::uint8_t>(opcode);
    if (length < 126) {
        out[1] = static_cast<std::uint8_t>(length);
        return 2;
    }
    if (length <= 0xFFFF) {
        out[1] = 126;
        put_be(out.subspan<2, 2>(), length);
        return 4;
    }
    out[1] = 127;
    put_be(out.subspan<2, 8>(), length);
    return 10;
}

ControlFrame close_frame(std::uint16_t code, std::string_view reason) {
    std::size_t keep = std::min(reason.size(), max_control_payload - 2);
    while (keep < reason.size() && keep > 0 && is_continuation_byte(reason[keep])) --keep;
    std::array<std::uint8_t, max_control_payload> payload;
    put_be(std::span(payload).first(2), code);
    std::copy_n(reason.begin(), keep, payload.begin() + 2);
    return control_frame(Opcode::close, std::span(payload).first(2 + keep));
}

ControlFrame control_frame(Opcode opcode, std::span<const std::uint8_t> payload) {
    ControlFrame frame;
    const std::size_t length = std::min(payload.size(), max_control_payload);
    frame.bytes[0] = fin_bit | static_cast<std::uint8_t>(opcode);
    frame.bytes[1] = static_cast<std::uint8_t>(length);
    std::copy_n(payload.begin(), length, frame.bytes.begin() + 2);
    frame.size = 2 + length;
    return frame;
}

}  // namespace vantu::ws
