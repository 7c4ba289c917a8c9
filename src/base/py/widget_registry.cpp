#include "base/py/widget_registry.hpp"

#include <array>
#include <string>
#include <utility>
#include <variant>

#include "binding/args.hpp"
#include "binding/exception_text.hpp"
#include "binding/ref.hpp"
#include "binding/type.hpp"

namespace vantu::py {
namespace {

using Event = Object<WidgetRegistry>;
using Point = Object<Coord>;

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
        throw Fatal(std::string("Failed to create a ") + _PyType_Name(type) +
                    " object: " + take_exception_text());
    }
}

// ---- Coord ----

template <float Coord::*axis>
PyObject* get_axis(PyObject* self, void*) {
    return PyFloat_FromDouble(value_of<Coord>(self).*axis);
}

PyGetSetDef coord_getters[] = {
    {"x", get_axis<&Coord::x>, nullptr, nullptr, nullptr},
    {"y", get_axis<&Coord::y>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot coord_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<Coord>)},
    {Py_tp_getset, coord_getters},
    {0, nullptr},
};

PyType_Spec coord_spec = {
    "builtins.Coord", sizeof(Point), 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    coord_slots,
};

PyTypeObject* coord_type() {
    static PyTypeObject* type = build_type(&coord_spec);
    return type;
}

// ---- Getters of the variant classes ----
//
// The getset descriptor has already checked that the receiver is an
// instance of the variant class, and an instance always stores its own
// class's variant, so the alternative is known to be there.

template <class W>
const W& field_of(PyObject* self) {
    return *std::get_if<W>(&value_of<WidgetRegistry>(self).value);
}

template <class W, bool W::*flag>
PyObject* get_flag(PyObject* self, void*) {
    return PyBool_FromLong(field_of<W>(self).*flag);
}

PyObject* get_direction(PyObject* self, void*) {
    return PyLong_FromLong(field_of<widget::DirectionalButton>(self).direction);
}

PyObject* get_delta(PyObject* self, void*) {
    return boundary([&] {
        return new_object_or_fatal<Coord>(coord_type(), field_of<widget::Joystick>(self).delta);
    });
}

PyObject* get_intensity(PyObject* self, void*) {
    return PyFloat_FromDouble(field_of<widget::Joystick>(self).intensity);
}

PyGetSetDef toggle_getters[] = {
    {"value", get_flag<widget::ToggleButton, &widget::ToggleButton::value>, nullptr, nullptr,
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef press_getters[] = {
    {"pressed", get_flag<widget::PressButton, &widget::PressButton::pressed>, nullptr, nullptr,
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef directional_getters[] = {
    {"direction", get_direction, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef joystick_getters[] = {
    {"delta", get_delta, nullptr, nullptr, nullptr},
    {"intensity", get_intensity, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- Constructors of the variant classes ----

constexpr Signature<0> click_sig{"WidgetRegistry_ClickButton", {}};
constexpr Signature<1> toggle_sig{"WidgetRegistry_ToggleButton", {"value"}};
constexpr Signature<0> confirm_sig{"WidgetRegistry_ConfirmButton", {}};
constexpr Signature<1> press_sig{"WidgetRegistry_PressButton", {"pressed"}};
constexpr Signature<1> directional_sig{"WidgetRegistry_DirectionalButton", {"direction"}};
constexpr Signature<2> joystick_sig{"WidgetRegistry_Joystick", {"delta", "intensity"}};

template <class W, const Signature<0>& sig>
PyObject* new_fieldless(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        bind(sig, args, kwargs);
        return new_object<WidgetRegistry>(type, W{});
    });
}

template <class W, const Signature<1>& sig>
PyObject* new_flag(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        auto [flag] = bind(sig, args, kwargs);
        return new_object<WidgetRegistry>(type, W{to_bool({sig.function, sig.names[0]}, flag)});
    });
}

PyObject* new_directional(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        auto [direction] = bind(directional_sig, args, kwargs);
        std::uint8_t value = to_u8({directional_sig.function, "direction"}, direction);
        return new_object<WidgetRegistry>(type, widget::DirectionalButton{value});
    });
}

PyObject* new_joystick(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        auto [delta, intensity] = bind(joystick_sig, args, kwargs);
        PyObject* point = to_instance({joystick_sig.function, "delta"}, delta, coord_type());
        double wide = to_double({joystick_sig.function, "intensity"}, intensity);
        widget::Joystick value{value_of<Coord>(point), narrow_to_f32(wide)};
        return new_object<WidgetRegistry>(type, value);
    });
}

// ---- Type specs ----
//
// Class documentation holds only the text signature, which Python shows as
// __text_signature__ and inspect.signature. Each variant names its own
// tp_dealloc: an inherited one would go through the generic subclass
// deallocator, which is slower and these objects are made once per frame.

PyType_Slot click_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(new_fieldless<widget::ClickButton, click_sig>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<WidgetRegistry>)},
    {Py_tp_doc, const_cast<char*>("WidgetRegistry_ClickButton()\n--\n\n")},
    {0, nullptr},
};

PyType_Slot toggle_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(new_flag<widget::ToggleButton, toggle_sig>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<WidgetRegistry>)},
    {Py_tp_getset, toggle_getters},
    {Py_tp_doc, const_cast<char*>("WidgetRegistry_ToggleButton(value)\n--\n\n")},
    {0, nullptr},
};

PyType_Slot confirm_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(new_fieldless<widget::ConfirmButton, confirm_sig>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<WidgetRegistry>)},
    {Py_tp_doc, const_cast<char*>("WidgetRegistry_ConfirmButton()\n--\n\n")},
    {0, nullptr},
};

PyType_Slot press_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(new_flag<widget::PressButton, press_sig>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<WidgetRegistry>)},
    {Py_tp_getset, press_getters},
    {Py_tp_doc, const_cast<char*>("WidgetRegistry_PressButton(pressed)\n--\n\n")},
    {0, nullptr},
};

PyType_Slot directional_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(new_directional)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<WidgetRegistry>)},
    {Py_tp_getset, directional_getters},
    {Py_tp_doc, const_cast<char*>("WidgetRegistry_DirectionalButton(direction)\n--\n\n")},
    {0, nullptr},
};

PyType_Slot joystick_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(new_joystick)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<WidgetRegistry>)},
    {Py_tp_getset, joystick_getters},
    {Py_tp_doc, const_cast<char*>("WidgetRegistry_Joystick(delta, intensity)\n--\n\n")},
    {0, nullptr},
};

constexpr unsigned variant_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;

// In tag order.
PyType_Spec variant_specs[widget_count] = {
    {"builtins.WidgetRegistry_ClickButton", sizeof(Event), 0, variant_flags, click_slots},
    {"builtins.WidgetRegistry_ToggleButton", sizeof(Event), 0, variant_flags, toggle_slots},
    {"builtins.WidgetRegistry_ConfirmButton", sizeof(Event), 0, variant_flags, confirm_slots},
    {"builtins.WidgetRegistry_PressButton", sizeof(Event), 0, variant_flags, press_slots},
    {"builtins.WidgetRegistry_DirectionalButton", sizeof(Event), 0, variant_flags,
     directional_slots},
    {"builtins.WidgetRegistry_Joystick", sizeof(Event), 0, variant_flags, joystick_slots},
};

PyType_Slot base_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<WidgetRegistry>)},
    {0, nullptr},
};

PyType_Spec base_spec = {
    "builtins.WidgetRegistry", sizeof(Event), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE, base_slots,
};

// ---- Building the family ----

struct Family {
    PyTypeObject* base;
    std::array<PyTypeObject*, widget_count> variants;
};

// The field names of a variant, in field order, for positional class
// patterns; None for a variant without fields.
Ref match_args(const Signature<0>&) { return Ref::borrow(Py_None); }

template <std::size_t N>
Ref match_args(const Signature<N>& sig) {
    Ref names = Ref::steal(PyTuple_New(N));
    if (!names) throw_error_already_set();
    for (std::size_t i = 0; i < N; ++i) {
        PyObject* name = PyUnicode_InternFromString(sig.names[i]);
        if (!name) throw_error_already_set();
        PyTuple_SET_ITEM(names.get(), i, name);
    }
    return names;
}

std::array<Ref, widget_count> all_match_args() {
    return {match_args(click_sig),   match_args(toggle_sig),      match_args(confirm_sig),
            match_args(press_sig),   match_args(directional_sig), match_args(joystick_sig)};
}

Ref build_variant(std::size_t tag, PyTypeObject* base, PyObject* fields) {
    PyTypeObject* type = build_type(&variant_specs[tag], base);
    Ref owner = Ref::steal(as_object(type));
    set_class_attr(type, "__match_args__", fields);
    return owner;
}

// Until every class is complete the references are owned here, so a
// failure part-way leaves no half-built family behind.
Family build_family() {
    std::array<Ref, widget_count> fields = all_match_args();
    Ref base = Ref::steal(as_object(build_type(&base_spec)));
    PyTypeObject* base_type = reinterpret_cast<PyTypeObject*>(base.get());
    std::array<Ref, widget_count> variants;
    for (std::size_t tag = 0; tag < widget_count; ++tag) {
        variants[tag] = build_variant(tag, base_type, fields[tag].get());
        // The names are string literals, so the views end in a NUL.
        set_class_attr(base_type, widget_names[tag].data(), variants[tag].get());
    }
    Family family{reinterpret_cast<PyTypeObject*>(base.release()), {}};
    for (std::size_t tag = 0; tag < widget_count; ++tag) {
        family.variants[tag] = reinterpret_cast<PyTypeObject*>(variants[tag].release());
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
    return new_object_or_fatal<WidgetRegistry>(family().variants[value.tag()], value);
}

}  // namespace vantu::py
