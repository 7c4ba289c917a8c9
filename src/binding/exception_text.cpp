// Taking the pending Python exception and rendering its text.
#include "binding/exception_text.hpp"

#include <Python.h>

#include <cstddef>
#include <utility>

#include "base/texts.hpp"
#include "binding/type.hpp"

namespace vantu::py {
namespace {

// Raw references below, each released on every path that returns: this runs
// on the serve thread, where an RAII owner could be unwound after the
// interpreter has ended the thread and the lock is no longer held.

// UTF-8 of a str; a lone surrogate, which UTF-8 cannot carry, becomes U+FFFD.
std::string to_utf8_lossy(PyObject* text) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size)) return {utf8, std::size_t(size)};
    PyErr_Clear();
    std::string out(texts::exception_str_failed);
    PyObject* units = PyUnicode_AsEncodedString(text, "utf-16-le", "surrogatepass");
    PyObject* fixed = units ? PyUnicode_DecodeUTF16(PyBytes_AsString(units),
                                                    PyBytes_Size(units), "replace", nullptr)
                            : nullptr;
    const char* utf8 = fixed ? PyUnicode_AsUTF8AndSize(fixed, &size) : nullptr;
    if (utf8) out.assign(utf8, std::size_t(size));
    PyErr_Clear();
    Py_XDECREF(fixed);
    Py_XDECREF(units);
    return out;
}

std::string exception_type_name(PyObject* exc) {
    PyObject* name = PyType_GetQualName(Py_TYPE(exc));
    if (!name) {
        PyErr_Clear();
        return py::type_name(Py_TYPE(exc));
    }
    std::string text = to_utf8_lossy(name);
    Py_DECREF(name);
    return text;
}

// The pending exception, normalized, with its traceback attached, and the
// traceback (new references); and its text.
std::string fetch_exception(PyObject*& exception, PyObject*& exception_traceback) {
#if PY_VERSION_HEX >= 0x030C0000
    // Normalized already, with its traceback attached.
    PyObject* value = PyErr_GetRaisedException();
    PyObject* traceback = value ? PyException_GetTraceback(value) : nullptr;
#else
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value && traceback) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
#endif
    std::string text = value ? exception_type_name(value) + ": " : "<unknown exception>: ";
    PyObject* str = value ? PyObject_Str(value) : nullptr;
    if (str) {
        text += to_utf8_lossy(str);
    } else {
        PyErr_Clear();
        text += texts::exception_str_failed;
    }
    Py_XDECREF(str);
    exception = value;
    exception_traceback = traceback;
    return text;
}

}  // namespace

std::string take_exception_text() {
    PyObject* exception = nullptr;
    PyObject* traceback = nullptr;
    std::string text = fetch_exception(exception, traceback);
    Py_XDECREF(traceback);
    Py_XDECREF(exception);
    return text;
}

RaisedException take_exception() {
    PyObject* exception = nullptr;
    PyObject* traceback = nullptr;
    std::string text = fetch_exception(exception, traceback);
    return {std::move(text), DeferredRef::steal(exception), DeferredRef::steal(traceback)};
}

}  // namespace vantu::py
