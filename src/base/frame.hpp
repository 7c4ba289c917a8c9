// The incoming frame and its MessagePack decoding; the outgoing result frame
// and its encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "base/widget_registry.hpp"

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
// The bytes hold a prefix of a frame and nothing wrong so far.
struct Incomplete {};

struct Frame {
    std::uint8_t id = 0;
    WidgetRegistry data;

    std::string identity() const { return std::string(identity_key().view()); }
    IdentityKey identity_key() const { return {data.name_view(), id}; }

    // Decodes one frame from the start of `bytes`; whatever follows it is
    // ignored.
    static std::variant<Frame, DecodeError> parse(std::span<const std::uint8_t> bytes);

    // For the serve loop: decodes the first frame of the bytes received so
    // far and tells how many bytes it used, or that more bytes are needed.
    static std::variant<Decoded, Incomplete, DecodeError> parse_stream(
        std::span<const std::uint8_t> bytes);
};

struct Decoded {
    Frame frame;
    std::size_t used = 0;
};

// Collects encoded bytes. Result frames are small: they are built in inline
// storage and spill to the heap only for a long error text.
class ByteSink {
public:
    ByteSink() = default;
    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;

    void push(std::uint8_t byte) { reserve(1); data_[size_++] = byte; }
    void append(const void* bytes, std::size_t count);
    // Makes room for `count` more bytes and returns them for the caller to
    // fill, so an encoder that knows its size writes without checks.
    std::span<std::uint8_t> extend(std::size_t count) {
        reserve(count);
        const std::span<std::uint8_t> room(data_ + size_, count);
        size_ += count;
        return room;
    }
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    void reserve(std::size_t more) {
        if (size_ + more > capacity_) grow(size_ + more);
    }
    void grow(std::size_t needed);

    std::uint8_t inline_[64];
    std::vector<std::uint8_t> heap_;
    std::uint8_t* data_ = inline_;
    std::size_t size_ = 0;
    std::size_t capacity_ = sizeof inline_;
};

struct ResultFrame {
    std::uint8_t id = 0;
    ServerStatus status = ServerStatus::NotInit;
    ResultRegistry data;

    // The MessagePack bytes: [id, status name, {variant name: [field]}].
    void encode(ByteSink& out) const;
    std::vector<std::uint8_t> bufferize() const;
};

}  // namespace vantu
