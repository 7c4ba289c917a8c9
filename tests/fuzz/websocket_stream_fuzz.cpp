// A stream of valid client frames built from the fuzz input: binary
// messages, some fragmented with pings and pongs between the fragments,
// random masks, every length form, and maybe a close. Cut into chunks at
// chosen points and fed to a Reader the way the server does, it must give
// back exactly the events built, in order, and nothing after the close.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <variant>
#include <vector>

#include "base/websocket_frame.hpp"
#include "websocket_feed.hpp"

using namespace vantu;
using vantu::fuzz::check;
using vantu::fuzz::Event;

namespace {

using Bytes = std::vector<std::uint8_t>;

template <class Alternative>
std::size_t kind() {
    return ws::Next(Alternative{}).index();
}

class StreamBuilder {
public:
    explicit StreamBuilder(FuzzedDataProvider& in) : in_(in) {}

    void message();
    void control(ws::Opcode opcode);
    void close();

    Bytes stream;
    std::vector<Event> expected;

private:
    Bytes payload(std::size_t budget);
    void frame(ws::Opcode opcode, bool final, const Bytes& payload);

    FuzzedDataProvider& in_;
};

// Short payloads mostly, now and then one of the 16-bit form, and rarely
// one of the 64-bit form, which within the message limit is the limit.
Bytes StreamBuilder::payload(std::size_t budget) {
    const int form = in_.ConsumeIntegralInRange(0, 15);
    std::size_t size = form == 15 ? ws::max_message
                     : form >= 12 ? in_.ConsumeIntegralInRange<std::size_t>(126, 2048)
                                  : in_.ConsumeIntegralInRange<std::size_t>(0, 125);
    size = std::min(size, budget);
    Bytes out = in_.ConsumeBytes<std::uint8_t>(size);
    out.resize(size, in_.ConsumeIntegral<std::uint8_t>());
    return out;
}

// The header as the server writes it, with FIN as asked and the mask bit.
void StreamBuilder::frame(ws::Opcode opcode, bool final, const Bytes& payload) {
    std::array<std::uint8_t, 10> header;
    const std::size_t size = ws::write_header(opcode, payload.size(), header);
    if (!final) header[0] &= 0x7F;
    header[1] |= 0x80;
    stream.insert(stream.end(), header.begin(), header.begin() + static_cast<long>(size));
    std::array<std::uint8_t, 4> mask;
    for (auto& byte : mask) byte = in_.ConsumeIntegral<std::uint8_t>();
    stream.insert(stream.end(), mask.begin(), mask.end());
    for (std::size_t i = 0; i < payload.size(); ++i) stream.push_back(payload[i] ^ mask[i % 4]);
}

void StreamBuilder::message() {
    const std::size_t pieces = in_.ConsumeIntegralInRange<std::size_t>(1, 4);
    Bytes whole;
    for (std::size_t i = 0; i < pieces; ++i) {
        const Bytes piece = payload(ws::max_message - whole.size());
        frame(i == 0 ? ws::Opcode::binary : ws::Opcode::continuation, i + 1 == pieces, piece);
        whole.insert(whole.end(), piece.begin(), piece.end());
        if (i + 1 < pieces && in_.ConsumeBool()) {
            control(in_.ConsumeBool() ? ws::Opcode::ping : ws::Opcode::pong);
        }
    }
    expected.push_back({kind<ws::Message>(), 0, whole});
}

// A ping or a pong; a pong's payload is not reported.
void StreamBuilder::control(ws::Opcode opcode) {
    Bytes payload = in_.ConsumeBytes<std::uint8_t>(in_.ConsumeIntegralInRange(0, 125));
    frame(opcode, true, payload);
    if (opcode == ws::Opcode::pong) payload.clear();
    const std::size_t reported = opcode == ws::Opcode::ping ? kind<ws::Ping>() : kind<ws::Pong>();
    expected.push_back({reported, 0, payload});
}

// A close with an allowed code and a short ASCII reason, or with none;
// then a frame that must be ignored.
void StreamBuilder::close() {
    constexpr std::uint16_t codes[] = {1000, 1001, 1002, 1003, 1007, 1008,
                                       1009, 1010, 1011, 3000, 4999};
    Bytes payload;
    std::uint16_t code = ws::close_code::no_status;
    if (in_.ConsumeBool()) {
        code = in_.PickValueInArray(codes);
        payload = {static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code)};
        for (const char c : in_.ConsumeBytesAsString(in_.ConsumeIntegralInRange(0, 20))) {
            payload.push_back(static_cast<std::uint8_t>(c & 0x7F));
        }
    }
    frame(ws::Opcode::close, true, payload);
    const auto reason = payload.begin() + (payload.empty() ? 0 : 2);
    expected.push_back({kind<ws::Close>(), code, Bytes(reason, payload.end())});
    frame(ws::Opcode::binary, true, Bytes{1, 2, 3});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    StreamBuilder built(in);
    const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(1, 8);
    for (std::size_t i = 0; i < count; ++i) {
        switch (in.ConsumeIntegralInRange(0, 3)) {
            case 0: built.control(ws::Opcode::ping); break;
            case 1: built.control(ws::Opcode::pong); break;
            default: built.message();
        }
    }
    if (in.ConsumeBool()) built.close();
    // Once the input is spent, reads of the server's usual size.
    const auto events = fuzz::feed(built.stream, [&] {
        return in.remaining_bytes() ? in.ConsumeIntegralInRange<std::size_t>(1, 512) : 1024;
    });
    check(events == built.expected);
    return 0;
}
