#include "server/server_com.hpp"

#include <charconv>

#include "base/console.hpp"
#include "base/error.hpp"
#include "base/py/widget_registry.hpp"
#include "binding/exception_text.hpp"

namespace vantu {
namespace {

// Calls the action with the event; false when it raised. Raw references:
// see ThreadGil.
bool call_action(PyObject* callable, const WidgetRegistry& data) {
    PyObject* event = py::widget_to_object(data);
    PyObject* result = PyObject_CallOneArg(callable, event);
    Py_DECREF(event);
    if (!result) return false;
    Py_DECREF(result);
    return true;
}

}  // namespace

void execute_action(const ActionTable& table, const Frame& frame, py::ThreadGil& gil) {
    IdentityKey key = frame.identity_key();
    auto found = table.find(key.view());
    if (found == table.end()) {
        print_line({"No key ", key.view(), " found"});
        return;
    }
    char digits[4];
    auto end = std::to_chars(digits, digits + sizeof digits, frame.id).ptr;
    print_line({"Found frame ! ", std::string_view(digits, end - digits)});

    PyObject* callable = found->second.callable.get();
    std::string failure = gil.run([&] {
        print_line({"running action"});
        if (!call_action(callable, frame.data)) return py::take_exception_text();
        print_line({"after function"});
        return std::string();
    });
    if (!failure.empty()) throw Error(failure);
}

}  // namespace vantu
