// Python objects that hold a type value (`Variable`, `Application`), and the
// conversions between Python type objects and engine types.
#pragma once

#include <Python.h>

#include "core/type.hpp"

namespace velarto::py {

struct TypeObject {
    PyObject_HEAD
    core::TypeRef value;
    Py_hash_t hash; // 0 until computed (the allocator zeroes it); reset on rename
};

inline bool is_type_object(PyObject* object) {
    extern PyTypeObject* VariableType;
    extern PyTypeObject* ApplicationType;
    return Py_TYPE(object) == VariableType || Py_TYPE(object) == ApplicationType;
}

// A Variable or Application object to its value; otherwise
// TypeError("Expected Variable or Application") and false. Renaming a
// Variable replaces the value it holds, so sharing the value is a copy.
bool python_to_type(PyObject* object, core::TypeRef& out);
// A new Variable or Application object for `type`.
PyObject* type_to_python(const core::TypeRef& type);

// Shared text helpers for the classes that print types.
PyObject* display_to_python(const core::TypeNode& type);
PyObject* uid_to_python(const core::Digest& digest);
Py_hash_t to_python_hash(std::uint64_t raw);

} // namespace velarto::py
