#include "base/msgpack_marker.hpp"

#include <array>
#include <string_view>

namespace vantu::msgpack {
namespace {

// The markers from 0xC0 to 0xDF, in byte order.
constexpr std::array<std::string_view, 32> fixed_names = {
    "Null",    "Reserved", "False",   "True",    "Bin8",    "Bin16",   "Bin32",
    "Ext8",    "Ext16",    "Ext32",   "F32",     "F64",     "U8",      "U16",
    "U32",     "U64",      "I8",      "I16",     "I32",     "I64",     "FixExt1",
    "FixExt2", "FixExt4",  "FixExt8", "FixExt16", "Str8",   "Str16",   "Str32",
    "Array16", "Array32",  "Map16",   "Map32",
};

std::string with_value(std::string_view name, int value) {
    return std::string(name) + '(' + std::to_string(value) + ')';
}

}  // namespace

std::string marker_name(std::uint8_t marker) {
    if (marker < 0x80) return with_value("FixPos", marker);
    if (marker < 0x90) return with_value("FixMap", marker & 0x0F);
    if (marker < 0xA0) return with_value("FixArray", marker & 0x0F);
    if (marker < 0xC0) return with_value("FixStr", marker & 0x1F);
    if (marker >= 0xE0) return with_value("FixNeg", static_cast<std::int8_t>(marker));
    return std::string(fixed_names[marker - 0xC0]);
}

}  // namespace vantu::msgpack
