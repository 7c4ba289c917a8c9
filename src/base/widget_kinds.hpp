// Widget events: the table of widget kinds and the event value derived from
// it. Plain values: copied into frames, Python objects and actions, never
// shared between threads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>

#include "base/records.hpp"

namespace vantu {

struct Coord {
    float x = 0;
    float y = 0;
};

inline constexpr auto coord_row = record<Coord>("Coord", field("x", &Coord::x), field("y", &Coord::y));

// A kind whose event is a position (`latest_only`) may have an event
// that waits behind a newer one of the same widget skipped: only where the
// control is now matters. A button's every event counts.
namespace widget {
struct ClickButton {};
struct ToggleButton { bool value = false; };
struct ConfirmButton {};
struct PressButton { bool pressed = false; };
struct DirectionalButton {
    static constexpr bool latest_only = true;
    std::uint8_t direction = 0;
};
struct Joystick {
    static constexpr bool latest_only = true;
    Coord delta;
    float intensity = 0;
};
}  // namespace widget

// The widget kinds, one row each, in tag order: the tag is a kind's place
// here, on the wire and in the Python classes alike. A new kind is a struct
// above and a row here; the event value, the decoder, the wire shapes and
// the Python classes follow from the row. Field types are bool, uint8_t,
// float and Coord.
inline constexpr auto widget_kinds = std::tuple{
    record<widget::ClickButton>("ClickButton"),
    record<widget::ToggleButton>("ToggleButton", field("value", &widget::ToggleButton::value)),
    record<widget::ConfirmButton>("ConfirmButton"),
    record<widget::PressButton>("PressButton", field("pressed", &widget::PressButton::pressed)),
    record<widget::DirectionalButton>("DirectionalButton",
                                      field("direction", &widget::DirectionalButton::direction)),
    record<widget::Joystick>("Joystick", field("delta", &widget::Joystick::delta),
                             field("intensity", &widget::Joystick::intensity)),
};

using WidgetKinds = std::remove_cvref_t<decltype(widget_kinds)>;
inline constexpr std::size_t widget_count = std::tuple_size_v<WidgetKinds>;

template <std::size_t Tag>
inline constexpr const auto& widget_kind = std::get<Tag>(widget_kinds);

inline constexpr auto widget_names = std::apply(
    [](const auto&... kind) { return std::array<std::string_view, widget_count>{kind.name...}; },
    widget_kinds);

template <class Record>
concept LatestOnly = Record::latest_only;

// By tag: whether an event of the kind is moot once a newer one of the same
// widget is known.
inline constexpr auto widget_latest_only = std::apply(
    [](const auto&... kind) {
        return std::array<bool, widget_count>{
            LatestOnly<typename std::remove_cvref_t<decltype(kind)>::record>...};
    },
    widget_kinds);

template <class Kinds>
struct EventValue;
template <class... Row>
struct EventValue<std::tuple<Row...>> {
    using type = std::variant<typename Row::record...>;
};

struct WidgetRegistry {
    using Value = EventValue<WidgetKinds>::type;
    Value value;

    std::uint8_t tag() const { return static_cast<std::uint8_t>(value.index()); }
    std::string_view name() const { return widget_names[value.index()]; }
};

// Tags and frame ids are bytes: a table of actions by tag and id has room.
static_assert(std::variant_size_v<WidgetRegistry::Value> == widget_count);
static_assert(widget_count <= 256);

// Calls f(std::integral_constant<std::size_t, Tag>{}) for a tag below
// widget_count.
template <class F>
void with_widget_tag(std::size_t tag, F&& f) {
    [&]<std::size_t... Tag>(std::index_sequence<Tag...>) {
        (void)((tag == Tag ? (f(std::integral_constant<std::size_t, Tag>{}), true) : false) || ...);
    }(std::make_index_sequence<widget_count>{});
}

}  // namespace vantu
