// Frame::parse_stream: a frame split anywhere is incomplete until its last
// byte arrives, then decodes with the exact byte count; real faults are
// reported as parse reports them.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "alloc_counter.hpp"
#include "test_bytes.hpp"

namespace vantu::test {
namespace {

const Bytes toggle_on = hex("81") + str("ToggleButton") + hex("91 C3");

// Valid frames covering every value family the decoder reads or skips.
const std::vector<Bytes>& valid_frames() {
    static const std::vector<Bytes> frames = {
        hex("92 03") + toggle_on,
        hex("82") + str("id") + hex("03") + str("data") + hex("81") + str("ToggleButton") +
            hex("81") + str("value") + hex("C3"),
        hex("92 07 81") + str("Joystick") +
            hex("92 92 CA 3F 00 00 00 CB BF F0 00 00 00 00 00 00 CA 3F 40 00 00"),
        hex("DC 00 02 CD 00 07 DE 00 01 05 92 82 A1 79 D3 00 00 00 00 00 00 00 01 A1 78 FF 01"),
        hex("92 04 81 C4 11") + raw("DirectionalButton") + hex("C4 02 05 06"),
        hex("84") + str("skip") + hex("93 C0 C7 02 01 AA BB D9 03 61 62 63") +
            hex("05 DD 00 00 00 02 D0 01 DF 00 00 00 01 A0 C6 00 00 00 01 FF") + str("id") +
            hex("01") + str("data") + hex("81 00 80"),
        hex("92 00 81 02 90"),
    };
    return frames;
}

// Without allocating: a frame cut by a read builds no text and throws nothing.
TEST(ParseStream, EveryStrictPrefixIsIncomplete) {
    for (const Bytes& frame : valid_frames()) {
        for (std::size_t cut = 0; cut < frame.size(); ++cut) {
            const Bytes prefix(frame.begin(), frame.begin() + static_cast<long>(cut));
            std::variant<Decoded, Incomplete, DecodeError> streamed;
            const auto used = allocations_during([&] { streamed = Frame::parse_stream(prefix); });
            ASSERT_TRUE(std::holds_alternative<Incomplete>(streamed)) << to_hex(prefix);
            EXPECT_EQ(used.calls, 0u) << to_hex(prefix);
            const auto parsed = Frame::parse(prefix);
            ASSERT_TRUE(std::holds_alternative<DecodeError>(parsed)) << to_hex(prefix);
            EXPECT_TRUE(std::get<DecodeError>(parsed).truncated) << to_hex(prefix);
            EXPECT_EQ(std::get<DecodeError>(parsed).text, std::get<Incomplete>(streamed).text);
        }
    }
}

TEST(ParseStream, CompleteFrameReportsBytesUsed) {
    for (const Bytes& frame : valid_frames()) {
        for (const Bytes& tail : {Bytes{}, hex("92"), hex("C1 C1 C1")}) {
            const auto result = Frame::parse_stream(frame + tail);
            ASSERT_TRUE(std::holds_alternative<Decoded>(result)) << to_hex(frame);
            const Decoded& decoded = std::get<Decoded>(result);
            EXPECT_EQ(decoded.used, frame.size()) << to_hex(frame);
            EXPECT_EQ(describe(decoded.frame), parse_text(frame));
        }
    }
}

TEST(ParseStream, BackToBackFramesComeOutInOrder) {
    Bytes stream;
    for (const Bytes& frame : valid_frames()) stream = stream + frame;
    std::span<const std::uint8_t> rest(stream);
    for (const Bytes& frame : valid_frames()) {
        const auto result = Frame::parse_stream(rest);
        ASSERT_TRUE(std::holds_alternative<Decoded>(result));
        EXPECT_EQ(describe(std::get<Decoded>(result).frame), parse_text(frame));
        rest = rest.subspan(std::get<Decoded>(result).used);
    }
    EXPECT_TRUE(rest.empty());
    EXPECT_TRUE(std::holds_alternative<Incomplete>(Frame::parse_stream(rest)));
}

TEST(ParseStream, FaultsOtherThanTruncationAreErrors) {
    const Bytes faults[] = {
        hex("91 03"), hex("92 CD 01 2C"), hex("C1"), hex("92 A5"),
        hex("92 03 82"), hex("A2 C3 28"), hex("80"),
    };
    for (const Bytes& input : faults) {
        const auto streamed = Frame::parse_stream(input);
        ASSERT_TRUE(std::holds_alternative<DecodeError>(streamed)) << to_hex(input);
        EXPECT_EQ(std::get<DecodeError>(streamed).text, parse_text(input));
        EXPECT_FALSE(std::get<DecodeError>(streamed).truncated);
    }
}

}  // namespace
}  // namespace vantu::test
