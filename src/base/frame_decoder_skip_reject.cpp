// Values a frame has no place for: the skipped values of unknown map
// entries, and the values that end the decode with a description of what
// was found. Once the bytes have run out, none of them is examined further:
// the shortfall is the frame's first fault.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "base/decode_failure.hpp"
#include "base/frame_decoder.hpp"
#include "base/msgpack_marker.hpp"
#include "base/texts.hpp"

namespace vantu {

using decode::fail_invalid_type;
using msgpack::Family;
using msgpack::family_of;
namespace t = texts::decode;

// Iterative, with an explicit stack of the values each open container still
// holds, so that hostile nesting costs a few KiB instead of the serve
// thread's stack. The depth limit bounds how many containers are open.
void FrameDecoder::skip_value() {
    std::array<std::uint64_t, depth_limit> pending;
    std::size_t open = 0;
    for (;;) {
        const std::uint8_t marker = reader_.read_marker();
        switch (family_of(marker)) {
            case Family::Nil:
            case Family::Bool: break;
            case Family::UInt: reader_.read_uint(marker); break;
            case Family::Int: reader_.read_int(marker); break;
            case Family::Float32: reader_.read_f32(); break;
            case Family::Float64: reader_.read_f64(); break;
            case Family::Str:
            case Family::Bin: reader_.read_payload(reader_.read_length(marker)); break;
            case Family::Array:
            case Family::Map: {
                const std::uint64_t count = reader_.read_length(marker);
                enter_level();
                pending[open++] = family_of(marker) == Family::Map ? 2 * count : count;
                break;
            }
            case Family::Ext: {
                const std::uint32_t length = reader_.read_length(marker);
                enter_level();
                reader_.read_ext_type();
                reader_.read_payload(length);
                leave_level();
                break;
            }
            case Family::Reserved:
                if (ran_out()) return;
                decode::fail_type_mismatch(marker);
        }
        while (open > 0 && pending[open - 1] == 0) {
            --open;
            leave_level();
        }
        if (open == 0 || ran_out()) return;
        --pending[open - 1];
    }
}

// The value's number is read before anything is made of it: reading may
// run out of bytes.
template <class T>
void FrameDecoder::reject_number(T value, std::string_view expected) {
    if (ran_out()) return;
    if constexpr (std::is_floating_point_v<T>) {
        fail_invalid_type(decode::found_float(value), expected);
    } else {
        fail_invalid_type(decode::found_integer(value), expected);
    }
}

// A container's header is read, and its level entered, before the fault.
void FrameDecoder::reject_container(std::uint8_t marker, std::string_view found,
                                    std::string_view expected) {
    reader_.read_length(marker);
    if (ran_out()) return;
    enter_level();
    fail_invalid_type(found, expected);
}

void FrameDecoder::reject(std::uint8_t marker, std::string_view expected) {
    if (ran_out()) return;
    switch (family_of(marker)) {
        case Family::Nil: fail_invalid_type(t::unit_value, expected);
        case Family::Bool: fail_invalid_type(decode::found_bool(marker == 0xC3), expected);
        case Family::UInt: return reject_number(reader_.read_uint(marker), expected);
        case Family::Int: return reject_number(reader_.read_int(marker), expected);
        case Family::Float32: return reject_number(reader_.read_f32(), expected);
        case Family::Float64: return reject_number(reader_.read_f64(), expected);
        case Family::Str: {
            const auto text = read_payload(marker);
            if (ran_out()) return;
            if (const auto fault = utf8::validate(text)) decode::fail_utf8(*fault);
            fail_invalid_type(decode::found_string(text), expected);
        }
        case Family::Bin:
            read_payload(marker);
            if (ran_out()) return;
            fail_invalid_type(t::byte_array, expected);
        case Family::Array: return reject_container(marker, t::sequence, expected);
        case Family::Map: return reject_container(marker, t::map, expected);
        case Family::Ext: return reject_container(marker, t::newtype_struct, expected);
        case Family::Reserved: break;
    }
    decode::fail_type_mismatch(marker);
}

// Scalar fields reject containers, strings and binaries by their marker
// alone, before reading anything behind it.
void FrameDecoder::reject_scalar(std::uint8_t marker, std::string_view expected) {
    if (msgpack::is_scalar(family_of(marker))) return reject(marker, expected);
    if (ran_out()) return;
    decode::fail_type_mismatch(marker);
}

}  // namespace vantu
