// Owning reference to a Python object, one pointer wide.
//
// `Ref::steal` adopts a new reference, `Ref::borrow` takes a new one on a
// borrowed pointer; `release()` hands the reference to the interpreter. There
// is no implicit conversion to `PyObject*`: `get()` lends the pointer
// explicitly, so every transfer of ownership is visible at the call site.
#pragma once

#include <Python.h>

#include <utility>

namespace velarto::py {

class Ref {
public:
    Ref() = default;
    Ref(const Ref& other) : object_(other.object_) { Py_XINCREF(object_); }
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Ref() { Py_XDECREF(object_); }

    static Ref steal(PyObject* object) { return Ref(object); }
    static Ref borrow(PyObject* object) {
        Py_XINCREF(object);
        return Ref(object);
    }

    PyObject* get() const { return object_; }
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    explicit Ref(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

// Holds the interpreter's current exception while other code runs, and puts
// it back on destruction unless taken.
class SavedError {
public:
    SavedError() { PyErr_Fetch(&type_, &value_, &traceback_); }
    ~SavedError() { PyErr_Restore(type_, value_, traceback_); }
    SavedError(const SavedError&) = delete;
    SavedError& operator=(const SavedError&) = delete;

private:
    PyObject *type_, *value_, *traceback_;
};

} // namespace velarto::py
