// The argument binder: positional slots, then keywords matched against the
// table by interned pointer (the usual case: call sites use constant names)
// and by value as a fallback. Messages follow the interpreter's own wording.
#include "args.hpp"

namespace velarto::py {

int Signature::count() const {
    int n = 0;
    while (n < kMaxParameters && names[n] != nullptr) ++n;
    return n;
}

namespace {

bool intern_names(const Signature& signature) {
    if (signature.interned[0] != nullptr || signature.count() == 0) return true;
    for (int i = 0; i < signature.count(); ++i) {
        PyObject* name = PyUnicode_InternFromString(signature.names[i]);
        if (!name) return false;
        signature.interned[i] = name; // kept for the life of the process
    }
    return true;
}

// Index of the parameter called `key`, or -1; -2 with an exception set.
int find_keyword(const Signature& signature, PyObject* key) {
    int n = signature.count();
    for (int i = 0; i < n; ++i) {
        if (signature.interned[i] == key) return i;
    }
    if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", signature.function);
        return -2;
    }
    for (int i = 0; i < n; ++i) {
        if (PyUnicode_Compare(signature.interned[i], key) == 0) return i;
    }
    if (PyErr_Occurred()) return -2;
    return -1;
}

bool bind_positional(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                     Bound& out) {
    if (!intern_names(signature)) return false;
    Py_ssize_t taken = nargs < signature.positional ? nargs : signature.positional;
    if (nargs > signature.positional) {
        if (!signature.varargs) {
            if (signature.positional == 0) {
                PyErr_Format(PyExc_TypeError, "%s() takes no positional arguments (%zd given)",
                             signature.function, nargs);
            } else {
                PyErr_Format(PyExc_TypeError,
                             "%s() takes at most %d positional argument%s (%zd given)",
                             signature.function, signature.positional,
                             signature.positional == 1 ? "" : "s", nargs);
            }
            return false;
        }
        out.extra = args + signature.positional;
        out.extra_count = nargs - signature.positional;
    }
    for (Py_ssize_t i = 0; i < taken; ++i) out.values[i] = args[i];
    return true;
}

bool bind_keyword(const Signature& signature, PyObject* key, PyObject* value, Bound& out) {
    int index = find_keyword(signature, key);
    if (index == -2) return false;
    if (index == -1) {
        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                     signature.function, key);
        return false;
    }
    if (out.values[index] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                     signature.function, signature.names[index]);
        return false;
    }
    out.values[index] = value;
    return true;
}

bool check_required(const Signature& signature, const Bound& out) {
    for (int i = 0; i < signature.required; ++i) {
        if (out.values[i] == nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %d)",
                         signature.function, signature.names[i], i + 1);
            return false;
        }
    }
    return true;
}

} // namespace

bool bind(const Signature& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          Bound& out) {
    if (!bind_positional(signature, args, nargs, out)) return false;
    if (kwnames) {
        Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < count; ++i) {
            if (!bind_keyword(signature, PyTuple_GET_ITEM(kwnames, i), args[nargs + i], out)) {
                return false;
            }
        }
    }
    return check_required(signature, out);
}

bool bind(const Signature& signature, PyObject* args, PyObject* kwargs, Bound& out) {
    if (!bind_positional(signature, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), out)) {
        return false;
    }
    if (kwargs) {
        Py_ssize_t position = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            if (!bind_keyword(signature, key, value, out)) return false;
        }
    }
    return check_required(signature, out);
}

bool argument_error(const Signature& signature, int index, const char* what, PyObject* got) {
    const char* name = index < 0 ? signature.varargs : signature.names[index];
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %.200s", signature.function,
                 name, what, got == Py_None ? "None" : Py_TYPE(got)->tp_name);
    return false;
}

bool to_utf8(PyObject* text, std::string& out) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (!data) return false;
    out.assign(data, static_cast<std::size_t>(size));
    return true;
}

bool require_str(const Signature& signature, int index, PyObject* value) {
    return PyUnicode_Check(value) || argument_error(signature, index, "str", value);
}

bool require_dict(const Signature& signature, int index, PyObject* value) {
    return PyDict_Check(value) || argument_error(signature, index, "dict", value);
}

bool require_bool(const Signature& signature, int index, PyObject* value, bool& out) {
    if (!PyBool_Check(value)) return argument_error(signature, index, "bool", value);
    out = value == Py_True;
    return true;
}

} // namespace velarto::py
