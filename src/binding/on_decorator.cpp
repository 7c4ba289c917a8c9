// The module function on(server): the decorator it makes and the wrapper
// that the decorated name is then bound to.
#include "binding/on_decorator.hpp"

#include <cstddef>
#include <memory>
#include <string>

#include "base/identity_key.hpp"
#include "binding/args.hpp"
#include "binding/com_socket_type.hpp"
#include "binding/exception_text.hpp"
#include "binding/python_action.hpp"
#include "binding/ref.hpp"
#include "binding/type.hpp"

namespace vantu::py {
namespace {

[[noreturn]] void fail_unexpected(const char* step) {
    throw Fatal(std::string("unexpected error ") + step + ": " + take_exception_text());
}

std::string function_name(PyObject* func) {
    Ref name = Ref::steal(PyObject_GetAttrString(func, "__name__"));
    if (!name) fail_unexpected("reading the decorated function's __name__");
    if (!PyUnicode_Check(name.get())) {
        PyErr_Format(PyExc_TypeError, "__name__ must be str, not %.200s",
                     type_name(Py_TYPE(name.get())).c_str());
        fail_unexpected("reading the decorated function's __name__");
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(name.get(), &size);
    if (!text) fail_unexpected("reading the decorated function's __name__");
    return {text, static_cast<std::size_t>(size)};
}

// The wrapper that the decorated name is bound to: calls the function with
// the very same arguments.
PyObject* wrapper_call(PyObject* func, PyObject* args, PyObject* kwargs) {
    return boundary([&] { return PyObject_Call(func, args, kwargs); });
}

PyMethodDef wrapper_def = {"closure", reinterpret_cast<PyCFunction>(
                                          reinterpret_cast<void (*)()>(wrapper_call)),
                           METH_VARARGS | METH_KEYWORDS, ""};

// Keyword arguments and positional ones after the first are ignored.
PyObject* decorator_call(PyObject* server, PyObject* args, PyObject*) {
    return boundary([&]() -> PyObject* {
        if (PyTuple_Size(args) == 0) {
            PyErr_SetString(PyExc_IndexError, "tuple index out of range");
            throw_error_already_set();
        }
        PyObject* func = PyTuple_GetItem(args, 0);
        auto [id, widget] = extract_identity(function_name(func));
        try {
            ExclusiveAccess access(server_cell(server));
            access->on(id, widget, std::make_unique<PyAction>(func));
        } catch (const Error& e) {
            throw Fatal("unexpected error registering the decorated function: " + e.text());
        }
        PyObject* wrapper = PyCFunction_NewEx(&wrapper_def, func, nullptr);
        if (!wrapper) throw_error_already_set();
        return wrapper;
    });
}

PyMethodDef decorator_def = {"closure", reinterpret_cast<PyCFunction>(
                                            reinterpret_cast<void (*)()>(decorator_call)),
                             METH_VARARGS | METH_KEYWORDS, ""};

PyObject* on_call(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&]() -> PyObject* {
        static constexpr Signature<1> sig{"on", {"server"}};
        auto [server] = bind(sig, args, nargs, kwnames);
        to_instance({sig.function, "server"}, server, com_socket_server_type());
        PyObject* decorator = PyCFunction_NewEx(&decorator_def, server, nullptr);
        if (!decorator) throw_error_already_set();
        return decorator;
    });
}

PyMethodDef on_def = {"on", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(on_call)),
                      METH_FASTCALL | METH_KEYWORDS, "on(server)\n--\n\n"};

}  // namespace

PyMethodDef* on_function_def() { return &on_def; }

}  // namespace vantu::py
