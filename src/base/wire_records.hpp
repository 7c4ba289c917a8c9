// How each record travels on the wire: its fields in position order (the
// position is also the integer that may stand for a field's name) and the
// texts that decode errors use for it.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "base/frame.hpp"
#include "base/widget_registry.hpp"

namespace vantu::wire {

// Shape<R>: `expecting` and `length_text` name the record in error texts;
// `fields` lists the field names; `field(r, i, visit)` calls `visit` with a
// reference to field i of r.
template <class Record>
struct Shape;

template <>
struct Shape<Frame> {
    static constexpr std::string_view expecting = "struct Frame";
    static constexpr std::string_view length_text = "struct Frame with 2 elements";
    static constexpr std::array<std::string_view, 2> fields = {"id", "data"};
    template <class Visit>
    static void field(Frame& r, std::size_t i, Visit&& visit) {
        if (i == 0) visit(r.id);
        else visit(r.data);
    }
};

template <>
struct Shape<Coord> {
    static constexpr std::string_view expecting = "struct Coord";
    static constexpr std::string_view length_text = "struct Coord with 2 elements";
    static constexpr std::array<std::string_view, 2> fields = {"x", "y"};
    template <class Visit>
    static void field(Coord& r, std::size_t i, Visit&& visit) {
        if (i == 0) visit(r.x);
        else visit(r.y);
    }
};

// The two variants without fields: never asked for a field.
struct NoFields {
    static constexpr std::string_view length_text = "";
    static constexpr std::array<std::string_view, 0> fields = {};
    template <class Record, class Visit>
    static void field(Record&, std::size_t, Visit&&) {}
};

template <>
struct Shape<widget::ClickButton> : NoFields {
    static constexpr std::string_view expecting = "struct variant WidgetRegistry::ClickButton";
};

template <>
struct Shape<widget::ConfirmButton> : NoFields {
    static constexpr std::string_view expecting = "struct variant WidgetRegistry::ConfirmButton";
};

template <>
struct Shape<widget::ToggleButton> {
    static constexpr std::string_view expecting = "struct variant WidgetRegistry::ToggleButton";
    static constexpr std::string_view length_text =
        "struct variant WidgetRegistry::ToggleButton with 1 element";
    static constexpr std::array<std::string_view, 1> fields = {"value"};
    template <class Visit>
    static void field(widget::ToggleButton& r, std::size_t, Visit&& visit) {
        visit(r.value);
    }
};

template <>
struct Shape<widget::PressButton> {
    static constexpr std::string_view expecting = "struct variant WidgetRegistry::PressButton";
    static constexpr std::string_view length_text =
        "struct variant WidgetRegistry::PressButton with 1 element";
    static constexpr std::array<std::string_view, 1> fields = {"pressed"};
    template <class Visit>
    static void field(widget::PressButton& r, std::size_t, Visit&& visit) {
        visit(r.pressed);
    }
};

template <>
struct Shape<widget::DirectionalButton> {
    static constexpr std::string_view expecting =
        "struct variant WidgetRegistry::DirectionalButton";
    static constexpr std::string_view length_text =
        "struct variant WidgetRegistry::DirectionalButton with 1 element";
    static constexpr std::array<std::string_view, 1> fields = {"direction"};
    template <class Visit>
    static void field(widget::DirectionalButton& r, std::size_t, Visit&& visit) {
        visit(r.direction);
    }
};

template <>
struct Shape<widget::Joystick> {
    static constexpr std::string_view expecting = "struct variant WidgetRegistry::Joystick";
    static constexpr std::string_view length_text =
        "struct variant WidgetRegistry::Joystick with 2 elements";
    static constexpr std::array<std::string_view, 2> fields = {"delta", "intensity"};
    template <class Visit>
    static void field(widget::Joystick& r, std::size_t i, Visit&& visit) {
        if (i == 0) visit(r.delta);
        else visit(r.intensity);
    }
};

}  // namespace vantu::wire
