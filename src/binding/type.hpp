// Extension types: a C++ value inside a Python object, and type objects
// built once from static slot tables.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "binding/boundary.hpp"

namespace vantu::py {

// A Python object that holds one C++ value.
template <class T>
struct Object {
    PyObject_HEAD
    T value;
};

template <class T>
T& value_of(PyObject* obj) {
    return reinterpret_cast<Object<T>*>(obj)->value;
}

// tp_dealloc for Object<T> of a heap type.
template <class T>
void dealloc_object(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    value_of<T>(self).~T();
    reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free))(self);
    Py_DECREF(type);
}

// tp_dealloc for Object<T> of a heap type that takes part in garbage
// collection.
template <class T>
void dealloc_gc_object(PyObject* self) {
    PyObject_GC_UnTrack(self);
    dealloc_object<T>(self);
}

// A new instance of `type` (an Object<T> type) holding `value`.
template <class T, class... A>
PyObject* new_object(PyTypeObject* type, A&&... args) {
    PyObject* obj = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc))(type, 0);
    if (!obj) throw_error_already_set();
    new (&value_of<T>(obj)) T{std::forward<A>(args)...};
    return obj;
}

// Builds a heap type from its slot table; `base` may be null for object.
PyTypeObject* build_type(PyType_Spec* type_spec, PyTypeObject* base = nullptr);

// Stores a class attribute of an immutable type.
void set_class_attr(PyTypeObject* type, const char* name, PyObject* value);

// Text built at compile time into fixed storage, for the type names and
// docs that type specs point to for the life of the process.
template <std::size_t Capacity = 96>
struct ConstText {
    std::array<char, Capacity> chars{};
    std::size_t size = 0;

    constexpr ConstText& add(std::string_view text) {
        for (const char c : text) {
            if (size + 1 >= Capacity) throw "ConstText: too long";  // fails the build
            chars[size++] = c;
        }
        return *this;
    }
    constexpr const char* c_str() const { return chars.data(); }
    constexpr std::string_view view() const { return {chars.data(), size}; }
};

// A type's name without its module ("ComSocketServer" for the type named
// "builtins.ComSocketServer"): the form error messages use.
std::string short_type_name(PyTypeObject* type);

// The name the interpreter's own messages give a type: "int",
// "numpy.float64", a class statement's "Point", and this module's
// "builtins.ComSocketServer".
std::string type_name(PyTypeObject* type);

// tp_new of classes that Python code cannot instantiate.
PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*);

}  // namespace vantu::py
