// Argument binding driven by a static table of parameter names.
//
// A `Signature` lists the parameters of a Python-visible function as its text
// signature does: positional-or-keyword parameters first, then (optionally) a
// `*varargs` collector, then keyword-only parameters. `bind` fills one
// borrowed pointer per parameter (nullptr when left out) and raises the
// ordinary TypeErrors of a Python function for arity, unknown or duplicate
// keywords. Keyword names are compared by interned pointer first, by value
// second; nothing is allocated on the common path.
//
// The conversion helpers below raise the TypeError of a wrongly typed argument
// naming the function and the parameter.
#pragma once

#include <Python.h>

#include <cstddef>
#include <string>

#include "ref.hpp"

namespace velarto::py {

inline constexpr int kMaxParameters = 12;

struct Signature {
    const char* function;          // as shown in messages, e.g. "match"
    const char* names[kMaxParameters]; // every named parameter, in order
    int positional;                // leading positional-or-keyword parameters
    int required;                  // leading required ones among those
    const char* varargs = nullptr; // name of a *args collector after them, if any
    mutable PyObject* interned[kMaxParameters] = {};

    int count() const;
};

struct Bound {
    PyObject* values[kMaxParameters] = {}; // borrowed, nullptr when not passed
    PyObject* const* extra = nullptr;     // the *varargs, borrowed
    Py_ssize_t extra_count = 0;

    PyObject* operator[](int index) const { return values[index]; }
};

// Vectorcall convention (METH_FASTCALL | METH_KEYWORDS).
bool bind(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          Bound& out);
// tp_new / tp_init convention (tuple and dict).
bool bind(const Signature& signature, PyObject* args, PyObject* kwargs, Bound& out);

// True for a missing argument and for None.
inline bool absent(PyObject* value) { return value == nullptr || value == Py_None; }

// Raise "f() argument 'p' must be <what>, not <type>" and return false.
bool argument_error(const Signature& signature, int index, const char* what, PyObject* got);

// Conversions. Each returns false with an exception set on failure.
bool to_utf8(PyObject* text, std::string& out); // str (subclasses too) to UTF-8
bool require_str(const Signature& signature, int index, PyObject* value);
bool require_dict(const Signature& signature, int index, PyObject* value);
bool require_bool(const Signature& signature, int index, PyObject* value, bool& out);

} // namespace velarto::py
