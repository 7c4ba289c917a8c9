// Widget events, result payloads and the identity keys that join frames to
// actions. Plain values: copied into frames, Python objects and actions,
// never shared between threads.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace vantu {

// The nearest 32-bit float, infinities beyond its range. A plain cast is
// undefined for doubles beyond the float range.
inline float narrow_to_f32(double value) {
    constexpr double max = std::numeric_limits<float>::max();
    // Halfway between the largest float and the next power of two: from
    // there on, round-to-nearest gives infinity.
    constexpr double overflow = 0x1.ffffffp127;
    if (std::isnan(value) || std::fabs(value) <= max) return static_cast<float>(value);
    if (std::fabs(value) < overflow) return std::copysign(std::numeric_limits<float>::max(), static_cast<float>(value));
    return std::copysign(std::numeric_limits<float>::infinity(), static_cast<float>(value));
}

struct Coord {
    float x = 0;
    float y = 0;
};

// The six widget kinds, in tag order. The tag is the index in the variant
// below, on the wire and in the Python classes alike.
namespace widget {
struct ClickButton {};
struct ToggleButton { bool value = false; };
struct ConfirmButton {};
struct PressButton { bool pressed = false; };
struct DirectionalButton { std::uint8_t direction = 0; };
struct Joystick { Coord delta; float intensity = 0; };
}  // namespace widget

inline constexpr std::size_t widget_count = 6;
inline constexpr std::array<std::string_view, widget_count> widget_names = {
    "ClickButton", "ToggleButton", "ConfirmButton",
    "PressButton", "DirectionalButton", "Joystick",
};

struct WidgetRegistry {
    using Value = std::variant<widget::ClickButton, widget::ToggleButton,
                               widget::ConfirmButton, widget::PressButton,
                               widget::DirectionalButton, widget::Joystick>;
    Value value;

    std::uint8_t tag() const { return static_cast<std::uint8_t>(value.index()); }
    std::string_view name_view() const { return widget_names[value.index()]; }
    std::string name() const { return std::string(name_view()); }
};

// "ToggleButton_3": at most 17 name bytes, "_" and three digits. Built on
// the stack so that dispatching a frame allocates nothing.
class IdentityKey {
public:
    IdentityKey(std::string_view widget, std::uint8_t id);
    std::string_view view() const { return {bytes_, size_}; }

private:
    char bytes_[24];
    std::uint8_t size_ = 0;
};

// The key under which an action is stored: the first white-space delimited
// word of `widget`, "_", and `id` in decimal.
std::string action_identity(std::uint8_t id, std::string_view widget);

// Reads "Name_12[_anything]" back into (12, "Name"). A malformed key is a
// broken precondition of the caller and throws vantu::Fatal.
std::pair<std::uint8_t, std::string> extract_identity(std::string key);

enum class ServerStatus : std::uint8_t { NotInit, Idle, Busy, Error };
inline constexpr std::array<std::string_view, 4> server_status_names = {
    "NotInit", "Idle", "Busy", "Error",
};

// The payload of a result frame.
namespace result {
struct ConfirmResult { bool status = false; };
struct ErrorResult { std::string error; };
}  // namespace result

using ResultRegistry = std::variant<result::ConfirmResult, result::ErrorResult>;
inline constexpr std::array<std::string_view, 2> result_names = {
    "ConfirmResult", "ErrorResult",
};

}  // namespace vantu
