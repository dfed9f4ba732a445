// Plain copies of property values for Graph.to_cypher (see cypher_values.hpp).
#include "cypher_values.hpp"

namespace velarto::py::cypher {

namespace {

const char* scalar_name(Scalar scalar) {
    switch (scalar) {
    case Scalar::Null: return "None";
    case Scalar::Bool: return "bool";
    case Scalar::Int: return "int";
    case Scalar::Float: return "float";
    case Scalar::Text: return "str";
    case Scalar::Mixed: return "mixed";
    }
    return "?";
}

bool join_scalars(Scalar& into, Scalar value) {
    if (value == Scalar::Null || value == into) return true;
    if (into == Scalar::Null) {
        into = value;
        return true;
    }
    if ((into == Scalar::Int && value == Scalar::Float) || (into == Scalar::Float && value == Scalar::Int)) {
        into = Scalar::Float;
        return true;
    }
    return false;
}

// A plain scalar, or an empty Ref with `refusal` set (or an exception).
Ref plain_scalar(PyObject* value, Scalar& kind, std::string& refusal) {
    if (value == Py_None) {
        kind = Scalar::Null;
        return Ref::borrow(value);
    }
    if (PyBool_Check(value)) { // before int: bool is an int
        kind = Scalar::Bool;
        return Ref::borrow(value);
    }
    if (PyLong_Check(value)) {
        kind = Scalar::Int;
        int overflow = 0;
        long long number = PyLong_AsLongLongAndOverflow(value, &overflow); // reads the digits, no __index__
        if (overflow != 0) {
            refusal = "an int beyond 64 bits";
            return {};
        }
        if (number == -1 && PyErr_Occurred()) return {};
        return PyLong_CheckExact(value) ? Ref::borrow(value) : Ref::steal(PyLong_FromLongLong(number));
    }
    if (PyFloat_Check(value)) {
        kind = Scalar::Float;
        return PyFloat_CheckExact(value) ? Ref::borrow(value) : Ref::steal(PyFloat_FromDouble(PyFloat_AS_DOUBLE(value)));
    }
    if (PyUnicode_Check(value)) {
        kind = Scalar::Text;
        if (has_surrogate(value)) {
            refusal = "a str holding a lone surrogate, which UTF-8 cannot encode";
            return {};
        }
        return plain_text(value);
    }
    if (PyList_Check(value) || PyTuple_Check(value)) {
        refusal = "a nested list";
        return {};
    }
    refusal = std::string("a value of type ") + Py_TYPE(value)->tp_name;
    return {};
}

} // namespace

std::string kind_name(Kind kind) {
    if (!kind.list) return scalar_name(kind.scalar);
    if (kind.scalar == Scalar::Null) return "list of None (or empty list)";
    if (kind.scalar == Scalar::Mixed)
        return std::string("list mixing ") + scalar_name(kind.clash[0]) + " and " + scalar_name(kind.clash[1]);
    return std::string("list of ") + scalar_name(kind.scalar);
}

bool join_kinds(Kind& into, Kind value) {
    if (!value.list && value.scalar == Scalar::Null) return true;
    if (!into.list && into.scalar == Scalar::Null) {
        into = value;
        return true;
    }
    if (into.list != value.list || value.scalar == Scalar::Mixed || into.scalar == Scalar::Mixed) return false;
    Scalar joined = into.scalar;
    if (!join_scalars(joined, value.scalar)) return false;
    into.scalar = joined;
    return true;
}

const char* column_type(Kind kind) {
    switch (kind.scalar) {
    case Scalar::Bool: return kind.list ? "BOOLEAN[]" : "BOOLEAN";
    case Scalar::Int: return kind.list ? "INT64[]" : "INT64";
    case Scalar::Float: return kind.list ? "DOUBLE[]" : "DOUBLE";
    default: return kind.list ? "STRING[]" : "STRING";
    }
}

Ref plain_value(PyObject* value, Kind& kind, std::string& refusal) {
    if (!PyList_Check(value) && !PyTuple_Check(value)) {
        kind.list = false;
        return plain_scalar(value, kind.scalar, refusal);
    }
    // A list is copied from a snapshot of its items: allocating may run a
    // collection, and a finalizer may change the caller's list meanwhile.
    Ref items = Ref::steal(PyList_Check(value) ? PyList_GetSlice(value, 0, PY_SSIZE_T_MAX)
                                               : PyTuple_GetSlice(value, 0, PY_SSIZE_T_MAX));
    if (!items) return {};
    const bool is_list = PyList_Check(items.get());
    const Py_ssize_t size = is_list ? PyList_GET_SIZE(items.get()) : PyTuple_GET_SIZE(items.get());
    Ref copy = Ref::steal(PyList_New(size));
    if (!copy) return {};
    kind = Kind{Scalar::Null, true};
    for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* item = is_list ? PyList_GET_ITEM(items.get(), i) : PyTuple_GET_ITEM(items.get(), i);
        Scalar item_kind = Scalar::Null;
        Ref plain = plain_scalar(item, item_kind, refusal);
        if (!plain) {
            if (!refusal.empty()) refusal = "a list holding " + refusal;
            return {};
        }
        if (kind.scalar != Scalar::Mixed && !join_scalars(kind.scalar, item_kind)) {
            kind.clash[0] = kind.scalar;
            kind.clash[1] = item_kind;
            kind.scalar = Scalar::Mixed;
        }
        PyList_SET_ITEM(copy.get(), i, plain.release());
    }
    return copy;
}

Ref plain_text(PyObject* key) {
    if (PyUnicode_CheckExact(key)) return Ref::borrow(key);
    return Ref::steal(PyUnicode_FromKindAndData(PyUnicode_KIND(key), PyUnicode_DATA(key), PyUnicode_GET_LENGTH(key)));
}

bool has_surrogate(PyObject* text) {
    const int kind = PyUnicode_KIND(text);
    if (kind == PyUnicode_1BYTE_KIND) return false;
    const void* data = PyUnicode_DATA(text);
    const Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    for (Py_ssize_t i = 0; i < length; ++i) {
        Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c >= 0xD800 && c <= 0xDFFF) return true;
    }
    return false;
}

} // namespace velarto::py::cypher
