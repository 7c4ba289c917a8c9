// MessagePack marker bytes: what kind of value each one starts, and the
// names that type-mismatch errors show ("FixStr(3)", "Bin8", "Reserved").
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vantu::msgpack {

enum class Family : std::uint8_t {
    Nil, Bool, UInt, Int, Float32, Float64, Str, Bin, Array, Map, Ext, Reserved,
};

constexpr Family classify(std::uint8_t marker) {
    if (marker < 0x80) return Family::UInt;
    if (marker < 0x90) return Family::Map;
    if (marker < 0xA0) return Family::Array;
    if (marker < 0xC0) return Family::Str;
    if (marker >= 0xE0) return Family::Int;
    switch (marker) {
        case 0xC0: return Family::Nil;
        case 0xC1: return Family::Reserved;
        case 0xC2: case 0xC3: return Family::Bool;
        case 0xC4: case 0xC5: case 0xC6: return Family::Bin;
        case 0xCA: return Family::Float32;
        case 0xCB: return Family::Float64;
        case 0xCC: case 0xCD: case 0xCE: case 0xCF: return Family::UInt;
        case 0xD0: case 0xD1: case 0xD2: case 0xD3: return Family::Int;
        case 0xD9: case 0xDA: case 0xDB: return Family::Str;
        case 0xDC: case 0xDD: return Family::Array;
        case 0xDE: case 0xDF: return Family::Map;
        default: return Family::Ext;  // 0xC7..0xC9, 0xD4..0xD8
    }
}

// Every marker is classified on the decode path, so once, at compile time.
inline constexpr std::array<Family, 256> family_table = [] {
    std::array<Family, 256> table{};
    for (unsigned marker = 0; marker < 256; ++marker) {
        table[marker] = classify(static_cast<std::uint8_t>(marker));
    }
    return table;
}();

constexpr Family family_of(std::uint8_t marker) { return family_table[marker]; }

// Nil, booleans, integers and floats: the values a scalar field rejects
// with a type message instead of a marker mismatch.
constexpr bool is_scalar(Family family) {
    return family <= Family::Float64;
}

std::string marker_name(std::uint8_t marker);

}  // namespace vantu::msgpack
