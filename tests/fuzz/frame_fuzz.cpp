// Frame::parse and Frame::parse_stream on arbitrary bytes: no crash, no
// sanitizer report, and the two entry points agree with each other.
#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>

#include "frame_compare.hpp"

using namespace vantu;
using vantu::fuzz::check;

namespace {

void check_decoded(std::span<const std::uint8_t> bytes, const Decoded& decoded) {
    check(decoded.used > 0 && decoded.used <= bytes.size());
    // The frame alone, and the frame with whatever followed, parse the same.
    for (const auto input : {bytes, bytes.first(decoded.used)}) {
        const auto parsed = Frame::parse(input);
        check(std::holds_alternative<Frame>(parsed) &&
              fuzz::same_frame(std::get<Frame>(parsed), decoded.frame));
    }
    // Any shorter part of it is still waiting for bytes.
    for (std::size_t cut = 0; cut < decoded.used; cut += 1 + cut / 8) {
        check(std::holds_alternative<Incomplete>(Frame::parse_stream(bytes.first(cut))));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const auto streamed = Frame::parse_stream(bytes);
    if (const auto* decoded = std::get_if<Decoded>(&streamed)) {
        check_decoded(bytes, *decoded);
        return 0;
    }
    const auto parsed = Frame::parse(bytes);
    check(std::holds_alternative<DecodeError>(parsed));
    const DecodeError& error = std::get<DecodeError>(parsed);
    check(!error.text.empty());
    if (std::holds_alternative<Incomplete>(streamed)) {
        check(error.truncated);
    } else {
        check(!error.truncated && std::get<DecodeError>(streamed).text == error.text);
    }
    return 0;
}
