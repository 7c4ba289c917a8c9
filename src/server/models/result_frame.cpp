#include "server/models/result_frame.hpp"

#include <string>

#include "base/error.hpp"
#include "server/models/result_payload.hpp"

namespace vantu {
namespace {

// Why neither payload class accepted the object, one reason per variant
// of the binding, so the message says what would have been accepted.
std::string binding_failure(PyObject* data) {
    const std::string type = _PyType_Name(Py_TYPE(data));
    return "failed to extract enum ResultBinding ('Confirm | Error'): variant Confirm: '" + type +
           "' object cannot be converted to 'ConfirmResult'; variant Error: '" + type +
           "' object cannot be converted to 'ErrorResult'";
}

// Copies the payload out of the Python object: the frame outlives it.
ResultRegistry bind_result(PyObject* data) {
    if (const result::ConfirmResult* confirm = py::confirm_result_of(data)) return *confirm;
    if (const result::ErrorResult* error = py::error_result_of(data)) return *error;
    throw Fatal("Python data failed to be bound: " + binding_failure(data));
}

}  // namespace

ResultFrame new_result_frame(std::uint8_t id, ServerStatus status, PyObject* data) {
    return ResultFrame{id, status, bind_result(data)};
}

}  // namespace vantu
