// Arbitrary bytes into a WebSocket Reader: no crash, no sanitizer report,
// `used` and every span within bounds, and the same events whether the
// bytes come at once or cut at chosen points.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "websocket_feed.hpp"

using namespace vantu;
using vantu::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<std::size_t> cuts(in.ConsumeIntegralInRange<std::size_t>(0, 16));
    for (auto& cut : cuts) cut = in.ConsumeIntegral<std::uint16_t>();
    const std::vector<std::uint8_t> stream = in.ConsumeRemainingBytes<std::uint8_t>();
    for (auto& cut : cuts) cut %= stream.size() + 1;
    cuts.push_back(stream.size());
    std::sort(cuts.begin(), cuts.end());

    std::vector<std::size_t> chunks;
    std::size_t at = 0;
    for (const std::size_t cut : cuts) {
        if (cut > at) chunks.push_back(cut - at);
        at = std::max(at, cut);
    }

    const auto whole = fuzz::feed(stream, [&] { return stream.size(); });
    std::size_t taken = 0;
    const auto split = fuzz::feed(stream, [&] {
        return taken < chunks.size() ? chunks[taken++] : stream.size();
    });
    check(whole == split);
    return 0;
}
