// The interpreter lock for the serve thread, which is not a Python thread.
#pragma once

#include <Python.h>

#include <cxxabi.h>

#include "binding/pending_release.hpp"

namespace vantu::py {

// The interpreter lock for a long-lived native thread that needs it now and
// then. The thread keeps one Python thread state for its whole life, so each
// acquisition is a lock hand-over instead of creating and destroying a
// thread state.
//
// Up to Python 3.13 a thread that waits for the lock while the interpreter
// finalizes is ended with pthread_exit, which unwinds the C++ frames with a
// forced unwind. Whatever runs under the lock can reach such a wait (Python
// code, a finalizer run by a release), so code run through `run` keeps no
// RAII owner of Python references: it would release them without the lock.
// From 3.14 on the thread is left blocked in that wait for good instead:
// nothing it owns is released, and the process's exit reclaims it all, so
// what it holds must need no release to be correct (a socket, memory).
class ThreadGil {
public:
    // Runs `body` with the lock held. The lock stays taken after it, so that
    // the actions of a burst of frames share one hold; let_go() gives it
    // back, and must come before the thread waits for anything. When `body`
    // throws, the lock is given back at once.
    template <class Body>
    decltype(auto) run(Body&& body);

    // Gives the lock back if this thread holds it.
    void let_go();

    // At the thread's normal end: drops the thread state. Not from a
    // destructor, as taking the lock here may end the thread.
    void finish();

private:
    void acquire();

    bool created_ = false;
    bool held_ = false;
    PyGILState_STATE outer_{};
    PyThreadState* saved_ = nullptr;
};

template <class Body>
decltype(auto) ThreadGil::run(Body&& body) {
    if (!held_) acquire();
    try {
        return body();
    } catch (abi::__forced_unwind&) {
        // The thread is being ended inside a wait for the lock: the lock is
        // not ours, and the thread state dies with the interpreter.
        created_ = false;
        held_ = false;
        throw;
    } catch (...) {
        let_go();
        throw;
    }
}

}  // namespace vantu::py
