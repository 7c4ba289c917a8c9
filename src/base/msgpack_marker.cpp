// Marker names, as the decoder's texts show them.
#include "base/msgpack_marker.hpp"

#include <string_view>

#include "base/texts.hpp"

namespace vantu::msgpack {
namespace {

std::string with_value(std::string_view name, int value) {
    return std::string(name) + '(' + std::to_string(value) + ')';
}

}  // namespace

std::string marker_name(std::uint8_t marker) {
    namespace t = texts::decode;
    if (marker < 0x80) return with_value(t::fix_pos, marker);
    if (marker < 0x90) return with_value(t::fix_map, marker & 0x0F);
    if (marker < 0xA0) return with_value(t::fix_array, marker & 0x0F);
    if (marker < 0xC0) return with_value(t::fix_str, marker & 0x1F);
    if (marker >= 0xE0) return with_value(t::fix_neg, static_cast<std::int8_t>(marker));
    return std::string(t::fixed_marker_names[marker - 0xC0]);
}

}  // namespace vantu::msgpack
