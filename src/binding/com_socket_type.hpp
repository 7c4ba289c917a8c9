// ComSocketServer as a Python class.
#pragma once

#include <Python.h>

#include <string_view>

#include "binding/exclusive.hpp"
#include "server/com_socket.hpp"

namespace vantu::py {

using ServerCell = Exclusive<ComSocketServer>;

// Built on first use; borrowed. Throws ErrorAlreadySet when building fails.
PyTypeObject* com_socket_server_type();

// A new server object of `type` (the class or a subclass) for `address`.
PyObject* new_com_socket_server(PyTypeObject* type, std::string_view address);

ServerCell& server_cell(PyObject* obj);

}  // namespace vantu::py
