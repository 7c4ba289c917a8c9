// The entry points of frame decoding: no exception leaves them.
#include "base/frame.hpp"

#include <new>

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

std::variant<Frame, DecodeError> Frame::parse(std::span<const std::uint8_t> bytes) {
    auto result = parse_stream(bytes);
    if (auto* decoded = std::get_if<Decoded>(&result)) return decoded->frame;
    if (auto* incomplete = std::get_if<Incomplete>(&result)) {
        return DecodeError{std::string(incomplete->text), true};
    }
    return std::move(std::get<DecodeError>(result));
}

}  // namespace vantu
