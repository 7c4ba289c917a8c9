// The module function on(server): a decorator that registers a function
// under the widget name and identifier spelled in its own name.
#pragma once

#include <Python.h>

namespace vantu::py {

// The method definition of the module function `on`.
PyMethodDef* on_function_def();

}  // namespace vantu::py
