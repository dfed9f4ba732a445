// The door between engine errors and Python exceptions: a VelartoError is
// turned into an instance of its kind's built-in exception class, with the
// message as its single argument, exactly once, here.
#pragma once

#include <Python.h>

#include <exception>
#include <new>

#include "core/error.hpp"

namespace velarto::py {

// Sets the Python exception for `error`; always returns nullptr so that a
// method can `return raise(result.error());`.
PyObject* raise(const core::VelartoError& error);

// Exception class of each kind.
PyObject* exception_class(core::ErrorKind kind);

// The door for C++ exceptions: the engine allocates as it goes, and an
// allocation that fails must become a MemoryError, never cross into the
// interpreter. `Function` is a C API entry point; the adapters keep its
// signature.
template <class Result, class Call>
Result guard_call(Call&& call, Result failure) {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
    }
    return failure;
}

template <PyObject* (*Function)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*)>
PyObject* guarded(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guard_call<PyObject*>([&] { return Function(self, args, nargs, kwnames); }, nullptr);
}

template <PyObject* (*Function)(PyObject*, PyObject*)>
PyObject* guarded(PyObject* self, PyObject* arg) {
    return guard_call<PyObject*>([&] { return Function(self, arg); }, nullptr);
}

template <PyObject* (*Function)(PyTypeObject*, PyObject*, PyObject*)>
PyObject* guarded(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard_call<PyObject*>([&] { return Function(type, args, kwargs); }, nullptr);
}

template <PyObject* (*Function)(PyObject*)>
PyObject* guarded(PyObject* self) {
    return guard_call<PyObject*>([&] { return Function(self); }, nullptr);
}

// Builds a Python str from UTF-8 bytes held by the engine.
inline PyObject* to_python_str(const std::string& text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

} // namespace velarto::py
