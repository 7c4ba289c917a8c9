// The client frame reader: a header is judged as soon as its bytes are
// there, so that a hostile length is refused before any payload is awaited.
#include "base/websocket_reader.hpp"

#include <algorithm>

#include "base/utf8.hpp"

namespace vantu::ws {
namespace {

constexpr std::uint8_t rsv_bits = 0x70;
constexpr std::uint8_t opcode_bits = 0x0F;
constexpr std::uint8_t mask_bit = 0x80;
constexpr std::uint8_t length_bits = 0x7F;
constexpr std::uint8_t control_bit = 0x08;

// Bit n: opcode n is defined.
constexpr unsigned defined_opcodes = 1u << 0 | 1u << 1 | 1u << 2 | 1u << 8 | 1u << 9 | 1u << 10;

constexpr std::uint8_t op(Opcode opcode) { return static_cast<std::uint8_t>(opcode); }

std::uint64_t read_be(std::span<const std::uint8_t> bytes) {
    std::uint64_t value = 0;
    for (const std::uint8_t b : bytes) value = value << 8 | b;
    return value;
}

void unmask(std::span<std::uint8_t> payload, const std::array<std::uint8_t, 4>& mask) {
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] ^= mask[i & 3];
}

// The codes a peer may send: not the reserved 1004, nor 1005, 1006 and
// 1015, which stand for a missing code and for failures seen locally.
bool allowed_on_wire(std::uint16_t code) {
    if (code >= 3000) return code < 5000;
    return code >= 1000 && code <= 1014 && code != 1004 && code != 1005 && code != 1006;
}

}  // namespace

Next Reader::next(std::span<std::uint8_t> bytes, std::size_t& used) {
    used = 0;
    if (fault_) return *fault_;
    if (closed_) {
        used = bytes.size();
        return NeedMore{};
    }
    for (;;) {
        const std::span<std::uint8_t> rest = bytes.subspan(used);
        Header header;
        if (!read_header(rest, header)) break;
        // read_header saw the whole header and held the length to max_message.
        if (rest.size() - header.size < header.length) return NeedMore{};
        const auto payload = rest.subspan(header.size, static_cast<std::size_t>(header.length));
        unmask(payload, header.mask);
        used += header.size + payload.size();
        if (auto event = take(header, payload)) return *event;
    }
    if (fault_) return *fault_;
    return NeedMore{};
}

// Whether the whole header is there and acceptable; when not, fault_ tells
// which.
bool Reader::read_header(std::span<const std::uint8_t> bytes, Header& header) {
    if (bytes.size() < 2 || !check_first_bytes(bytes[0], bytes[1])) return false;
    header.fin = (bytes[0] & fin_bit) != 0;
    header.opcode = bytes[0] & opcode_bits;
    const std::uint8_t short_length = bytes[1] & length_bits;
    const std::size_t extended = short_length == 126 ? 2 : short_length == 127 ? 8 : 0;
    header.size = 2 + extended + header.mask.size();
    if (bytes.size() < 2 + extended) return false;
    header.length = extended ? read_be(bytes.subspan(2, extended)) : short_length;
    if (!check_length(header, extended) || bytes.size() < header.size) return false;
    std::copy_n(bytes.begin() + 2 + extended, header.mask.size(), header.mask.begin());
    return true;
}

bool Reader::check_first_bytes(std::uint8_t first, std::uint8_t second) {
    const std::uint8_t opcode = first & opcode_bits;
    if (first & rsv_bits) return fail(close_code::protocol_error, "reserved bits set");
    if (!(defined_opcodes >> opcode & 1)) {
        return fail(close_code::protocol_error, "reserved opcode");
    }
    if (!(second & mask_bit)) return fail(close_code::protocol_error, "unmasked frame");
    if (opcode & control_bit) {
        if (!(first & fin_bit)) return fail(close_code::protocol_error, "fragmented control frame");
        if ((second & length_bits) > max_control_payload) {
            return fail(close_code::protocol_error, "control frame too long");
        }
        return true;
    }
    if (opcode == op(Opcode::continuation) && !open_) {
        return fail(close_code::protocol_error, "continuation without a message");
    }
    if (opcode != op(Opcode::continuation) && open_) {
        return fail(close_code::protocol_error, "new message inside a fragmented one");
    }
    if (opcode == op(Opcode::text)) {
        return fail(close_code::unsupported_data, "text messages not accepted");
    }
    return true;
}

bool Reader::check_length(const Header& header, std::size_t extended) {
    if (extended == 8 && header.length >> 63) {
        return fail(close_code::protocol_error, "length with its top bit set");
    }
    if ((extended == 2 && header.length < 126) || (extended == 8 && header.length <= 0xFFFF)) {
        return fail(close_code::protocol_error, "length not in its shortest form");
    }
    const std::size_t before = header.opcode == op(Opcode::continuation) ? fragments_.size() : 0;
    if (header.length > max_message - before) {
        return fail(close_code::message_too_big, "message too big");
    }
    return true;
}

// What a whole frame reports; nullopt for a fragment taken in.
std::optional<Next> Reader::take(const Header& header, std::span<std::uint8_t> payload) {
    switch (static_cast<Opcode>(header.opcode)) {
        case Opcode::ping: return Ping{payload};
        case Opcode::pong: return Pong{};
        case Opcode::close: return read_close(payload);
        case Opcode::binary:
            if (header.fin) return Message{payload};
            fragments_.assign(payload.begin(), payload.end());
            open_ = true;
            return std::nullopt;
        default:  // a continuation: check_first_bytes let nothing else through
            fragments_.insert(fragments_.end(), payload.begin(), payload.end());
            if (!header.fin) return std::nullopt;
            open_ = false;
            return Message{fragments_};
    }
}

Next Reader::read_close(std::span<const std::uint8_t> payload) {
    closed_ = true;
    if (payload.empty()) return Close{close_code::no_status, {}};
    if (payload.size() == 1) {
        return set_fault(close_code::protocol_error, "close payload of one byte");
    }
    const auto code = static_cast<std::uint16_t>(read_be(payload.first(2)));
    if (!allowed_on_wire(code)) {
        return set_fault(close_code::protocol_error, "close code not allowed");
    }
    const auto reason = payload.subspan(2);
    if (utf8::validate(reason)) {
        return set_fault(close_code::invalid_payload, "close reason not UTF-8");
    }
    return Close{code, reason};
}

}  // namespace vantu::ws
