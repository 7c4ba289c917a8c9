#include "server/server_com.hpp"

#include <charconv>

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

std::optional<ActionFailure> execute_action(const FrameIndex& actions, const Frame& frame,
                                            py::ThreadGil& gil, const Progress& progress) {
    const Action* action = actions.find(frame.data.tag(), frame.id);
    if (!action) {
        progress.line({"No key ", frame.identity_key().view(), " found"});
        return std::nullopt;
    }
    char digits[4];
    auto end = std::to_chars(digits, digits + sizeof digits, frame.id).ptr;
    progress.line({"Found frame ! ", std::string_view(digits, end - digits)});

    PyObject* callable = action->callable.get();
    return gil.run([&]() -> std::optional<ActionFailure> {
        progress.line({"running action"});
        if (!call_action(callable, frame.data)) {
            py::RaisedException raised = py::take_exception();
            return ActionFailure{std::move(raised.text), std::move(raised.exception)};
        }
        progress.line({"after function"});
        return std::nullopt;
    });
}

}  // namespace vantu
