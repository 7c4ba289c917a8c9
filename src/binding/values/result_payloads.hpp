// The Python payload classes of result frames, ConfirmResult(status) and
// ErrorResult(error), and the conversion of the object a caller passes.
#pragma once

#include <Python.h>

#include "base/result_frame.hpp"

namespace vantu::py {

// Built on first use; borrowed. Throw ErrorAlreadySet when building fails.
PyTypeObject* confirm_result_type();
PyTypeObject* error_result_type();

// The payload that a ConfirmResult or ErrorResult object (or an instance
// of a subclass) holds; an error text is viewed in the object, which cannot
// change. Any other object throws vantu::Fatal
// "Python data failed to be bound: ...".
ResultRegistry to_result_payload(PyObject* data);

}  // namespace vantu::py
