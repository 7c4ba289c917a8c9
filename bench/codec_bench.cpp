// Decode and encode cost of the frame codec next to msgpack-cxx doing the
// same work on the same bytes, with the ratios against the targets (decode
// at most 0.3 of msgpack-cxx's time, encode at most 0.5).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <vector>
#include <msgpack.hpp>
#include <string>

#include "base/frame.hpp"
#include "base/result_frame.hpp"

namespace {

using namespace vantu;

// Frame worked example 1: ToggleButton from widget 3, switched on.
constexpr std::uint8_t toggle_frame[] = {0x92, 0x03, 0x81, 0xAC, 'T', 'o', 'g', 'g', 'l',
                                         'e',  'B',  'u',  't',  't', 'o', 'n', 0x91, 0xC3};

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

    bool complete() const { return ns_.size() == 4; }

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

}  // namespace

int main(int argc, char** argv) {
    if (!same_encoding()) {
        std::fprintf(stderr, "msgpack-cxx and ResultFrame::encode disagree on the bytes\n");
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
    return 0;
}
