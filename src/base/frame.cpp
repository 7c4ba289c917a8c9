// The entry points of frame decoding: no exception leaves them.
#include "base/frame.hpp"

#include <new>
#include <utility>

#include "base/decode_failure.hpp"
#include "base/frame_decoder.hpp"

namespace vantu {

std::variant<Decoded, Incomplete, DecodeError> Frame::parse_stream(
    std::span<const std::uint8_t> bytes) {
    FrameDecoder decoder(bytes);
    try {
        Frame frame = decoder.decode();
        // Running out of bytes is the only fault that more bytes can cure.
        if (decoder.ran_out()) return Incomplete{decoder.shortfall()};
        return Decoded{frame, decoder.consumed()};
    } catch (decode::Failure& failure) {
        // A fault past the shortfall is not the first one.
        if (decoder.ran_out()) return Incomplete{decoder.shortfall()};
        return std::move(failure.error);
    } catch (const std::bad_alloc&) {
        return DecodeError{"out of memory"};
    }
}

// Not through parse_stream: a whole frame is this entry point's hot path.
std::variant<Frame, DecodeError> Frame::parse(std::span<const std::uint8_t> bytes) {
    FrameDecoder decoder(bytes);
    try {
        Frame frame = decoder.decode();
        if (!decoder.ran_out()) return frame;
    } catch (decode::Failure& failure) {
        if (!decoder.ran_out()) return std::move(failure.error);
    } catch (const std::bad_alloc&) {
        return DecodeError{"out of memory"};
    }
    return DecodeError{std::string(decoder.shortfall()), true};
}

}  // namespace vantu
