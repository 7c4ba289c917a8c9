// The process-wide list of references waiting for the interpreter lock.
#include "binding/pending_release.hpp"

#include <atomic>
#include <mutex>
#include <vector>

namespace vantu::py {
namespace {

struct PendingList {
    std::mutex mutex;
    std::vector<PyObject*> objects;
    std::atomic<bool> nonempty{false};
};

// Deliberately never destroyed: a detached serve thread may still queue a
// release while the process runs its exit handlers.
PendingList& pending() {
    static PendingList* list = new PendingList;
    return *list;
}

}  // namespace

void release_later(PyObject* obj) {
    if (!obj) return;
    PendingList& list = pending();
    std::lock_guard lock(list.mutex);
    list.objects.push_back(obj);
    list.nonempty.store(true, std::memory_order_release);
}

void drain_pending_releases() {
    PendingList& list = pending();
    if (!list.nonempty.load(std::memory_order_acquire)) return;
    std::vector<PyObject*> batch;
    {
        std::lock_guard lock(list.mutex);
        batch.swap(list.objects);
        list.nonempty.store(false, std::memory_order_relaxed);
    }
    // Outside the mutex: a release may run a finalizer that queues again.
    for (PyObject* obj : batch) Py_DECREF(obj);
}

}  // namespace vantu::py
