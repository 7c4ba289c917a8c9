// How a method that blocks waits: it gives the interpreter lock and its
// object back for the wait, so that other threads (and the actions of a
// serve loop) run and may call the object's methods, and it runs Python's
// signal handlers when a signal interrupts the wait, so that Ctrl-C ends it.
#pragma once

#include <Python.h>

#include "binding/boundary.hpp"
#include "binding/exclusive.hpp"
#include "server/poll.hpp"

namespace vantu::py {

// Gives the interpreter lock back for its scope.
class GilRelease {
public:
    GilRelease() : state_(PyEval_SaveThread()) {}
    ~GilRelease() { PyEval_RestoreThread(state_); }
    GilRelease(const GilRelease&) = delete;
    GilRelease& operator=(const GilRelease&) = delete;

private:
    PyThreadState* state_;
};

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
        GilRelease released;
        return poll_until(fds, deadline, OnSignal::wake);
    }

    Exclusive<T>& cell_;
};

}  // namespace vantu::py
