// Building heap types and the constructor of classes without one.
#include "binding/type.hpp"

#include <cstddef>
#include <string>

#include "base/error.hpp"
#include "base/texts.hpp"
#include "binding/ref.hpp"

namespace vantu::py {

PyTypeObject* build_type(PyType_Spec* type_spec, PyTypeObject* base) {
    PyObject* type = PyType_FromSpecWithBases(type_spec, reinterpret_cast<PyObject*>(base));
    if (!type) throw_error_already_set();
    return reinterpret_cast<PyTypeObject*>(type);
}

namespace {

// The dict behind a type's read-only __dict__ proxy. The stable ABI has no
// accessor for it; the proxy hands its one referent to the collector.
PyObject* type_dict(PyTypeObject* type) {
    Ref proxy = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__dict__"));
    Ref gc = Ref::steal(PyImport_ImportModule("gc"));
    Ref referents = gc && proxy ? Ref::steal(PyObject_CallMethod(gc.get(), "get_referents", "O",
                                                                 proxy.get()))
                                : Ref();
    if (!referents) throw_error_already_set();
    if (PyList_Size(referents.get()) != 1 || !PyDict_Check(PyList_GetItem(referents.get(), 0))) {
        throw Fatal("the dict of type " + type_name(type) + " is out of reach");
    }
    return PyList_GetItem(referents.get(), 0);
}

// A str attribute of a type as UTF-8; empty when it is missing or no str.
std::string text_attr(PyTypeObject* type, const char* name) {
    Ref value = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), name));
    Py_ssize_t size = 0;
    const char* text = value && PyUnicode_Check(value.get())
                           ? PyUnicode_AsUTF8AndSize(value.get(), &size)
                           : nullptr;
    if (!text) {
        PyErr_Clear();
        return {};
    }
    return {text, static_cast<std::size_t>(size)};
}

}  // namespace

void set_class_attr(PyTypeObject* type, const char* name, PyObject* value) {
    // Immutable types refuse setattr; their dict is filled directly, once,
    // while the type is being built.
    if (PyDict_SetItemString(type_dict(type), name, value) < 0) throw_error_already_set();
    PyType_Modified(type);
}

std::string short_type_name(PyTypeObject* type) { return text_attr(type, "__name__"); }

std::string type_name(PyTypeObject* type) {
    // A static type's name is its module and its name, with the module
    // left out for builtins; a class statement's type is named by its name
    // alone, and this module's heap types carry "builtins.".
    std::string name = text_attr(type, "__name__");
    std::string module = text_attr(type, "__module__");
    const bool heap = PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE;
    if (module.empty() || (heap ? module != "builtins" : module == "builtins")) return name;
    return module + "." + name;
}

PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, texts::no_constructor.data());
    return nullptr;
}

}  // namespace vantu::py
