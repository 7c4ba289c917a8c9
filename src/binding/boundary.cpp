// The translation of C++ exceptions into Python ones.
#include "binding/boundary.hpp"

#include <new>

#include "base/console.hpp"
#include "base/error.hpp"

namespace vantu::py {

void raise_text(PyObject* type, std::string_view text) {
    PyObject* message = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                             "replace");
    if (!message) return;
    PyErr_SetObject(type, message);
    Py_DECREF(message);
}

PyObject* panic_exception_type() {
    static PyObject* type = nullptr;
    if (!type) {
        type = PyErr_NewExceptionWithDoc(
            "vantu_protocol.PanicException",
            "An unrecoverable failure inside vantu_protocol.", PyExc_BaseException, nullptr);
    }
    return type;
}

void raise_from(const std::exception& error) {
    if (const auto* fatal = dynamic_cast<const Fatal*>(&error)) {
        report_fatal(fatal->text());
        if (PyObject* type = panic_exception_type()) raise_text(type, fatal->text());
    } else if (const auto* timeout = dynamic_cast<const TimeoutError*>(&error)) {
        raise_text(PyExc_TimeoutError, timeout->text());
    } else if (const auto* failure = dynamic_cast<const Error*>(&error)) {
        raise_text(PyExc_RuntimeError, failure->text());
    } else if (dynamic_cast<const std::bad_alloc*>(&error)) {
        PyErr_NoMemory();
    } else {
        raise_text(PyExc_RuntimeError, error.what());
    }
}

}  // namespace vantu::py
