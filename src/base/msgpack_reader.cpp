// Signed integers, floats and wide lengths behind a marker.
#include "base/msgpack_reader.hpp"

#include <bit>

namespace vantu::msgpack {

std::int64_t Reader::read_int(std::uint8_t marker) {
    if (marker >= 0xE0) return static_cast<std::int8_t>(marker);
    const std::size_t width = std::size_t{1} << (marker - 0xD0);
    const std::uint64_t raw = read_be(width);
    // Sign-extend from the field's width.
    const unsigned shift = static_cast<unsigned>(64 - 8 * width);
    return static_cast<std::int64_t>(raw << shift) >> shift;
}

float Reader::read_f32() {
    return std::bit_cast<float>(static_cast<std::uint32_t>(read_be(4)));
}

double Reader::read_f64() { return std::bit_cast<double>(read_be(8)); }

std::uint32_t Reader::read_wide_length(std::uint8_t marker) {
    switch (marker) {
        case 0xD4: return 1;
        case 0xD5: return 2;
        case 0xD6: return 4;
        case 0xD7: return 8;
        case 0xD8: return 16;
        case 0xC4: case 0xC7: case 0xD9: return static_cast<std::uint32_t>(read_be(1));
        case 0xC5: case 0xC8: case 0xDA: case 0xDC: case 0xDE:
            return static_cast<std::uint32_t>(read_be(2));
        default: return static_cast<std::uint32_t>(read_be(4));  // the 32-bit forms
    }
}

}  // namespace vantu::msgpack
