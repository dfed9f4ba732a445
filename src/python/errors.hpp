// The door between engine errors and Python exceptions: a VelartoError is
// turned into an instance of its kind's built-in exception class, with the
// message as its single argument, exactly once, here.
#pragma once

#include <Python.h>

#include "core/error.hpp"

namespace velarto::py {

// Sets the Python exception for `error`; always returns nullptr so that a
// method can `return raise(result.error());`.
PyObject* raise(const core::VelartoError& error);

// Exception class of each kind.
PyObject* exception_class(core::ErrorKind kind);

// Builds a Python str from UTF-8 bytes held by the engine.
inline PyObject* to_python_str(const std::string& text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

} // namespace velarto::py
