// The Python classes of the enumerations ServerStatus and Protocol: shared
// member objects, repr, int() and equality with members and integers.
#pragma once

#include <Python.h>

#include "base/server_status.hpp"
#include "binding/args.hpp"

namespace vantu::py {

// Built on first use; borrowed. Throw ErrorAlreadySet when building fails.
PyTypeObject* server_status_type();
PyTypeObject* protocol_type();

// Only a ServerStatus object is accepted (not an int); TypeError naming the
// argument otherwise.
ServerStatus to_server_status(ArgName arg, PyObject* obj);

}  // namespace vantu::py
