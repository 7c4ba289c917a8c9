// An owning reference to a Python object. Ownership is always explicit:
// `steal` adopts a new reference, `borrow` takes one more, `release` hands
// the reference back to the caller. Copying and dropping need the
// interpreter lock, like every reference count change.
#pragma once

#include <Python.h>

#include <utility>

namespace vantu::py {

class Ref {
public:
    Ref() = default;
    static Ref steal(PyObject* obj) { return Ref(obj); }
    static Ref borrow(PyObject* obj) {
        Py_XINCREF(obj);
        return Ref(obj);
    }

    Ref(const Ref& other) : obj_(other.obj_) { Py_XINCREF(obj_); }
    Ref(Ref&& other) noexcept : obj_(other.release()) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(obj_, other.obj_);
        return *this;
    }
    ~Ref() { Py_XDECREF(obj_); }

    PyObject* get() const { return obj_; }
    PyObject* release() { return std::exchange(obj_, nullptr); }
    explicit operator bool() const { return obj_ != nullptr; }

private:
    explicit Ref(PyObject* obj) : obj_(obj) {}
    PyObject* obj_ = nullptr;
};

}  // namespace vantu::py
