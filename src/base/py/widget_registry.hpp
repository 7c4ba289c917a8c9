// The Python classes of widget events: WidgetRegistry, its six variant
// classes (WidgetRegistry_ClickButton ... WidgetRegistry_Joystick, reached
// as WidgetRegistry.ClickButton ...) and Coord.
#pragma once

#include <Python.h>

#include "base/widget_registry.hpp"

namespace vantu::py {

// Built on first use, together with the six variant classes; borrowed.
// Throws ErrorAlreadySet when building fails.
PyTypeObject* widget_registry_type();

// A new object of the variant class matching the value's tag, holding a
// copy of the value. A failed allocation throws vantu::Fatal.
PyObject* widget_to_object(const WidgetRegistry& value);

}  // namespace vantu::py
