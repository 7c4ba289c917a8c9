// Building a result frame from the values a Python caller passed.
#pragma once

#include <Python.h>

#include "base/frame.hpp"

namespace vantu {

// `data` must be a ConfirmResult or ErrorResult (or a subclass); its value
// is copied out. Anything else throws vantu::Fatal "Python data failed to
// be bound: ...". Borrows `data`; needs the interpreter lock.
ResultFrame new_result_frame(std::uint8_t id, ServerStatus status, PyObject* data);

}  // namespace vantu
