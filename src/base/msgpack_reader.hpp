// A cursor over the bytes of one MessagePack value. It reads markers and
// the fixed-width fields behind them; every read checks the bytes that are
// actually left, so a declared length is never trusted. Running out of bytes
// is not thrown: the cursor remembers the first shortfall, and from then on
// every read finds nothing (see ran_out()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/texts.hpp"

namespace vantu::msgpack {

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> input)
        : begin_(input.data()), pos_(input.data()), end_(input.data() + input.size()) {}

    std::size_t consumed() const { return static_cast<std::size_t>(pos_ - begin_); }

    // Whether a read found fewer bytes than it needed: a stream may still
    // bring them. What was read after that is meaningless.
    bool ran_out() const { return !shortfall_.empty(); }
    // The text of the first shortfall, as a decode that cannot wait for more
    // bytes reports it; empty while none happened.
    std::string_view shortfall() const { return shortfall_; }

    // Past the end, the reserved marker 0xC1: no value starts with it, so
    // whoever reads it takes the rejecting path, which checks ran_out().
    std::uint8_t read_marker() {
        if (pos_ == end_) {
            run_out(texts::decode::marker_eof);
            return 0xC1;
        }
        return *pos_++;
    }

    // The value behind a marker of the UInt family (positive fixint, uint 8..64).
    std::uint64_t read_uint(std::uint8_t marker) {
        return marker < 0x80 ? marker : read_be(std::size_t{1} << (marker - 0xCC));
    }
    // The value behind a marker of the Int family (negative fixint, int 8..64).
    std::int64_t read_int(std::uint8_t marker);
    float read_f32();
    double read_f64();

    // The element, entry or byte count behind a marker of the Str, Bin,
    // Array, Map or Ext family (for ext: the length of its data).
    std::uint32_t read_length(std::uint8_t marker) {
        if (marker < 0xA0) return marker & 0x0F;  // fixmap, fixarray
        if (marker < 0xC0) return marker & 0x1F;  // fixstr
        return read_wide_length(marker);
    }

    // The type byte that opens an ext value's data.
    void read_ext_type() { read_be(1); }

    // The next `length` bytes; none when fewer are left.
    std::span<const std::uint8_t> read_payload(std::uint64_t length) {
        if (length > static_cast<std::size_t>(end_ - pos_)) {
            run_out(texts::decode::payload_eof);
            return {};
        }
        const std::span<const std::uint8_t> bytes(pos_, static_cast<std::size_t>(length));
        pos_ += length;
        return bytes;
    }

private:
    std::uint32_t read_wide_length(std::uint8_t marker);

    // Keeps the first shortfall's text, and leaves nothing to read after it.
    void run_out(std::string_view text) {
        if (shortfall_.empty()) shortfall_ = text;
        pos_ = end_;
    }

    // A big-endian unsigned field of `width` bytes (1, 2, 4 or 8); 0 when
    // fewer are left.
    std::uint64_t read_be(std::size_t width) {
        if (width > static_cast<std::size_t>(end_ - pos_)) {
            run_out(texts::decode::data_eof);
            return 0;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) value = value << 8 | pos_[i];
        pos_ += width;
        return value;
    }

    const std::uint8_t* begin_;
    const std::uint8_t* pos_;
    const std::uint8_t* end_;
    std::string_view shortfall_;
};

}  // namespace vantu::msgpack
