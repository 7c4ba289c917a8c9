// Actions and exceptions as the server keeps them, and the runner through
// which a serve loop calls Python: the one place where the serve thread
// touches the interpreter.
#pragma once

#include <Python.h>

#include <memory>
#include <string>
#include <utility>

#include "binding/pending_release.hpp"
#include "server/action_runner.hpp"
#include "server/handle.hpp"
#include "server/models/action_table.hpp"

namespace vantu::py {

// What the web page calls an action's widget: the first line of its
// docstring, else its __name__ unless that is "<lambda>"; else empty.
// Needs the interpreter lock; never raises.
std::string action_label(PyObject* callable);

// A registered Python object, normally a callable (nothing checks that it
// is). Copies for a serve loop hold references of their own, so that the
// garbage collector sees each holder.
class PyAction final : public Action {
public:
    // Takes a new reference; needs the interpreter lock.
    explicit PyAction(PyObject* callable) : callable_(DeferredRef::steal(Py_NewRef(callable))) {}
    std::unique_ptr<Action> clone() const override {
        return std::make_unique<PyAction>(callable_.get());
    }
    PyObject* callable() const { return callable_.get(); }
    std::string label() const override { return action_label(callable_.get()); }

private:
    DeferredRef callable_;
};

// The exception an action raised, with the traceback it had when it was
// caught: raising it again starts from that traceback, so raising it many
// times does not grow it.
class PyException final : public Handle {
public:
    PyException(DeferredRef value, DeferredRef traceback)
        : value_(std::move(value)), traceback_(std::move(traceback)) {}
    PyObject* value() const { return value_.get(); }
    PyObject* traceback() const { return traceback_.get(); }

private:
    DeferredRef value_;
    DeferredRef traceback_;
};

// What a server's serve loops run their actions with.
std::unique_ptr<ActionRunner> make_python_runner();

}  // namespace vantu::py
