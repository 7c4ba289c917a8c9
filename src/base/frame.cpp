// The entry points of frame decoding: no exception leaves them.
#include "base/frame.hpp"

#include <new>
#include <utility>

#include "base/decode_failure.hpp"
#include "base/frame_decoder.hpp"

namespace vantu {

std::variant<Frame, DecodeError> Frame::parse(std::span<const std::uint8_t> bytes) {
    try {
        return FrameDecoder(bytes).decode();
    } catch (decode::Failure& failure) {
        return std::move(failure.error);
    } catch (const std::bad_alloc&) {
        return DecodeError{"out of memory"};
    }
}

std::variant<Decoded, Incomplete, DecodeError> Frame::parse_stream(
    std::span<const std::uint8_t> bytes) {
    try {
        FrameDecoder decoder(bytes);
        Frame frame = decoder.decode();
        return Decoded{frame, decoder.consumed()};
    } catch (decode::Failure& failure) {
        // Running out of bytes is the only fault that more bytes can cure.
        if (failure.error.truncated) return Incomplete{};
        return std::move(failure.error);
    } catch (const std::bad_alloc&) {
        return DecodeError{"out of memory"};
    }
}

}  // namespace vantu
