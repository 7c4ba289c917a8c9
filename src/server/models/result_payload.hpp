// The Python payload classes of result frames, ConfirmResult(status) and
// ErrorResult(error).
#pragma once

#include <Python.h>

#include "base/widget_registry.hpp"

namespace vantu::py {

// Built on first use; borrowed. Throw ErrorAlreadySet when building fails.
PyTypeObject* confirm_result_type();
PyTypeObject* error_result_type();

// The payload held by a ConfirmResult, respectively ErrorResult, object
// (or an instance of a subclass); null for any other object. The pointer
// lives as long as the object.
const result::ConfirmResult* confirm_result_of(PyObject* obj);
const result::ErrorResult* error_result_of(PyObject* obj);

}  // namespace vantu::py
