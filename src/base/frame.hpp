// The incoming frame: its record, and its decoding from MessagePack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "base/identity_key.hpp"
#include "base/records.hpp"
#include "base/widget_kinds.hpp"

namespace vantu {

// Why a decode failed, with the exact text the rest of the system shows.
struct DecodeError {
    std::string text;
    // True when the bytes ended before the value was complete: in a stream
    // the rest of the frame may still arrive.
    bool truncated = false;
};

// One frame decoded from the front of a byte stream.
struct Decoded;
// The bytes hold a prefix of a frame and nothing wrong so far. `text` is
// what the frame fails with if no more bytes come: one of the frozen texts,
// so that a frame cut by a read costs no allocation.
struct Incomplete {
    std::string_view text;
};

struct Frame {
    std::uint8_t id = 0;
    WidgetRegistry data;

    IdentityKey identity() const { return {data.tag(), id}; }

    // Decodes one frame from the start of `bytes`; whatever follows it is
    // ignored.
    static std::variant<Frame, DecodeError> parse(std::span<const std::uint8_t> bytes);

    // For the serve loop: decodes the first frame of the bytes received so
    // far and tells how many bytes it used, or that more bytes are needed.
    static std::variant<Decoded, Incomplete, DecodeError> parse_stream(
        std::span<const std::uint8_t> bytes);
};

inline constexpr auto frame_row =
    record<Frame>("Frame", field("id", &Frame::id), field("data", &Frame::data));

struct Decoded {
    Frame frame;
    std::size_t used = 0;
};

}  // namespace vantu
