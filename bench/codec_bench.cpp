// Decode and encode cost of the frame codec next to msgpack-cxx doing the
// same work on the same bytes, with the ratios against the targets (decode
// at most 0.3 of msgpack-cxx's time, encode at most 0.5); and a burst of
// frames decoded as it arrives cut into pieces, next to the same burst
// decoded whole.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>
#include <msgpack.hpp>
#include <span>
#include <string>
#include <vector>

#include "base/frame.hpp"
#include "base/result_frame.hpp"

namespace {

using namespace vantu;

// Frame worked example 1: ToggleButton from widget 3, switched on.
constexpr std::uint8_t toggle_frame[] = {0x92, 0x03, 0x81, 0xAC, 'T', 'o', 'g', 'g', 'l',
                                         'e',  'B',  'u',  't',  't', 'o', 'n', 0x91, 0xC3};

// Frame worked example 2: Joystick from widget 7, (0.5, -1) at 0.75.
constexpr std::uint8_t joystick_frame[] = {0x92, 0x07, 0x81, 0xA8, 'J',  'o',  'y',  's',
                                           't',  'i',  'c',  'k',  0x92, 0x92, 0xCA, 0x3F,
                                           0x00, 0x00, 0x00, 0xCA, 0xBF, 0x80, 0x00, 0x00,
                                           0xCA, 0x3F, 0x40, 0x00, 0x00};

// 256 frames back to back, toggles and joysticks taking turns: about 6 KiB.
const std::vector<std::uint8_t> burst = [] {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 128; ++i) {
        bytes.insert(bytes.end(), std::begin(toggle_frame), std::end(toggle_frame));
        bytes.insert(bytes.end(), std::begin(joystick_frame), std::end(joystick_frame));
    }
    return bytes;
}();

// Decodes the burst as the serve loop does when its bytes arrive `step` at
// a time: after each arrival, every complete frame, then the partial one
// waits for the next. Returns the number of frames decoded.
std::size_t decode_arriving(std::size_t step) {
    const std::span<const std::uint8_t> stream(burst);
    std::size_t start = 0;
    std::size_t frames = 0;
    for (std::size_t end = 0; end < stream.size();) {
        end = std::min(end + step, stream.size());
        while (start < end) {
            const auto result = Frame::parse_stream(stream.subspan(start, end - start));
            const auto* decoded = std::get_if<Decoded>(&result);
            if (!decoded) break;
            start += decoded->used;
            ++frames;
        }
    }
    return frames;
}

void burst_arriving(benchmark::State& state, std::size_t step) {
    for (auto _ : state) benchmark::DoNotOptimize(decode_arriving(step));
}

void split_every_byte(benchmark::State& state) { burst_arriving(state, 1); }
void split_1024_reads(benchmark::State& state) { burst_arriving(state, 1024); }
void burst_whole(benchmark::State& state) { burst_arriving(state, burst.size()); }

// Result worked example 1: id 1, Idle, ConfirmResult(true).
const ResultFrame confirm_frame{1, ServerStatus::Idle, result::ConfirmResult{true}};

void msgpack_pack_confirm(msgpack::sbuffer& buffer) {
    msgpack::packer<msgpack::sbuffer> packer(buffer);
    packer.pack_array(3);
    packer.pack_uint8(1);
    packer.pack_str(4);
    packer.pack_str_body("Idle", 4);
    packer.pack_map(1);
    packer.pack_str(13);
    packer.pack_str_body("ConfirmResult", 13);
    packer.pack_array(1);
    packer.pack_true();
}

void decode_parse(benchmark::State& state) {
    for (auto _ : state) {
        auto result = Frame::parse(toggle_frame);
        benchmark::DoNotOptimize(result);
    }
}

void decode_msgpack_unpack(benchmark::State& state) {
    for (auto _ : state) {
        msgpack::object_handle handle =
            msgpack::unpack(reinterpret_cast<const char*>(toggle_frame), sizeof toggle_frame);
        benchmark::DoNotOptimize(handle.get());
    }
}

void encode_byte_sink(benchmark::State& state) {
    for (auto _ : state) {
        ByteSink sink;
        confirm_frame.encode(sink);
        benchmark::DoNotOptimize(sink.bytes().data());
        benchmark::ClobberMemory();
    }
}

void encode_msgpack_sbuffer(benchmark::State& state) {
    for (auto _ : state) {
        msgpack::sbuffer buffer;
        msgpack_pack_confirm(buffer);
        benchmark::DoNotOptimize(buffer.data());
        benchmark::ClobberMemory();
    }
}

BENCHMARK(decode_parse);
BENCHMARK(decode_msgpack_unpack);
BENCHMARK(encode_byte_sink);
BENCHMARK(encode_msgpack_sbuffer);
BENCHMARK(split_every_byte);
BENCHMARK(split_1024_reads);
BENCHMARK(burst_whole);

// Keeps each benchmark's time per operation (the median when repeated).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool plain = run.run_type == Run::RT_Iteration;
            if (plain || run.aggregate_name == "median") {
                ns_[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
    }

    void print_ratio(const char* ours, const char* theirs, double target) const {
        const double ratio = ns_.at(ours) / ns_.at(theirs);
        std::printf("%-16s %8.1f ns   %-22s %8.1f ns   ratio %.3f (target <= %.1f: %s)\n", ours,
                    ns_.at(ours), theirs, ns_.at(theirs), ratio, target,
                    ratio <= target ? "met" : "MISSED");
    }

    // A comparison without a target: how much the cuts cost.
    void print_relative(const char* ours, const char* theirs) const {
        std::printf("%-16s %8.1f ns   %-22s %8.1f ns   ratio %.3f\n", ours, ns_.at(ours), theirs,
                    ns_.at(theirs), ns_.at(ours) / ns_.at(theirs));
    }

    bool complete() const { return ns_.size() == 7; }

private:
    std::map<std::string, double> ns_;
};

// The comparison is only fair if both sides produce the same bytes.
bool same_encoding() {
    msgpack::sbuffer buffer;
    msgpack_pack_confirm(buffer);
    ByteSink sink;
    confirm_frame.encode(sink);
    const auto ours = sink.bytes();
    return std::string(buffer.data(), buffer.size()) == std::string(ours.begin(), ours.end());
}

// Cut or whole, the burst gives all of its frames.
bool burst_decodes_whole() {
    for (const std::size_t step : {std::size_t{1}, std::size_t{1024}, burst.size()}) {
        if (decode_arriving(step) != 256) return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!same_encoding()) {
        std::fprintf(stderr, "msgpack-cxx and ResultFrame::encode disagree on the bytes\n");
        return 1;
    }
    if (!burst_decodes_whole()) {
        std::fprintf(stderr, "the burst does not decode into its 256 frames\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (!reporter.complete()) return 0;
    std::printf("\n");
    reporter.print_ratio("decode_parse", "decode_msgpack_unpack", 0.3);
    reporter.print_ratio("encode_byte_sink", "encode_msgpack_sbuffer", 0.5);
    reporter.print_relative("split_every_byte", "burst_whole");
    reporter.print_relative("split_1024_reads", "burst_whole");
    return 0;
}
