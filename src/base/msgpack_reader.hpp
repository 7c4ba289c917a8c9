// A cursor over the bytes of one MessagePack value. It reads markers and
// the fixed-width fields behind them; every read checks the bytes that are
// actually left, so a declared length is never trusted. Running out of bytes
// throws decode::Failure with the truncation text of the field being read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/decode_failure.hpp"

namespace vantu::msgpack {

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> input)
        : begin_(input.data()), pos_(input.data()), end_(input.data() + input.size()) {}

    std::size_t consumed() const { return static_cast<std::size_t>(pos_ - begin_); }

    std::uint8_t read_marker() {
        if (pos_ == end_) decode::fail_marker_eof();
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

    // The next `length` bytes; fails when fewer are left.
    std::span<const std::uint8_t> read_payload(std::uint64_t length) {
        if (length > static_cast<std::size_t>(end_ - pos_)) decode::fail_payload_eof();
        const std::span<const std::uint8_t> bytes(pos_, static_cast<std::size_t>(length));
        pos_ += length;
        return bytes;
    }

private:
    std::uint32_t read_wide_length(std::uint8_t marker);

    // A big-endian unsigned field of `width` bytes (1, 2, 4 or 8).
    std::uint64_t read_be(std::size_t width) {
        if (width > static_cast<std::size_t>(end_ - pos_)) decode::fail_data_eof();
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i) value = value << 8 | pos_[i];
        pos_ += width;
        return value;
    }

    const std::uint8_t* begin_;
    const std::uint8_t* pos_;
    const std::uint8_t* end_;
};

}  // namespace vantu::msgpack
