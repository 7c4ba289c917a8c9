// The Python classes of widget events: WidgetRegistry, one class for each
// widget kind (WidgetRegistry_ClickButton ..., reached as
// WidgetRegistry.ClickButton ...) and Coord, all made from the table of
// widget kinds.
#pragma once

#include <Python.h>

#include "base/widget_kinds.hpp"

namespace vantu::py {

// Built on first use, together with the kinds' classes; borrowed. Throws
// ErrorAlreadySet when building fails.
PyTypeObject* widget_registry_type();

// A new object of the class of the value's kind, holding a copy of the
// value. A failed allocation throws vantu::Fatal.
PyObject* widget_to_object(const WidgetRegistry& value);

}  // namespace vantu::py
