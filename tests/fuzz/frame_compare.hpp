// Exact comparison of decoded frames for the fuzz targets: identical ids,
// variants and field bits (floats compared by bit pattern, any NaN equal).
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

#include "base/frame.hpp"

namespace vantu::fuzz {

inline bool same_float(float a, float b) {
    return (std::isnan(a) && std::isnan(b)) ||
           std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

inline bool same_frame(const Frame& a, const Frame& b) {
    if (a.id != b.id || a.data.value.index() != b.data.value.index()) return false;
    return std::visit(
        [&](const auto& left) {
            using W = std::decay_t<decltype(left)>;
            const W& right = std::get<W>(b.data.value);
            if constexpr (std::is_same_v<W, widget::ToggleButton>) return left.value == right.value;
            if constexpr (std::is_same_v<W, widget::PressButton>) return left.pressed == right.pressed;
            if constexpr (std::is_same_v<W, widget::DirectionalButton>) {
                return left.direction == right.direction;
            }
            if constexpr (std::is_same_v<W, widget::Joystick>) {
                return same_float(left.delta.x, right.delta.x) &&
                       same_float(left.delta.y, right.delta.y) &&
                       same_float(left.intensity, right.intensity);
            }
            return true;
        },
        a.data.value);
}

// A broken invariant is a finding: abort so that libFuzzer keeps the input.
inline void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace vantu::fuzz
