// Hostile sizes: declared lengths far beyond the bytes present, nesting
// beyond the depth limit, a small thread stack, and allocation counts.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <variant>

#include "alloc_counter.hpp"
#include "test_bytes.hpp"

namespace vantu::test {
namespace {

const Bytes toggle_on = hex("81") + str("ToggleButton") + hex("91 C3");
const Bytes example1 = hex("92 03") + toggle_on;

// A frame map whose first entry is skipped with `nested` as its value.
Bytes frame_skipping(const Bytes& nested) {
    return hex("83") + str("z") + nested + str("id") + hex("03") + str("data") + toggle_on;
}

// `levels` containers, each holding the next, around a nil.
Bytes nested_arrays(std::size_t levels) { return Bytes(levels, 0x91) + hex("C0"); }
Bytes nested_maps(std::size_t levels) {
    Bytes out;
    for (std::size_t i = 0; i < levels; ++i) out = out + hex("81 00");
    return out + hex("C0");
}

struct HugeCase {
    const char* name;
    Bytes input;
    std::string expected;
};

class HugeLength : public testing::TestWithParam<HugeCase> {};

const std::string payload_eof = "IO error while reading data: unexpected end of file";
const std::string marker_eof = "IO error while reading marker: failed to fill whole buffer";

TEST_P(HugeLength, FailsWithoutAllocatingTheDeclaredSize) {
    std::string text;
    const auto used = allocations_during([&] { text = parse_text(GetParam().input); });
    EXPECT_EQ(text, GetParam().expected);
    EXPECT_LT(used.bytes, 1024u);
}

INSTANTIATE_TEST_SUITE_P(Frame, HugeLength, testing::Values(
    HugeCase{"Str32Frame", hex("DB FF FF FF FF 41 42 43"), payload_eof},
    HugeCase{"Bin32Frame", hex("C6 FF FF FF FF 01 02 03"), payload_eof},
    HugeCase{"Str32VariantName", hex("92 03 81 DB FF FF FF FF 41 42 43"), payload_eof},
    HugeCase{"Bin32SkippedValue", frame_skipping(hex("C6 FF FF FF FF 01 02 03")), payload_eof},
    HugeCase{"Ext32SkippedValue", frame_skipping(hex("C9 FF FF FF FF 01 02 03")), payload_eof},
    HugeCase{"Array32Frame", hex("DD FF FF FF FF 03") + toggle_on,
             "array had incorrect length, expected 2"},
    HugeCase{"Array32FrameShort", hex("DD FF FF FF FF 03"), marker_eof},
    HugeCase{"Map32Frame", hex("DF FF FF FF FF A2 69 64 03"), marker_eof},
    HugeCase{"Array32Skipped", frame_skipping(hex("DD FF FF FF FF 01 02 03")), marker_eof},
    HugeCase{"Map32Skipped", frame_skipping(hex("DF FF FF FF FF 01 02 03")), marker_eof}
), [](const auto& info) { return std::string(info.param.name); });

TEST(DepthLimit, AllowsExactly1023Levels) {
    // The frame's own map is the first level.
    EXPECT_EQ(parse_text(frame_skipping(nested_arrays(1022))), "3 ToggleButton{true}");
    EXPECT_EQ(parse_text(frame_skipping(nested_maps(1022))), "3 ToggleButton{true}");
    EXPECT_EQ(parse_text(frame_skipping(nested_arrays(1023))), "depth limit exceeded");
    EXPECT_EQ(parse_text(frame_skipping(nested_maps(1023))), "depth limit exceeded");
}

TEST(DepthLimit, LevelsAreRestoredAfterEachSkippedValue) {
    // Many deep siblings: each one alone is within the limit.
    Bytes frame = hex("DE 00 66");
    for (int i = 0; i < 100; ++i) frame = frame + hex("CC") + Bytes{static_cast<std::uint8_t>(i + 2)} + nested_arrays(1000);
    frame = frame + str("id") + hex("03") + str("data") + toggle_on;
    EXPECT_EQ(parse_text(frame), "3 ToggleButton{true}");
}

TEST(DepthLimit, ExtValuesCountAsALevel) {
    EXPECT_EQ(parse_text(frame_skipping(Bytes(1022, 0x91) + hex("D4 01 02"))),
              "depth limit exceeded");
    EXPECT_EQ(parse_text(frame_skipping(Bytes(1021, 0x91) + hex("D4 01 02"))),
              "3 ToggleButton{true}");
}

// Runs `f` on a thread with the stack the serve loop is given.
void on_small_stack(std::function<void()> f) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    auto body = [](void* arg) -> void* {
        (*static_cast<std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, body, &f), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

TEST(DepthLimit, DeepNestingFailsOnASmallStack) {
    const Bytes arrays = frame_skipping(nested_arrays(20000));
    const Bytes maps = frame_skipping(nested_maps(20000));
    std::string arrays_text, maps_text, stream_text;
    on_small_stack([&] {
        arrays_text = parse_text(arrays);
        maps_text = parse_text(maps);
        stream_text = std::get<DecodeError>(Frame::parse_stream(arrays)).text;
    });
    EXPECT_EQ(arrays_text, "depth limit exceeded");
    EXPECT_EQ(maps_text, "depth limit exceeded");
    EXPECT_EQ(stream_text, "depth limit exceeded");
}

TEST(Allocation, SuccessfulDecodesAllocateNothing) {
    const Bytes frames[] = {
        example1,
        hex("92 07 81") + str("Joystick") + hex("92 92 CA 3F 00 00 00 CA BF 80 00 00 CA 3F 40 00 00"),
        frame_skipping(hex("92 DA 01 00") + Bytes(256, 'x') + hex("C6 00 00 01 00") + Bytes(256, 0)),
        frame_skipping(nested_maps(500)),
    };
    for (const Bytes& frame : frames) {
        const auto used = allocations_during([&] {
            EXPECT_TRUE(std::holds_alternative<Frame>(Frame::parse(frame)));
            EXPECT_TRUE(std::holds_alternative<Decoded>(Frame::parse_stream(frame)));
        });
        EXPECT_EQ(used.calls, 0u) << to_hex(frame);
    }
}

// Payloads beyond the inline scratch space go to the heap intact.
TEST(LongPayload, ExaminedInFull) {
    const std::string name(300, 'N');
    EXPECT_EQ(parse_text(hex("92 03 81") + str(name) + hex("90")),
              "unknown variant `" + name + "`, expected one of " + widget_list());
    EXPECT_EQ(parse_text(str(name + "\n")),
              "invalid type: string \"" + name + "\\n\", expected struct Frame");
    EXPECT_EQ(parse_text(frame_skipping(hex("C0")) + hex("00")), "3 ToggleButton{true}");
    const Bytes long_key = hex("82") + str(std::string(200, 'k')) + hex("C0") + str("id");
    EXPECT_EQ(parse_text(long_key + hex("03")), "missing field `data`");
}

}  // namespace
}  // namespace vantu::test
