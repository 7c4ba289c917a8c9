// The widget event classes, each one derived from its row of the table of
// widget kinds: type name, constructor signature, getters, __match_args__.
#include "binding/values/widget_events.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "base/error.hpp"
#include "base/f32.hpp"
#include "base/texts.hpp"
#include "binding/args.hpp"
#include "binding/exception_text.hpp"
#include "binding/ref.hpp"
#include "binding/type.hpp"

namespace vantu::py {
namespace {

PyObject* as_object(PyTypeObject* type) { return reinterpret_cast<PyObject*>(type); }

// Events for actions are made on the serve thread, where no Python caller
// could take an ordinary exception, and reading an attribute of an event
// is not expected to fail: on both paths a failed allocation is treated as
// unrecoverable.
template <class T, class... A>
PyObject* new_object_or_fatal(PyTypeObject* type, A&&... args) {
    try {
        return new_object<T>(type, std::forward<A>(args)...);
    } catch (const ErrorAlreadySet&) {
        throw Fatal(std::string("Failed to create a ") + short_type_name(type) +
                    " object: " + take_exception_text());
    }
}

// ---- Field values, by field type ----

PyTypeObject* coord_type();

PyObject* field_object(bool value) { return PyBool_FromLong(value); }
PyObject* field_object(std::uint8_t value) { return PyLong_FromLong(value); }
PyObject* field_object(float value) { return PyFloat_FromDouble(value); }
PyObject* field_object(const Coord& value) {
    return boundary([&] { return new_object_or_fatal<Coord>(coord_type(), value); });
}

void set_field(bool& out, ArgName arg, PyObject* obj) { out = to_bool(arg, obj); }
void set_field(std::uint8_t& out, ArgName arg, PyObject* obj) { out = to_u8(arg, obj); }
void set_field(float& out, ArgName arg, PyObject* obj) { out = narrow_to_f32(to_double(arg, obj)); }
void set_field(Coord& out, ArgName arg, PyObject* obj) {
    out = value_of<Coord>(to_instance(arg, obj, coord_type()));
}

// The getters of the fields of the row that `row_of` returns, reading the
// record that `record` finds in the object. The getset descriptor has
// already checked that the receiver is an instance of the class.
template <auto row_of, auto record>
struct Getters {
    static constexpr const auto& row = row_of();
    static constexpr auto names = field_names(row);
    static constexpr std::size_t size = std::remove_cvref_t<decltype(row)>::size;

    template <std::size_t I>
    static PyObject* get(PyObject* self, void*) {
        return field_object(record(self).*(std::get<I>(row.fields).member));
    }

    static inline auto table = []<std::size_t... I>(std::index_sequence<I...>) {
        return std::array<PyGetSetDef, size + 1>{
            PyGetSetDef{names[I].data(), get<I>, nullptr, nullptr, nullptr}...,
            PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr}};
    }(std::make_index_sequence<size>{});
};

// ---- Coord ----

constexpr const auto& coord_row_of() { return coord_row; }
const Coord& coord_record(PyObject* self) { return value_of<Coord>(self); }

PyType_Slot coord_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<Coord>)},
    {Py_tp_getset, Getters<coord_row_of, coord_record>::table.data()},
    {0, nullptr},
};

constexpr auto coord_name = ConstText<>().add(texts::type_module).add(coord_row.name);

PyType_Spec coord_spec = {
    coord_name.c_str(), sizeof(Object<Coord>), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    coord_slots,
};

PyTypeObject* coord_type() {
    static PyTypeObject* type = build_type(&coord_spec);
    return type;
}

// ---- One widget kind's class ----

template <std::size_t Tag>
constexpr const auto& kind_row_of() { return widget_kind<Tag>; }

// An instance always stores its own kind.
template <std::size_t Tag>
const auto& kind_record(PyObject* self) {
    return std::get<Tag>(value_of<WidgetRegistry>(self).value);
}

template <std::size_t Tag>
struct KindClass {
    static constexpr const auto& row = widget_kind<Tag>;
    using Record = typename std::remove_cvref_t<decltype(row)>::record;
    static constexpr std::size_t size = std::remove_cvref_t<decltype(row)>::size;
    static constexpr auto names = field_names(row);

    // "WidgetRegistry_Joystick", and its type name and text signature.
    static constexpr auto name = ConstText<>().add("WidgetRegistry_").add(row.name);
    static constexpr auto class_name = ConstText<>().add(texts::type_module).add(name.view());
    static constexpr auto doc = [] {
        auto text = ConstText<>().add(name.view()).add("(");
        for (std::size_t i = 0; i < size; ++i) text.add(i ? ", " : "").add(names[i]);
        return text.add(")\n--\n\n");
    }();
    static constexpr Signature<size> signature = [] {
        Signature<size> sig{name.c_str(), {}};
        for (std::size_t i = 0; i < size; ++i) sig.names[i] = names[i].data();
        return sig;
    }();

    static PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
        return boundary([&] {
            const auto given = bind(signature, args, kwargs);
            Record value{};
            std::size_t i = 0;
            for_each_field(row, [&](const auto& f) {
                set_field(value.*(f.member), {signature.function, signature.names[i]}, given[i]);
                ++i;
            });
            return new_object<WidgetRegistry>(type, value);
        });
    }

    // Each kind names its own tp_dealloc: an inherited one would go through
    // the generic subclass deallocator, which is slower, and these objects
    // are made once per frame.
    static inline PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(construct)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<WidgetRegistry>)},
        {Py_tp_getset, Getters<kind_row_of<Tag>, kind_record<Tag>>::table.data()},
        {Py_tp_doc, const_cast<char*>(doc.c_str())},
        {0, nullptr},
    };

    static inline PyType_Spec type_spec = {class_name.c_str(), sizeof(Object<WidgetRegistry>), 0,
                                      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};

    // The field names in order, for positional class patterns; None for a
    // kind without fields.
    static Ref match_args() {
        if constexpr (size == 0) {
            return Ref::borrow(Py_None);
        } else {
            Ref tuple = Ref::steal(PyTuple_New(size));
            if (!tuple) throw_error_already_set();
            for (std::size_t i = 0; i < size; ++i) {
                PyObject* text = PyUnicode_InternFromString(names[i].data());
                if (!text) throw_error_already_set();
                if (PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), text) < 0) {
                    throw_error_already_set();
                }
            }
            return tuple;
        }
    }

    static Ref build(PyTypeObject* base) {
        Ref fields = match_args();
        Ref type = Ref::steal(as_object(build_type(&type_spec, base)));
        set_class_attr(reinterpret_cast<PyTypeObject*>(type.get()), "__match_args__", fields.get());
        return type;
    }
};

// ---- The family ----

PyType_Slot base_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<WidgetRegistry>)},
    {0, nullptr},
};

constexpr auto base_name = ConstText<>().add(texts::type_module).add("WidgetRegistry");

PyType_Spec base_spec = {
    base_name.c_str(), sizeof(Object<WidgetRegistry>), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE, base_slots,
};

struct Family {
    PyTypeObject* base;
    std::array<PyTypeObject*, widget_count> kinds;
};

// Until every class is complete the references are owned here, so a
// failure part-way leaves no half-built family behind.
Family build_family() {
    Ref base = Ref::steal(as_object(build_type(&base_spec)));
    PyTypeObject* base_type = reinterpret_cast<PyTypeObject*>(base.get());
    std::array<Ref, widget_count> kinds;
    [&]<std::size_t... Tag>(std::index_sequence<Tag...>) {
        ((kinds[Tag] = KindClass<Tag>::build(base_type)), ...);
    }(std::make_index_sequence<widget_count>{});
    for (std::size_t tag = 0; tag < widget_count; ++tag) {
        // The names are string literals, so the views end in a NUL.
        set_class_attr(base_type, widget_names[tag].data(), kinds[tag].get());
    }
    Family family{reinterpret_cast<PyTypeObject*>(base.release()), {}};
    for (std::size_t tag = 0; tag < widget_count; ++tag) {
        family.kinds[tag] = reinterpret_cast<PyTypeObject*>(kinds[tag].release());
    }
    return family;
}

const Family& family() {
    static const Family built = build_family();
    return built;
}

}  // namespace

PyTypeObject* widget_registry_type() { return family().base; }

PyObject* widget_to_object(const WidgetRegistry& value) {
    return new_object_or_fatal<WidgetRegistry>(family().kinds[value.tag()], value);
}

}  // namespace vantu::py
