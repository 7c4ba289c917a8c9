// Python references dropped on a thread that does not hold the interpreter
// lock (the serve loop's copy of the action table when the loop ends, the
// exception that ended a session) wait here until a thread of the module
// next holds the lock.
#pragma once

#include <Python.h>

#include <utility>

namespace vantu::py {

// Never blocks on the interpreter lock.
void release_later(PyObject* obj);

// Called with the interpreter lock held; cheap when nothing is queued.
void drain_pending_releases();

// A reference owned where the interpreter lock may not be held: dropping
// it queues the release. Reading it needs the lock.
class DeferredRef {
public:
    DeferredRef() = default;
    static DeferredRef steal(PyObject* obj) { return DeferredRef(obj); }
    DeferredRef(DeferredRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
    DeferredRef& operator=(DeferredRef&& other) noexcept {
        std::swap(obj_, other.obj_);
        return *this;
    }
    DeferredRef(const DeferredRef&) = delete;
    DeferredRef& operator=(const DeferredRef&) = delete;
    ~DeferredRef() { release_later(obj_); }

    PyObject* get() const { return obj_; }

private:
    explicit DeferredRef(PyObject* obj) : obj_(obj) {}
    PyObject* obj_ = nullptr;
};

}  // namespace vantu::py
