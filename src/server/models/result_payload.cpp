#include "server/models/result_payload.hpp"

#include <string>

#include "binding/args.hpp"
#include "binding/type.hpp"

namespace vantu::py {
namespace {

PyObject* confirm_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Signature<1> sig{"ConfirmResult", {"status"}};
        auto [status] = bind(sig, args, kwargs);
        return new_object<result::ConfirmResult>(type, to_bool({sig.function, "status"}, status));
    });
}

PyObject* error_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return boundary([&] {
        static constexpr Signature<1> sig{"ErrorResult", {"error"}};
        auto [error] = bind(sig, args, kwargs);
        // Copied before the object exists, so that a failed copy leaves no
        // half-built object behind.
        std::string text(to_str({sig.function, "error"}, error));
        return new_object<result::ErrorResult>(type, std::move(text));
    });
}

PyType_Slot confirm_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(confirm_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<result::ConfirmResult>)},
    {Py_tp_doc, const_cast<char*>("ConfirmResult(status)\n--\n\n")},
    {0, nullptr},
};

PyType_Slot error_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(error_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<result::ErrorResult>)},
    {Py_tp_doc, const_cast<char*>("ErrorResult(error)\n--\n\n")},
    {0, nullptr},
};

constexpr unsigned payload_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;

PyType_Spec confirm_spec = {
    "builtins.ConfirmResult", sizeof(Object<result::ConfirmResult>), 0, payload_flags,
    confirm_slots,
};

PyType_Spec error_spec = {
    "builtins.ErrorResult", sizeof(Object<result::ErrorResult>), 0, payload_flags, error_slots,
};

}  // namespace

PyTypeObject* confirm_result_type() {
    static PyTypeObject* type = build_type(&confirm_spec);
    return type;
}

PyTypeObject* error_result_type() {
    static PyTypeObject* type = build_type(&error_spec);
    return type;
}

const result::ConfirmResult* confirm_result_of(PyObject* obj) {
    if (!PyObject_TypeCheck(obj, confirm_result_type())) return nullptr;
    return &value_of<result::ConfirmResult>(obj);
}

const result::ErrorResult* error_result_of(PyObject* obj) {
    if (!PyObject_TypeCheck(obj, error_result_type())) return nullptr;
    return &value_of<result::ErrorResult>(obj);
}

}  // namespace vantu::py
