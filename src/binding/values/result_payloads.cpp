// The result payload classes and the binding of a payload object.
#include "binding/values/result_payloads.hpp"

#include <string>
#include <utility>

#include "base/error.hpp"
#include "base/texts.hpp"
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
        return new_object<std::string>(type, std::move(text));
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
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<std::string>)},
    {Py_tp_doc, const_cast<char*>("ErrorResult(error)\n--\n\n")},
    {0, nullptr},
};

constexpr unsigned payload_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;

constexpr auto confirm_name = ConstText<>().add(texts::type_module).add(result_names[0]);
constexpr auto error_name = ConstText<>().add(texts::type_module).add(result_names[1]);

PyType_Spec confirm_spec = {
    confirm_name.c_str(), sizeof(Object<result::ConfirmResult>), 0, payload_flags, confirm_slots,
};

PyType_Spec error_spec = {
    error_name.c_str(), sizeof(Object<std::string>), 0, payload_flags, error_slots,
};

// Why neither payload class accepted the object, one reason per variant
// of the binding, so the message says what would have been accepted.
std::string binding_failure(PyObject* data) {
    const std::string type = short_type_name(Py_TYPE(data));
    return std::string(texts::unbound_confirm) + type + std::string(texts::unbound_error) + type +
           std::string(texts::unbound_end);
}

}  // namespace

PyTypeObject* confirm_result_type() {
    static PyTypeObject* type = build_type(&confirm_spec);
    return type;
}

PyTypeObject* error_result_type() {
    static PyTypeObject* type = build_type(&error_spec);
    return type;
}

ResultRegistry to_result_payload(PyObject* data) {
    if (PyObject_TypeCheck(data, confirm_result_type())) {
        return value_of<result::ConfirmResult>(data);
    }
    if (PyObject_TypeCheck(data, error_result_type())) {
        return result::ErrorResult{value_of<std::string>(data)};
    }
    throw Fatal(std::string(texts::payload_unbound) + binding_failure(data));
}

}  // namespace vantu::py
