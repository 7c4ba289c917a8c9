// How a method that blocks waits for its descriptors: accept(), wait() and
// callback() give the interpreter lock and their object back for the wait,
// so that other threads (and the actions of a serve loop) run and may call
// the object's methods; open() keeps both, as it always has. Either runs
// Python's signal handlers while it waits, so that Ctrl-C ends it.
#pragma once

#include <Python.h>

#include <exception>
#include <span>

#include "binding/boundary.hpp"
#include "binding/exclusive.hpp"
#include "server/poll.hpp"

namespace vantu::py {

// Runs `body` without the interpreter lock. The lock is taken back outside
// any destructor or handler: at exit, taking it may end the thread with a
// forced unwind (Python 3.11 to 3.13), which must not start in either.
template <class Body>
Woken without_gil(Body&& body) {
    std::exception_ptr failure;
    Woken woken = Woken::interrupted;
    PyThreadState* state = PyEval_SaveThread();
    try {
        woken = body();
    } catch (...) {
        failure = std::current_exception();
    }
    PyEval_RestoreThread(state);
    if (failure) std::rethrow_exception(failure);
    return woken;
}

template <class T>
class ReleasingWaiter final : public Waiter {
public:
    // For a call that holds `cell` through an ExclusiveAccess.
    explicit ReleasingWaiter(Exclusive<T>& cell) : cell_(cell) {}

    Woken wait(std::span<pollfd> fds, const Deadline& deadline) override {
        for (;;) {
            const Woken woken = wait_once(fds, deadline);
            if (woken != Woken::interrupted) return woken;
            if (PyErr_CheckSignals() < 0) throw_error_already_set();
        }
    }

private:
    Woken wait_once(std::span<pollfd> fds, const Deadline& deadline) {
        // The flag is only touched under the interpreter lock: other methods
        // may take the object while this one waits, and have let it go again
        // by the time the lock comes back.
        cell_.busy = false;
        struct Retake {
            Exclusive<T>& cell;
            ~Retake() { cell.busy = true; }
        } retake{cell_};
        return without_gil([&] { return poll_until(fds, deadline, OnSignal::wake); });
    }

    Exclusive<T>& cell_;
};

// Keeps the interpreter lock: waits in short slices and runs the signal
// handlers between them, as a signal may have reached another thread. The
// deadline is checked between slices.
class HoldingWaiter final : public Waiter {
public:
    Woken wait(std::span<pollfd> fds, const Deadline& deadline) override {
        for (;;) {
            if (poll_until(fds, Deadline::after(slice_seconds), OnSignal::wake) == Woken::ready) {
                return Woken::ready;
            }
            if (deadline.passed()) return Woken::timed_out;
            if (PyErr_CheckSignals() < 0) throw_error_already_set();
        }
    }

private:
    static constexpr double slice_seconds = 0.05;
};

}  // namespace vantu::py
