// The serve loop's calls into Python.
#include "binding/python_action.hpp"

#include <optional>
#include <utility>

#include "binding/exception_text.hpp"
#include "binding/gil.hpp"
#include "binding/values/widget_events.hpp"

namespace vantu::py {
namespace {

class PythonActionRunner final : public ActionRunner {
public:
    std::optional<ActionFailure> run(const Action& action, const WidgetRegistry& event) override {
        // The server only holds actions that on() made, all of them PyAction.
        PyObject* callable = static_cast<const PyAction&>(action).callable();
        return gil_.run([&]() -> std::optional<ActionFailure> {
            if (!call(callable, event)) return failure();
            return std::nullopt;
        });
    }

    void pause() override { gil_.let_go(); }
    void finish() override { gil_.finish(); }

private:
    // Raw references: see ThreadGil.
    static bool call(PyObject* callable, const WidgetRegistry& event) {
        PyObject* object = widget_to_object(event);
        PyObject* result = PyObject_CallFunctionObjArgs(callable, object, nullptr);
        Py_DECREF(object);
        if (!result) return false;
        Py_DECREF(result);
        return true;
    }

    static ActionFailure failure() {
        RaisedException raised = take_exception();
        return {std::move(raised.text), std::make_unique<PyException>(std::move(raised.value),
                                                                      std::move(raised.traceback))};
    }

    ThreadGil gil_;
};

}  // namespace

std::unique_ptr<ActionRunner> make_python_runner() {
    return std::make_unique<PythonActionRunner>();
}

}  // namespace vantu::py
