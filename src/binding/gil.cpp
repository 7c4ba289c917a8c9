// The serve thread's hand-overs of the interpreter lock.
#include "binding/gil.hpp"

namespace vantu::py {

void ThreadGil::acquire() {
    if (!created_) {
        outer_ = PyGILState_Ensure();
        created_ = true;
    } else {
        PyEval_RestoreThread(saved_);
    }
    held_ = true;
    drain_pending_releases();
}

void ThreadGil::let_go() {
    if (!held_) return;
    saved_ = PyEval_SaveThread();
    held_ = false;
}

void ThreadGil::finish() {
    // Nothing to drop if the thread never needed the lock.
    if (!created_) return;
    if (!held_) PyEval_RestoreThread(saved_);
    drain_pending_releases();
    PyGILState_Release(outer_);
    created_ = false;
    held_ = false;
}

}  // namespace vantu::py
