// Doubles narrowed to the 32-bit floats that every float field stores.
#pragma once

#include <cmath>
#include <limits>

namespace vantu {

// The nearest 32-bit float, infinities beyond its range; a NaN keeps its
// sign. A plain cast is undefined for doubles beyond the float range.
inline float narrow_to_f32(double value) {
    constexpr double max = std::numeric_limits<float>::max();
    // Halfway between the largest float and the next power of two: from
    // there on, round-to-nearest gives infinity.
    constexpr double overflow = 0x1.ffffffp127;
    if (std::isnan(value) || std::fabs(value) <= max) return static_cast<float>(value);
    const float sign = std::signbit(value) ? -1.0f : 1.0f;
    if (std::fabs(value) < overflow) return sign * std::numeric_limits<float>::max();
    return sign * std::numeric_limits<float>::infinity();
}

}  // namespace vantu
