// The one-pass decoder behind Frame::parse: reads the MessagePack value
// straight into a Frame, accepting records by position, by field name or as
// binary, and reporting the first fault in input order. Running out of
// bytes is not thrown (a stream cuts frames all the time): the decode then
// stops quietly, and ran_out() tells.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/frame.hpp"
#include "base/msgpack_reader.hpp"

namespace vantu {

class FrameDecoder {
public:
    explicit FrameDecoder(std::span<const std::uint8_t> input) : reader_(input) {}

    // Decodes one frame from the front of the input; throws decode::Failure
    // for a fault found before the bytes ran out. When they ran out, the
    // frame returned is meaningless.
    Frame decode();
    std::size_t consumed() const { return reader_.consumed(); }
    bool ran_out() const { return reader_.ran_out(); }
    std::string_view shortfall() const { return reader_.shortfall(); }

private:
    template <class Record> void read_record(Record& out);
    template <class Record> void read_positional(Record& out, std::uint32_t count);
    // The forms other than the canonical fixarray stay out of line, so that
    // the canonical path compiles to lean code.
    template <class Record>
    [[gnu::noinline]] void read_other_record(Record& out, std::uint8_t marker);
    template <class Record> void read_named(Record& out, std::uint32_t count);
    template <class Record> void read_binary(Record& out, std::span<const std::uint8_t> bytes);

    void read_value(std::uint8_t& out) { out = read_u8(); }
    void read_value(bool& out) { out = read_bool(); }
    void read_value(float& out) { out = read_f32(); }
    void read_value(Coord& out) { read_record(out); }
    void read_value(WidgetRegistry& out);

    std::uint8_t read_u8();
    [[gnu::noinline]] std::uint8_t read_other_u8(std::uint8_t marker);
    bool read_bool();
    float read_f32();

    std::size_t read_variant_tag(std::uint8_t marker);
    void read_variant_fields(std::size_t tag, WidgetRegistry& out);
    // The position of the field a map key names, or -1 for an unknown name.
    int read_field_key(std::span<const std::string_view> fields);
    void skip_value();
    std::span<const std::uint8_t> read_payload(std::uint8_t marker) {
        return reader_.read_payload(reader_.read_length(marker));
    }

    // These throw what was found where `expected` should stand. They return
    // only when the bytes had run out; their callers then return a
    // placeholder, which no one reads.
    void reject(std::uint8_t marker, std::string_view expected);
    void reject_scalar(std::uint8_t marker, std::string_view expected);
    template <class T> void reject_number(T value, std::string_view expected);
    void reject_container(std::uint8_t marker, std::string_view found, std::string_view expected);

    // Every container entered costs one level; running out is an error, so
    // hostile nesting ends the decode instead of the stack.
    static constexpr std::uint16_t depth_limit = 1024;
    void enter_level();
    void leave_level() { ++depth_; }

    msgpack::Reader reader_;
    std::uint16_t depth_ = depth_limit;
};

}  // namespace vantu
