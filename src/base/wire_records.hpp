// How each record travels on the wire, read from its row: its fields in
// position order (the position is also the integer that may stand for a
// field's name) and what the decoder's texts call it.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>
#include <variant>

#include "base/decode_failure.hpp"
#include "base/frame.hpp"
#include "base/records.hpp"
#include "base/widget_kinds.hpp"

namespace vantu::wire {

template <class T, class Variant>
struct AlternativeIndex;
template <class T, class... A>
struct AlternativeIndex<T, std::variant<A...>> {
    static constexpr std::size_t value = [] {
        constexpr bool same[] = {std::is_same_v<T, A>...};
        std::size_t i = 0;
        while (!same[i]) ++i;
        return i;
    }();
};

// A widget's field list, as opposed to the Frame and Coord records.
template <class Record>
inline constexpr bool is_widget = !std::is_same_v<Record, Frame> && !std::is_same_v<Record, Coord>;

template <class Record>
constexpr const auto& row_of() {
    if constexpr (std::is_same_v<Record, Frame>) {
        return frame_row;
    } else if constexpr (std::is_same_v<Record, Coord>) {
        return coord_row;
    } else {
        return widget_kind<AlternativeIndex<Record, WidgetRegistry::Value>::value>;
    }
}

template <class Record>
inline constexpr auto field_names = vantu::field_names(row_of<Record>());

// "struct Frame", "struct variant WidgetRegistry::Joystick".
template <class Record>
std::string expecting() {
    return decode::record_text(row_of<Record>().name, is_widget<Record>);
}

// "struct Frame with 2 elements".
template <class Record>
std::string length_text() {
    return decode::length_text(row_of<Record>().name, is_widget<Record>, field_names<Record>.size());
}

// Calls visit(member) with field i of `record`.
template <class Record, class Visit>
void visit(Record& record, std::size_t i, Visit&& visit) {
    visit_field(row_of<Record>(), i, [&](const auto& f) { visit(record.*(f.member)); });
}

}  // namespace vantu::wire
