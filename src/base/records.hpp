// Records written down as data: a name and fields, each field a name and
// the member that holds it. The wire codec, the Python classes and the
// tests read records through these rows, so a record's layout is stated once.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>

namespace vantu {

template <class Record, class T>
struct Field {
    using type = T;
    std::string_view name;
    T Record::*member;
};

template <class Record, class... T>
struct RecordRow {
    using record = Record;
    static constexpr std::size_t size = sizeof...(T);
    std::string_view name;
    std::tuple<Field<Record, T>...> fields;
};

template <class Record, class T>
constexpr Field<Record, T> field(std::string_view name, T Record::*member) {
    return {name, member};
}

template <class Record, class... T>
constexpr RecordRow<Record, T...> record(std::string_view name, Field<Record, T>... fields) {
    return {name, {fields...}};
}

// Calls visit(field) for each field of the row, in order.
template <class Row, class Visit>
constexpr void for_each_field(const Row& row, Visit&& visit) {
    std::apply([&](const auto&... f) { (visit(f), ...); }, row.fields);
}

// Calls visit(field) for field `i` of the row; nothing when there is none.
template <class Row, class Visit>
constexpr void visit_field(const Row& row, std::size_t i, Visit&& visit) {
    std::size_t at = 0;
    for_each_field(row, [&](const auto& f) {
        if (at++ == i) visit(f);
    });
}

template <class Row>
constexpr std::array<std::string_view, Row::size> field_names(const Row& row) {
    return std::apply([](const auto&... f) { return std::array<std::string_view, Row::size>{f.name...}; },
                      row.fields);
}

}  // namespace vantu
