// Building heap types and the constructor of classes without one.
#include "binding/type.hpp"

#include "base/texts.hpp"

namespace vantu::py {

PyTypeObject* build_type(PyType_Spec* type_spec, PyTypeObject* base) {
    PyObject* type = PyType_FromSpecWithBases(type_spec, reinterpret_cast<PyObject*>(base));
    if (!type) throw_error_already_set();
    return reinterpret_cast<PyTypeObject*>(type);
}

void set_class_attr(PyTypeObject* type, const char* name, PyObject* value) {
    // Immutable types refuse setattr; their dict is filled directly, once,
    // while the type is being built.
    if (PyDict_SetItemString(type->tp_dict, name, value) < 0) throw_error_already_set();
    PyType_Modified(type);
}

PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, texts::no_constructor.data());
    return nullptr;
}

}  // namespace vantu::py
