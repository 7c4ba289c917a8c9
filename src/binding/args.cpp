// Binding arguments to parameters, and converting single arguments.
#include "binding/args.hpp"

#include "binding/type.hpp"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <string>

namespace vantu::py {
namespace {

// "callback() argument 'id'", or for an attribute just its name.
std::string subject(ArgName arg) {
    if (!arg.function) return arg.name;
    return std::string(arg.function) + "() argument '" + arg.name + "'";
}

[[noreturn]] void fail_type(ArgName arg, const char* expected, PyObject* obj) {
    PyErr_Format(PyExc_TypeError, "%s must be %s, not %.200s", subject(arg).c_str(), expected,
                 type_name(Py_TYPE(obj)).c_str());
    throw_error_already_set();
}

// The keyword's position among the parameters, or -1.
Py_ssize_t find_name(const char* const* names, std::size_t count, PyObject* key) {
    if (!PyUnicode_Check(key)) return -1;
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(key, &size);
    if (!text) {
        PyErr_Clear();
        return -1;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (std::strlen(names[i]) == static_cast<std::size_t>(size) &&
            std::memcmp(names[i], text, size) == 0) {
            return static_cast<Py_ssize_t>(i);
        }
    }
    return -1;
}

void place_keyword(const Parameters& params, PyObject* key, PyObject* value, PyObject** out) {
    Py_ssize_t at = find_name(params.names, params.count, key);
    if (at < 0) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'",
                     params.function, key);
        throw_error_already_set();
    }
    if (out[at]) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                     params.function, params.names[at]);
        throw_error_already_set();
    }
    out[at] = value;
}

void check_positional_count(const Parameters& params, Py_ssize_t nargs) {
    const std::size_t count = params.count;
    if (static_cast<std::size_t>(nargs) > count) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zu positional argument%s but %zd %s given",
                     params.function, count, count == 1 ? "" : "s", nargs,
                     nargs == 1 ? "was" : "were");
        throw_error_already_set();
    }
}

void place_positional(const Parameters& params, PyObject* const* args, Py_ssize_t nargs,
                      PyObject** out) {
    check_positional_count(params, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
}

void check_complete(const Parameters& params, PyObject** out) {
    for (std::size_t i = 0; i < params.required; ++i) {
        if (!out[i]) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)",
                         params.function, params.names[i], i + 1);
            throw_error_already_set();
        }
    }
}

}  // namespace

void bind_vector(const Parameters& params, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames, PyObject** out) {
    place_positional(params, args, nargs, out);
    Py_ssize_t nkw = kwnames ? PyTuple_Size(kwnames) : 0;
    for (Py_ssize_t i = 0; i < nkw; ++i) {
        place_keyword(params, PyTuple_GetItem(kwnames, i), args[nargs + i], out);
    }
    check_complete(params, out);
}

void bind_tuple(const Parameters& params, PyObject* args, PyObject* kwargs, PyObject** out) {
    const Py_ssize_t nargs = PyTuple_Size(args);
    check_positional_count(params, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GetItem(args, i);
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (kwargs && PyDict_Next(kwargs, &pos, &key, &value)) {
        place_keyword(params, key, value, out);
    }
    check_complete(params, out);
}

std::string_view to_str(ArgName arg, PyObject* obj) {
    if (!PyUnicode_Check(obj)) fail_type(arg, "str", obj);
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(obj, &size);
    if (!text) throw_error_already_set();  // lone surrogates
    return {text, static_cast<std::size_t>(size)};
}

std::uint8_t to_u8(ArgName arg, PyObject* obj) {
    int overflow = 0;
    long value = 0;
    if (PyLong_Check(obj)) {
        value = PyLong_AsLongAndOverflow(obj, &overflow);
    } else if (PyIndex_Check(obj)) {
        PyObject* index = PyNumber_Index(obj);
        if (!index) throw_error_already_set();
        value = PyLong_AsLongAndOverflow(index, &overflow);
        Py_DECREF(index);
        if (value == -1 && PyErr_Occurred()) throw_error_already_set();
    } else {
        fail_type(arg, "int", obj);
    }
    if (overflow || value < 0 || value > 255) {
        PyErr_Format(PyExc_OverflowError,
                     "%s() argument '%s' must be an integer from 0 to 255", arg.function,
                     arg.name);
        throw_error_already_set();
    }
    return static_cast<std::uint8_t>(value);
}

namespace {

// NumPy's boolean scalar, recognised by name so that NumPy stays optional.
bool is_numpy_bool(PyObject* obj) {
    const std::string name = type_name(Py_TYPE(obj));
    return name == "numpy.bool_" || name == "numpy.bool";
}

}  // namespace

bool to_bool(ArgName arg, PyObject* obj) {
    if (PyBool_Check(obj)) return obj == Py_True;
    if (!is_numpy_bool(obj)) fail_type(arg, "bool", obj);
    int truth = PyObject_IsTrue(obj);
    if (truth < 0) throw_error_already_set();
    return truth != 0;
}

double to_double(ArgName arg, PyObject* obj) {
    if (PyFloat_CheckExact(obj)) return PyFloat_AsDouble(obj);
    double value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) {
        // A TypeError from the conversion itself is re-worded to name the
        // argument; an error raised inside __float__ stays as it is.
        if (!PyErr_ExceptionMatches(PyExc_TypeError) ||
            PyType_GetSlot(Py_TYPE(obj), Py_nb_float)) {
            throw_error_already_set();
        }
        PyErr_Clear();
        fail_type(arg, "a real number", obj);
    }
    return value;
}

std::optional<double> to_seconds(ArgName arg, PyObject* obj, SecondsRule rule) {
    if (rule.none_allowed && (!obj || obj == Py_None)) return std::nullopt;
    const bool number = PyFloat_Check(obj) || (PyLong_Check(obj) && !PyBool_Check(obj));
    if (!number) {
        fail_type(arg,
                  rule.none_allowed ? "None or a number of seconds (float or int)"
                                    : "a number of seconds (float or int)",
                  obj);
    }
    double value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();  // an int beyond any float: no finite number of seconds
        value = HUGE_VAL;
    }
    const bool valid = std::isfinite(value) && (rule.zero_allowed ? value >= 0 : value > 0);
    if (!valid) {
        PyErr_Format(PyExc_ValueError, "%s must be a finite number of seconds %s, not %R",
                     subject(arg).c_str(), rule.zero_allowed ? "of 0 or more" : "above 0", obj);
        throw_error_already_set();
    }
    return value;
}

PyObject* to_instance(ArgName arg, PyObject* obj, PyTypeObject* type) {
    if (!PyObject_TypeCheck(obj, type)) {
        fail_type(arg, short_type_name(type).c_str(), obj);
    }
    return obj;
}

}  // namespace vantu::py
