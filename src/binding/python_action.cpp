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

// The text of attribute `name` of `object` if it is a str; empty otherwise,
// with any error of the lookup cleared.
std::string text_attribute(PyObject* object, const char* name) {
    PyObject* value = PyObject_GetAttrString(object, name);
    std::string text;
    if (value && PyUnicode_Check(value)) {
        Py_ssize_t size = 0;
        if (const char* bytes = PyUnicode_AsUTF8AndSize(value, &size)) text.assign(bytes, size);
    }
    Py_XDECREF(value);
    PyErr_Clear();
    return text;
}

std::string first_line(std::string_view text) {
    const std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) return {};
    text = text.substr(start, text.find_first_of("\r\n", start) - start);
    return std::string(text.substr(0, text.find_last_not_of(" \t") + 1));
}

}  // namespace

std::string action_label(PyObject* callable) {
    if (std::string doc = first_line(text_attribute(callable, "__doc__")); !doc.empty()) return doc;
    std::string name = text_attribute(callable, "__name__");
    return name == "<lambda>" ? std::string() : name;
}

std::unique_ptr<ActionRunner> make_python_runner() {
    return std::make_unique<PythonActionRunner>();
}

}  // namespace vantu::py
