// Reading records, widget events and scalars into a Frame.
#include "base/frame_decoder.hpp"

#include <cstring>

#include "base/f32.hpp"
#include "base/msgpack_marker.hpp"
#include "base/texts.hpp"
#include "base/wire_records.hpp"

namespace vantu {

using decode::fail_invalid_type;
using decode::found_integer;
using msgpack::Family;
using msgpack::family_of;
namespace t = texts::decode;

namespace {

int index_of(std::span<const std::string_view> names, std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i].size() == bytes.size() &&
            std::memcmp(names[i].data(), bytes.data(), bytes.size()) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string_view as_text(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// A name that is not valid UTF-8 is tried as bytes, which cannot match
// either, so the fault reported is its encoding. Binary names are shown
// with their invalid sequences replaced.
[[noreturn]] void fail_unknown_name(std::span<const std::uint8_t> name, bool is_text) {
    if (!is_text) decode::fail_unknown_variant(utf8::lossy(name));
    if (const auto fault = utf8::validate(name)) decode::fail_utf8(*fault);
    decode::fail_unknown_variant(as_text(name));
}

// A record sent as binary gets its fields from the payload bytes, each taken
// as an unsigned integer.
void from_byte(std::uint8_t& out, std::uint8_t byte) { out = byte; }
void from_byte(float& out, std::uint8_t byte) { out = byte; }
void from_byte(bool&, std::uint8_t byte) {
    fail_invalid_type(found_integer(std::uint64_t{byte}), t::a_boolean);
}
void from_byte(Coord&, std::uint8_t byte) {
    fail_invalid_type(found_integer(std::uint64_t{byte}), wire::expecting<Coord>());
}
void from_byte(WidgetRegistry&, std::uint8_t byte) {
    fail_invalid_type(found_integer(std::uint64_t{byte}), t::widget_enum);
}

}  // namespace

Frame FrameDecoder::decode() {
    Frame frame;
    read_record(frame);
    return frame;
}

template <class Record>
void FrameDecoder::read_record(Record& out) {
    const std::uint8_t marker = reader_.read_marker();
    if ((marker & 0xF0) == 0x90) return read_positional(out, marker & 0x0Fu);
    read_other_record(out, marker);
}

template <class Record>
void FrameDecoder::read_other_record(Record& out, std::uint8_t marker) {
    switch (family_of(marker)) {
        case Family::Array: {
            const std::uint32_t count = reader_.read_length(marker);
            return ran_out() ? void() : read_positional(out, count);
        }
        case Family::Map: {
            const std::uint32_t count = reader_.read_length(marker);
            return ran_out() ? void() : read_named(out, count);
        }
        case Family::Bin: {
            const auto bytes = read_payload(marker);
            return ran_out() ? void() : read_binary(out, bytes);
        }
        default:
            // Before the text of what was expected is built.
            if (ran_out()) return;
            reject(marker, wire::expecting<Record>());
    }
}

template <class Record>
void FrameDecoder::read_positional(Record& out, std::uint32_t count) {
    constexpr std::size_t fields = wire::field_names<Record>.size();
    enter_level();
    for (std::size_t i = 0; i < fields; ++i) {
        if (i == count) {
            if (ran_out()) return;
            decode::fail_invalid_length(count, wire::length_text<Record>());
        }
        wire::visit(out, i, [&](auto& field) { read_value(field); });
    }
    // The extra elements are left unread: the error ends the decode anyway.
    if (count > fields && !ran_out()) decode::fail_length_mismatch(fields);
    leave_level();
}

template <class Record>
void FrameDecoder::read_named(Record& out, std::uint32_t count) {
    const std::span<const std::string_view> names = wire::field_names<Record>;
    enter_level();
    unsigned seen = 0;  // bit i: field i was given
    for (std::uint32_t entry = 0; entry < count; ++entry) {
        const int i = read_field_key(names);
        // Also ends an entry count that the bytes cannot hold.
        if (ran_out()) return;
        if (i < 0) {
            skip_value();
            continue;
        }
        if (seen & 1u << i) decode::fail_duplicate_field(names[i]);
        seen |= 1u << i;
        wire::visit(out, static_cast<std::size_t>(i), [&](auto& field) { read_value(field); });
    }
    if (ran_out()) return;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!(seen & 1u << i)) decode::fail_missing_field(names[i]);
    }
    leave_level();
}

// Unlike an array, a binary may hold more bytes than the record has fields.
template <class Record>
void FrameDecoder::read_binary(Record& out, std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < wire::field_names<Record>.size(); ++i) {
        if (i == bytes.size()) decode::fail_invalid_length(bytes.size(), wire::length_text<Record>());
        wire::visit(out, i, [&](auto& field) { from_byte(field, bytes[i]); });
    }
}

// A widget event travels as a one-entry map from its variant to its field
// list. A bare variant identifier is read, so that a bad one reports its
// own fault, but never accepted: every variant has a field list.
void FrameDecoder::read_value(WidgetRegistry& out) {
    const std::uint8_t marker = reader_.read_marker();
    if (family_of(marker) != Family::Map) {
        read_variant_tag(marker);
        if (ran_out()) return;
        fail_invalid_type(t::unit_variant, t::any_variant_record);
    }
    const std::uint32_t entries = reader_.read_length(marker);
    if (entries != 1) {
        if (ran_out()) return;
        decode::fail_length_mismatch(entries);
    }
    read_variant_fields(read_variant_tag(reader_.read_marker()), out);
}

// The tag, or 0 when the bytes ran out: then the fields of kind 0 find
// nothing to read, which ends the decode as quietly.
std::size_t FrameDecoder::read_variant_tag(std::uint8_t marker) {
    const Family family = family_of(marker);
    if (family == Family::Str || family == Family::Bin) {
        const auto name = read_payload(marker);
        const int tag = index_of(widget_names, name);
        if (tag >= 0) return static_cast<std::size_t>(tag);
        if (ran_out()) return 0;
        fail_unknown_name(name, family == Family::Str);
    }
    if (family != Family::UInt) {
        reject(marker, t::variant_identifier);
        return 0;
    }
    const std::uint64_t tag = reader_.read_uint(marker);
    if (tag >= widget_count) decode::fail_invalid_value(found_integer(tag), decode::variant_index_text());
    return static_cast<std::size_t>(tag);
}

// `tag` is below widget_count: read_variant_tag checked it.
void FrameDecoder::read_variant_fields(std::size_t tag, WidgetRegistry& out) {
    with_widget_tag(tag, [&](auto kind) { read_record(out.value.emplace<kind()>()); });
}

// A key may be a name as text or bytes, or a field's position. Unknown names
// and positions are fine (their entry is skipped); other kinds of key are not.
int FrameDecoder::read_field_key(std::span<const std::string_view> fields) {
    const std::uint8_t marker = reader_.read_marker();
    switch (family_of(marker)) {
        case Family::UInt: {
            const std::uint64_t position = reader_.read_uint(marker);
            return position < fields.size() ? static_cast<int>(position) : -1;
        }
        case Family::Str:
        case Family::Bin: return index_of(fields, read_payload(marker));
        default: reject(marker, t::field_identifier); return -1;
    }
}

std::uint8_t FrameDecoder::read_u8() {
    const std::uint8_t marker = reader_.read_marker();
    return marker < 0x80 ? marker : read_other_u8(marker);
}

std::uint8_t FrameDecoder::read_other_u8(std::uint8_t marker) {
    switch (family_of(marker)) {
        case Family::UInt: {
            const std::uint64_t value = reader_.read_uint(marker);
            if (value > 255) decode::fail_invalid_value(found_integer(value), t::u8);
            return static_cast<std::uint8_t>(value);
        }
        case Family::Int: {
            const std::int64_t value = reader_.read_int(marker);
            if (value < 0 || value > 255) decode::fail_invalid_value(found_integer(value), t::u8);
            return static_cast<std::uint8_t>(value);
        }
        default: reject_scalar(marker, t::u8); return 0;
    }
}

bool FrameDecoder::read_bool() {
    const std::uint8_t marker = reader_.read_marker();
    if (family_of(marker) != Family::Bool) reject_scalar(marker, t::a_boolean);
    return marker == 0xC3;
}

float FrameDecoder::read_f32() {
    const std::uint8_t marker = reader_.read_marker();
    switch (family_of(marker)) {
        case Family::Float32: return reader_.read_f32();
        case Family::Float64: return narrow_to_f32(reader_.read_f64());
        case Family::UInt: return static_cast<float>(reader_.read_uint(marker));
        case Family::Int: return static_cast<float>(reader_.read_int(marker));
        default: reject_scalar(marker, t::f32); return 0;
    }
}

void FrameDecoder::enter_level() {
    if (--depth_ == 0) decode::fail_depth();
}

}  // namespace vantu
