// The one place where C++ errors become Python exceptions. Every function
// that Python calls runs its body through `boundary`.
#pragma once

#include <Python.h>

#include <new>
#include <string_view>

#include "base/error.hpp"
#include "binding/pending_release.hpp"

namespace vantu::py {

// Thrown when the Python error indicator is already set: the pending
// exception is re-raised unchanged.
struct ErrorAlreadySet {};

[[noreturn]] inline void throw_error_already_set() { throw ErrorAlreadySet{}; }

// The class raised for fatal errors, derived from BaseException so that
// `except Exception` does not swallow it; created on first use.
PyObject* panic_exception_type();

// Writes the message to standard error and raises PanicException(message).
void raise_panic(std::string_view message);

void raise_runtime_error(std::string_view message);

// Runs `body` and converts whatever it throws; `failed` is what the caller
// of a slot expects on error (nullptr, -1). There is deliberately no
// catch (...): a thread ended by the interpreter during finalization is
// unwound by a foreign exception that must pass through untouched.
template <class Body, class Ret = decltype(std::declval<Body>()())>
Ret boundary(Body&& body, Ret failed = Ret{}) {
    try {
        drain_pending_releases();
        return body();
    } catch (const ErrorAlreadySet&) {
    } catch (const Fatal& e) {
        raise_panic(e.what());
    } catch (const TimeoutError& e) {
        PyErr_SetString(PyExc_TimeoutError, e.what());
    } catch (const Error& e) {
        raise_runtime_error(e.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
    return failed;
}

}  // namespace vantu::py
