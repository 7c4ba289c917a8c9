// Python references dropped on a thread that does not hold the interpreter
// lock (the serve loop's copy of the action table when the loop ends) wait
// here until a thread of the module next holds the lock.
#pragma once

#include <Python.h>

namespace vantu::py {

// Never blocks on the interpreter lock.
void release_later(PyObject* obj);

// Called with the interpreter lock held; cheap when nothing is queued.
void drain_pending_releases();

}  // namespace vantu::py
