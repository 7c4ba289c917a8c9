// The module entry point and VantuPiServer, the factory class.
#include <Python.h>

#include <string_view>

#include "base/texts.hpp"
#include "binding/args.hpp"
#include "binding/com_socket_type.hpp"
#include "binding/on_decorator.hpp"
#include "binding/ref.hpp"
#include "binding/type.hpp"
#include "binding/values/enums.hpp"
#include "binding/values/result_payloads.hpp"
#include "binding/values/widget_events.hpp"

namespace vantu::py {
namespace {

PyObject* use_socket(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return boundary([&] {
        static constexpr Signature<1> sig{"use_socket", {"address"}};
        auto [address] = bind(sig, args, nargs, kwnames);
        std::string_view text = to_str({sig.function, "address"}, address);
        return new_com_socket_server(com_socket_server_type(), text);
    });
}

PyMethodDef factory_methods[] = {
    {"use_socket", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(use_socket)),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC, "use_socket(address)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot factory_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(no_constructor)},
    {Py_tp_methods, factory_methods},
    {0, nullptr},
};

constexpr auto factory_name = ConstText<>().add(texts::type_module).add("VantuPiServer");

PyType_Spec factory_spec = {
    factory_name.c_str(), sizeof(PyObject), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, factory_slots,
};

PyTypeObject* vantu_pi_server_type() {
    static PyTypeObject* type = build_type(&factory_spec);
    return type;
}

// Appends `name` to __all__ (created on first use), then sets the attribute.
void add_export(PyObject* module, const char* name, PyObject* value) {
    Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_error_already_set();
        PyErr_Clear();
        all = Ref::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
            throw_error_already_set();
        }
    }
    if (!PyList_Check(all.get())) {
        PyErr_SetString(PyExc_TypeError, "__all__ must be a list");
        throw_error_already_set();
    }
    Ref text = Ref::steal(PyUnicode_FromString(name));
    if (!text || PyList_Append(all.get(), text.get()) < 0 ||
        PyObject_SetAttr(module, text.get(), value) < 0) {
        throw_error_already_set();
    }
}

void add_type(PyObject* module, PyTypeObject* type) {
    add_export(module, short_type_name(type).c_str(), reinterpret_cast<PyObject*>(type));
}

void add_function(PyObject* module, PyMethodDef* def) {
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) throw_error_already_set();
    Ref func = Ref::steal(PyCFunction_NewEx(def, module, module_name.get()));
    if (!func) throw_error_already_set();
    Ref name = Ref::steal(PyObject_GetAttrString(func.get(), "__name__"));
    const char* text = name ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
    if (!text) throw_error_already_set();
    add_export(module, text, func.get());
}

void module_body(PyObject* module) {
    add_type(module, vantu_pi_server_type());
    add_type(module, com_socket_server_type());
    add_type(module, protocol_type());
    add_type(module, server_status_type());
    add_type(module, confirm_result_type());
    add_type(module, error_result_type());
    add_type(module, widget_registry_type());
    add_function(module, on_function_def());
}

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "vantu_protocol",
    "Remote control of a Python program from a phone or tablet.\n"
    "A client sends one MessagePack frame per widget event over TCP;\n"
    "registered Python callables handle them and answer with result frames.",
    0,
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyObject* cached_module = nullptr;

PyObject* init_module() {
    // The classes and the module are made once per process, so they belong
    // to the main interpreter, the one that lives as long as the process: a
    // sub-interpreter that made them would free them when it ends, and a
    // sub-interpreter that came first would lock the main one out. (Python
    // 3.13 runs a first import from a sub-interpreter in the main
    // interpreter, then here again for the sub-interpreter.)
    if (PyInterpreterState_GetID(PyInterpreterState_Get()) != 0) {
        PyErr_SetString(PyExc_ImportError,
                        "vantu_protocol does not support sub-interpreters: it can be "
                        "imported in the main interpreter only");
        return nullptr;
    }
    if (cached_module) return Py_NewRef(cached_module);
    return boundary([]() -> PyObject* {
        Ref module = Ref::steal(PyModule_Create(&module_def));
        if (!module) throw_error_already_set();
        module_body(module.get());
        cached_module = Py_NewRef(module.get());
        return module.release();
    });
}

}  // namespace
}  // namespace vantu::py

PyMODINIT_FUNC PyInit_vantu_protocol() { return vantu::py::init_module(); }
