#include "binding/boundary.hpp"

#include "base/console.hpp"

namespace vantu::py {

PyObject* panic_exception_type() {
    static PyObject* type = nullptr;
    if (!type) {
        type = PyErr_NewExceptionWithDoc(
            "vantu_protocol.PanicException",
            "An unrecoverable failure inside vantu_protocol.", PyExc_BaseException, nullptr);
    }
    return type;
}

void raise_panic(std::string_view message) {
    report_fatal(message);
    PyObject* type = panic_exception_type();
    if (!type) return;
    PyObject* text = PyUnicode_DecodeUTF8(message.data(), message.size(), "replace");
    if (!text) return;
    PyErr_SetObject(type, text);
    Py_DECREF(text);
}

void raise_runtime_error(std::string_view message) {
    PyObject* text = PyUnicode_DecodeUTF8(message.data(), message.size(), "replace");
    if (!text) return;
    PyErr_SetObject(PyExc_RuntimeError, text);
    Py_DECREF(text);
}

}  // namespace vantu::py
