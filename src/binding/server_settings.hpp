// The conversions of the server's settings that take more than a scalar:
// the allow list, the web address, host names, the page's title.
#pragma once

#include <Python.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "server/allow_list.hpp"

namespace vantu::py {

// None, or a list or tuple of addresses and networks, each parsed here:
// TypeError for an entry that is not a str, ValueError naming a malformed one.
std::shared_ptr<const AllowList> to_allow_list(PyObject* value);

// None, or "HOST:PORT" checked without a lookup: ValueError for a text
// that is not one (a bare host or port, a port beyond 65535), TypeError
// for anything but a str or None.
std::optional<std::string> to_web_address(PyObject* value);

// A list or tuple of host names, each a str without spaces or a port.
std::vector<std::string> to_host_names(PyObject* value);

// A new tuple of the texts; null with an exception set on failure.
PyObject* str_tuple(const std::vector<std::string>& texts);

// The page's title when the program set none: the file name of the script
// it runs (sys.argv[0]), else the module's name.
std::string default_title();

}  // namespace vantu::py
