// Binding of call arguments to named parameters, and the conversions of
// single arguments. Every failure raises the Python error naming the
// parameter and throws ErrorAlreadySet.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "binding/boundary.hpp"

namespace vantu::py {

template <std::size_t N>
struct Signature {
    const char* function;                // as shown in messages: "callback"
    std::array<const char*, N> names;    // parameter names, in order
    std::size_t required = N;            // the parameters after these may be left out
};

struct Parameters {
    const char* function;
    const char* const* names;
    std::size_t count;
    std::size_t required;
};

void bind_vector(const Parameters& params, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames, PyObject** out);
void bind_tuple(const Parameters& params, PyObject* args, PyObject* kwargs, PyObject** out);

// Arguments of a METH_FASTCALL | METH_KEYWORDS call, in parameter order
// (borrowed references; null for an optional one left out).
template <std::size_t N>
std::array<PyObject*, N> bind(const Signature<N>& sig, PyObject* const* args,
                              Py_ssize_t nargs, PyObject* kwnames) {
    std::array<PyObject*, N> out{};
    bind_vector({sig.function, sig.names.data(), N, sig.required}, args, nargs, kwnames,
                out.data());
    return out;
}

// Arguments of a tp_new call.
template <std::size_t N>
std::array<PyObject*, N> bind(const Signature<N>& sig, PyObject* args, PyObject* kwargs) {
    std::array<PyObject*, N> out{};
    bind_tuple({sig.function, sig.names.data(), N, sig.required}, args, kwargs, out.data());
    return out;
}

// Identifies one argument in error messages; an attribute has no function.
struct ArgName {
    const char* function;
    const char* name;
};

// A str, as UTF-8 that lives as long as the object.
std::string_view to_str(ArgName arg, PyObject* obj);
// An int (or anything with __index__) from 0 to 255; OverflowError outside.
std::uint8_t to_u8(ArgName arg, PyObject* obj);
// Only bool, or a NumPy boolean scalar: an int is not a truth value here.
bool to_bool(ArgName arg, PyObject* obj);
// What float() accepts: float, int, __float__, __index__.
double to_double(ArgName arg, PyObject* obj);
// An instance of `type` or of a subclass.
PyObject* to_instance(ArgName arg, PyObject* obj, PyTypeObject* type);

// A number of seconds: a float or an int (not a bool), finite, not
// negative and, where `zero_allowed` is false, above zero; None (or a
// parameter left out, obj null) gives nothing where `none_allowed`.
// TypeError or ValueError naming the argument otherwise.
struct SecondsRule {
    bool none_allowed;
    bool zero_allowed;
};
std::optional<double> to_seconds(ArgName arg, PyObject* obj, SecondsRule rule);

}  // namespace vantu::py
