// The one place where C++ errors become Python exceptions. Every function
// that Python calls runs its body through `boundary`.
#pragma once

#include <Python.h>

#include <exception>
#include <string_view>
#include <utility>

#include "binding/pending_release.hpp"

namespace vantu::py {

// Thrown when the Python error indicator is already set: the pending
// exception is re-raised unchanged.
struct ErrorAlreadySet {};

[[noreturn]] inline void throw_error_already_set() { throw ErrorAlreadySet{}; }

// The class raised for fatal errors, derived from BaseException so that
// `except Exception` does not swallow it; created on first use.
PyObject* panic_exception_type();

// Sets a Python exception of `type` with the whole text, NUL bytes included.
void raise_text(PyObject* type, std::string_view text);

// Sets the Python exception for a C++ one: PanicException for vantu::Fatal
// (its text also goes to standard error), TimeoutError, RuntimeError for
// vantu::Error and any other standard exception, MemoryError for bad_alloc.
void raise_from(const std::exception& error);

// Runs `body` and converts whatever it throws; `failed` is what the caller
// of a slot expects on error (nullptr, -1). References dropped meanwhile
// without the lock are released on the way in and out. There is
// deliberately no catch (...): a thread ended by the interpreter during
// finalization is unwound by a foreign exception that must pass through.
template <class Body, class Ret = decltype(std::declval<Body>()())>
Ret boundary(Body&& body, Ret failed = Ret{}) {
    drain_pending_releases();
    try {
        Ret result = body();
        drain_pending_releases();
        return result;
    } catch (const ErrorAlreadySet&) {
    } catch (const std::exception& error) {
        raise_from(error);
    }
    drain_pending_releases();
    return failed;
}

}  // namespace vantu::py
