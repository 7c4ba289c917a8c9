// Exact comparison of decoded frames for the fuzz targets: identical ids,
// variants and field bits (floats compared by bit pattern, any NaN equal).
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "base/frame.hpp"

namespace vantu::fuzz {

inline bool same_float(float a, float b) {
    return (std::isnan(a) && std::isnan(b)) ||
           std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

inline bool same_value(bool a, bool b) { return a == b; }
inline bool same_value(std::uint8_t a, std::uint8_t b) { return a == b; }
inline bool same_value(float a, float b) { return same_float(a, b); }
inline bool same_value(const Coord& a, const Coord& b) {
    return same_float(a.x, b.x) && same_float(a.y, b.y);
}

// Field by field, from the kind's row.
inline bool same_frame(const Frame& a, const Frame& b) {
    if (a.id != b.id || a.data.tag() != b.data.tag()) return false;
    bool same = true;
    with_widget_tag(a.data.tag(), [&](auto tag) {
        const auto& left = std::get<tag()>(a.data.value);
        const auto& right = std::get<tag()>(b.data.value);
        for_each_field(widget_kind<tag()>, [&](const auto& f) {
            same = same && same_value(left.*(f.member), right.*(f.member));
        });
    });
    return same;
}

// A broken invariant is a finding: abort so that libFuzzer keeps the input.
inline void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace vantu::fuzz
