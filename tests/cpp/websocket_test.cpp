// The WebSocket frame reader, fed whole and byte by byte, and the frames
// the server writes.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <variant>

#include "base/websocket_frame.hpp"
#include "base/websocket_reader.hpp"
#include "test_bytes.hpp"

namespace vantu::test {
namespace {

// A client frame: the first byte as given, the payload masked.
Bytes masked(std::uint8_t first, const Bytes& payload) {
    std::array<std::uint8_t, 10> header;
    const std::size_t size = ws::write_header(ws::Opcode::binary, payload.size(), header);
    header[0] = first;
    header[1] |= 0x80;
    const Bytes mask = hex("37 FA 21 3D");
    Bytes out = Bytes(header.begin(), header.begin() + static_cast<long>(size)) + mask;
    for (std::size_t i = 0; i < payload.size(); ++i) out.push_back(payload[i] ^ mask[i % 4]);
    return out;
}

Bytes pattern(std::size_t size) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(i % 251);
    return out;
}

Bytes without_last(Bytes bytes) {
    bytes.pop_back();
    return bytes;
}

Bytes close_payload(int code, std::string_view reason = "") {
    const auto high = static_cast<std::uint8_t>(code >> 8), low = static_cast<std::uint8_t>(code);
    return Bytes{high, low} + raw(reason);
}

std::string message(const Bytes& payload) { return "message " + to_hex(payload) + "|"; }

// Each event as text, "|" after each; "" for NeedMore.
struct Describe {
    std::string operator()(ws::NeedMore) const { return ""; }
    std::string operator()(const ws::Message& m) const {
        return message(Bytes(m.payload.begin(), m.payload.end()));
    }
    std::string operator()(const ws::Ping& p) const { return "ping " + to_hex(p.payload) + "|"; }
    std::string operator()(ws::Pong) const { return "pong|"; }
    std::string operator()(const ws::Close& c) const {
        return "close " + std::to_string(c.code) + " " + to_hex(c.reason) + "|";
    }
    std::string operator()(const ws::Fault& f) const {
        return "fault " + std::to_string(f.code) + "|";
    }
};

// Feeds `input` in chunks of `chunk` bytes as a server does: appends the
// chunk, calls next() until NeedMore, drops what was used.
std::string read_all(const Bytes& input, std::size_t chunk) {
    ws::Reader reader;
    Bytes buffer;
    std::string events;
    for (std::size_t offset = 0; offset < input.size(); offset += chunk) {
        const auto end = input.begin() + static_cast<long>(std::min(input.size(), offset + chunk));
        buffer.insert(buffer.end(), input.begin() + static_cast<long>(offset), end);
        for (;;) {
            std::size_t used = 0;
            const ws::Next next = reader.next(buffer, used);
            EXPECT_LE(used, buffer.size());
            events += std::visit(Describe{}, next);
            if (std::holds_alternative<ws::Fault>(next)) return events;
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(used));
            if (std::holds_alternative<ws::NeedMore>(next)) break;
        }
    }
    return events;
}

struct FrameCase {
    const char* name;
    Bytes input;
    std::string expected;
};

const std::string hello = message(raw("Hello"));

const FrameCase frame_cases[] = {
    {"UnmaskedText", hex("81 05 48 65 6C 6C 6F"), "fault 1002|"},
    {"MaskedText", hex("81 85 37 FA 21 3D 7F 9F 4D 51 58"), "fault 1003|"},
    {"MaskedBinary", hex("82 85 37 FA 21 3D 7F 9F 4D 51 58"), hello},
    {"Fragmented", masked(0x02, raw("Hel")) + masked(0x80, raw("lo")), hello},
    {"ThreeFragments", masked(0x02, raw("He")) + masked(0x00, {}) + masked(0x80, raw("llo")),
     hello},
    {"Ping", masked(0x89, raw("Hello")), "ping 48 65 6C 6C 6F|"},
    {"UnmaskedPing", hex("89 05 48 65 6C 6C 6F"), "fault 1002|"},
    {"Pong", hex("8A 85 37 FA 21 3D 7F 9F 4D 51 58"), "pong|"},
    {"Binary256", masked(0x82, pattern(256)), message(pattern(256))},
    {"Binary64KiB", masked(0x82, pattern(65536)), message(pattern(65536))},
    {"TwoMessages", masked(0x82, raw("a")) + masked(0x82, {}), "message 61|message |"},
    {"ControlBetweenFragments",
     masked(0x02, raw("He")) + masked(0x89, raw("p")) + masked(0x00, raw("l")) + masked(0x8A, {}) +
         masked(0x80, raw("lo")),
     "ping 70|pong|" + hello},
    {"Unfinished", masked(0x02, raw("He")) + without_last(masked(0x80, raw("llo"))), ""},
    {"Ping125", masked(0x89, pattern(125)), "ping " + to_hex(pattern(125)) + "|"},
    {"LoneContinuation", masked(0x80, raw("x")), "fault 1002|"},
    {"BinaryInsideFragments", masked(0x02, raw("a")) + masked(0x82, raw("b")), "fault 1002|"},
    {"TextInsideFragments", masked(0x02, raw("a")) + masked(0x81, raw("b")), "fault 1002|"},
    {"FrameTooBig", hex("82 FF 00 00 00 00 00 01 00 01"), "fault 1009|"},
    {"MessageTooBig", masked(0x02, pattern(65536)) + hex("80 81"), "fault 1009|"},
    {"CloseEmpty", masked(0x88, {}) + masked(0x82, raw("after")), "close 1005 |"},
    {"CloseReason", masked(0x88, close_payload(1000, "bye")), "close 1000 62 79 65|"},
    {"CloseOneByte", masked(0x88, hex("03")), "fault 1002|"},
    {"CloseReasonNotUtf8", masked(0x88, close_payload(1000) + hex("C3 28")), "fault 1007|"},
};

class FrameRead : public testing::TestWithParam<FrameCase> {};

TEST_P(FrameRead, WholeAndByteByByte) {
    EXPECT_EQ(read_all(GetParam().input, GetParam().input.size()), GetParam().expected);
    EXPECT_EQ(read_all(GetParam().input, 1), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Ws, FrameRead, testing::ValuesIn(frame_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// Faults that the first bytes of a header show: RSV bits, reserved
// opcodes, a fragmented or long control frame, lengths in a longer form
// than needed or with the top bit set.
TEST(WsReader, HeaderFaults) {
    for (const char* header : {"C2 80", "A2 80", "92 80", "83 80", "87 80", "8B 80", "8F 80",
                               "09 80", "89 FE", "82 FE 00 7D", "82 FF 00 00 00 00 00 00 FF FF",
                               "82 FF 80 00 00 00 00 00 00 00"}) {
        EXPECT_EQ(read_all(hex(header), 1), "fault 1002|") << header;
    }
}

TEST(WsReader, CloseCodes) {
    for (const int code : {1000, 1001, 1003, 1007, 1011, 1012, 1013, 1014, 3000, 4999}) {
        EXPECT_EQ(read_all(masked(0x88, close_payload(code)), 1),
                  "close " + std::to_string(code) + " |");
    }
    for (const int code : {0, 999, 1004, 1005, 1006, 1015, 1016, 2999, 5000, 65535}) {
        EXPECT_EQ(read_all(masked(0x88, close_payload(code)), 1), "fault 1002|") << code;
    }
}

TEST(WsReader, FragmentsAreTakenAndAFaultRepeats) {
    ws::Reader reader;
    Bytes bytes = masked(0x02, raw("Hel")) + hex("83 80");
    std::size_t used = 0;
    const ws::Next first = reader.next(bytes, used);
    ASSERT_TRUE(std::holds_alternative<ws::Fault>(first));
    EXPECT_EQ(used, 9u);
    const ws::Next again = reader.next(bytes, used);
    ASSERT_TRUE(std::holds_alternative<ws::Fault>(again));
    EXPECT_EQ(std::get<ws::Fault>(again).code, std::get<ws::Fault>(first).code);
    EXPECT_EQ(used, 0u);
}

TEST(WsWriter, HeaderLengthForms) {
    const std::pair<std::uint64_t, std::string_view> cases[] = {
        {0, "82 00"}, {125, "82 7D"}, {126, "82 7E 00 7E"}, {65535, "82 7E FF FF"},
        {65536, "82 7F 00 00 00 00 00 01 00 00"}, {1ull << 32, "82 7F 00 00 00 01 00 00 00 00"},
    };
    for (const auto& [length, expected] : cases) {
        std::array<std::uint8_t, 10> out;
        const std::size_t size = ws::write_header(ws::Opcode::binary, length, out);
        EXPECT_EQ(to_hex(std::span(out).first(size)), to_hex(hex(expected))) << length;
    }
}

TEST(WsWriter, ControlFrames) {
    EXPECT_EQ(to_hex(ws::close_frame(1000, "bye").view()), "88 05 03 E8 62 79 65");
    EXPECT_EQ(to_hex(ws::control_frame(ws::Opcode::pong, raw("Hello")).view()),
              "8A 05 48 65 6C 6C 6F");
    EXPECT_EQ(ws::control_frame(ws::Opcode::ping, pattern(200)).view().size(), 127u);
    // 123 bytes would split the 62nd two-byte character.
    std::string reason;
    for (int i = 0; i < 70; ++i) reason += "\u00e9";
    const auto frame = ws::close_frame(1001, reason);
    EXPECT_EQ(to_hex(frame.view().first(4)), "88 7C 03 E9");
    EXPECT_EQ(frame.view().size(), 126u);
}

}  // namespace
}  // namespace vantu::test
