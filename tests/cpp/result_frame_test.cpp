// Result frames, byte for byte: the encoder itself. The Python tests check
// the same bytes as callback() puts them on a socket.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <ostream>
#include <span>
#include <string>
#include <utility>

#include "base/result_frame.hpp"
#include "test_bytes.hpp"

namespace vantu::test {
namespace {

struct Case {
    const char* name;
    ResultFrame frame;
    Bytes expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

ResultFrame confirm(std::uint8_t id, ServerStatus status, bool value) {
    return {id, status, result::ConfirmResult{value}};
}
ResultFrame error(std::uint8_t id, ServerStatus status, std::string text) {
    static std::deque<std::string> texts;  // what the table's frames view
    return {id, status, result::ErrorResult{texts.emplace_back(std::move(text))}};
}

const Bytes confirm_key = hex("81") + str("ConfirmResult") + hex("91");
const Bytes error_key = hex("81") + str("ErrorResult") + hex("91");
const Bytes idle = str("Idle");

class ResultEncoding : public testing::TestWithParam<Case> {};

TEST_P(ResultEncoding, ExactBytes) {
    ByteSink sink;
    GetParam().frame.encode(sink);
    const Bytes encoded(sink.bytes().begin(), sink.bytes().end());
    EXPECT_EQ(to_hex(encoded), to_hex(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(ResultFrame, ResultEncoding, testing::Values(
    Case{"Example1", confirm(1, ServerStatus::Idle, true),
         hex("93 01 A4 49 64 6C 65 81 AD 43 6F 6E 66 69 72 6D 52 65 73 75 6C 74 91 C3")},
    Case{"Example2", error(200, ServerStatus::Error, "boom"),
         hex("93 CC C8 A5 45 72 72 6F 72 81 AB 45 72 72 6F 72 52 65 73 75 6C 74 91 A4 62 6F 6F 6D")},
    Case{"Id0", confirm(0, ServerStatus::Idle, true), hex("93 00") + idle + confirm_key + hex("C3")},
    Case{"Id127", confirm(127, ServerStatus::Idle, true), hex("93 7F") + idle + confirm_key + hex("C3")},
    Case{"Id128", confirm(128, ServerStatus::Idle, true), hex("93 CC 80") + idle + confirm_key + hex("C3")},
    Case{"NotInit", confirm(1, ServerStatus::NotInit, false),
         hex("93 01 A7") + raw("NotInit") + confirm_key + hex("C2")},
    Case{"Busy", confirm(1, ServerStatus::Busy, false), hex("93 01 A4") + raw("Busy") + confirm_key + hex("C2")},
    Case{"EmptyError", error(1, ServerStatus::Idle, ""), hex("93 01") + idle + error_key + hex("A0")},
    Case{"Error31", error(1, ServerStatus::Idle, std::string(31, 'e')),
         hex("93 01") + idle + error_key + hex("BF") + Bytes(31, 'e')},
    Case{"Error32", error(1, ServerStatus::Idle, std::string(32, 'e')),
         hex("93 01") + idle + error_key + hex("D9 20") + Bytes(32, 'e')},
    Case{"Error255", error(1, ServerStatus::Idle, std::string(255, 'e')),
         hex("93 01") + idle + error_key + hex("D9 FF") + Bytes(255, 'e')},
    Case{"Error256", error(1, ServerStatus::Idle, std::string(256, 'e')),
         hex("93 01") + idle + error_key + hex("DA 01 00") + Bytes(256, 'e')},
    Case{"Error65535", error(1, ServerStatus::Idle, std::string(65535, 'e')),
         hex("93 01") + idle + error_key + hex("DA FF FF") + Bytes(65535, 'e')},
    Case{"Error65536", error(1, ServerStatus::Idle, std::string(65536, 'e')),
         hex("93 01") + idle + error_key + hex("DB 00 01 00 00") + Bytes(65536, 'e')},
    Case{"NonAsciiCountsBytes", error(1, ServerStatus::Idle, "\u00e9\u00e9\u00e9\u20ac"),
         hex("93 01") + idle + error_key + hex("A9 C3 A9 C3 A9 C3 A9 E2 82 AC")}
), [](const auto& info) { return std::string(info.param.name); });

TEST(ByteSink, KeepsBytesAcrossTheSpillToTheHeap) {
    ByteSink sink;
    Bytes expected;
    for (std::size_t i = 0; i < 1000; ++i) {
        // Runs of 1 to 7 bytes, so that the spill comes in the middle of one.
        const std::span<std::uint8_t> room = sink.extend(i % 7 + 1);
        for (std::uint8_t& byte : room) {
            byte = static_cast<std::uint8_t>(expected.size() * 7);
            expected.push_back(byte);
        }
    }
    EXPECT_EQ(Bytes(sink.bytes().begin(), sink.bytes().end()), expected);
}

}  // namespace
}  // namespace vantu::test
