// A stream of valid frames, each in a form chosen by the fuzz input, arrives
// in chunks cut at arbitrary points. Feeding the chunks to parse_stream the
// way the serve loop does must give back exactly the frames sent, in order.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <variant>
#include <vector>

#include "frame_compare.hpp"
#include "frame_writer.hpp"

using namespace vantu;
using vantu::fuzz::check;

namespace {

// A field's value from the fuzz input, by the field's type.
void random_value(FuzzedDataProvider& in, bool& out) { out = in.ConsumeBool(); }
void random_value(FuzzedDataProvider& in, std::uint8_t& out) {
    out = in.ConsumeIntegral<std::uint8_t>();
}
void random_value(FuzzedDataProvider& in, float& out) {
    // Small integers half of the time, so that binary records occur.
    out = in.ConsumeBool() ? static_cast<float>(in.ConsumeIntegral<std::uint8_t>())
                           : std::bit_cast<float>(in.ConsumeIntegral<std::uint32_t>());
}
void random_value(FuzzedDataProvider& in, Coord& out) {
    for_each_field(coord_row, [&](const auto& f) { random_value(in, out.*(f.member)); });
}

// Any kind of the table, so that a new kind is fuzzed as soon as it has its row.
Frame random_frame(FuzzedDataProvider& in) {
    Frame frame{in.ConsumeIntegral<std::uint8_t>(), {}};
    with_widget_tag(in.ConsumeIntegralInRange<std::size_t>(0, widget_count - 1), [&](auto tag) {
        auto& event = frame.data.value.emplace<tag()>();
        for_each_field(widget_kind<tag()>, [&](const auto& f) { random_value(in, event.*(f.member)); });
    });
    return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<Frame> sent;
    std::vector<std::uint8_t> stream;
    const std::size_t count = in.ConsumeIntegralInRange(1, 8);
    for (std::size_t i = 0; i < count; ++i) {
        sent.push_back(random_frame(in));
        fuzz::FrameWriter(in, stream).frame(sent.back());
    }

    std::vector<std::uint8_t> buffer;
    std::size_t received = 0;
    std::size_t offset = 0;
    while (offset < stream.size()) {
        const std::size_t chunk = std::min<std::size_t>(
            in.ConsumeIntegralInRange<std::size_t>(1, 64), stream.size() - offset);
        buffer.insert(buffer.end(), stream.begin() + offset, stream.begin() + offset + chunk);
        offset += chunk;
        for (;;) {
            const auto result = Frame::parse_stream(buffer);
            if (std::holds_alternative<Incomplete>(result)) break;
            check(std::holds_alternative<Decoded>(result));
            const Decoded& decoded = std::get<Decoded>(result);
            check(received < sent.size() && fuzz::same_frame(decoded.frame, sent[received]));
            ++received;
            buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(decoded.used));
        }
    }
    check(received == sent.size() && buffer.empty());
    return 0;
}
