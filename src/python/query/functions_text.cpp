// The functions of texts: toLower, toUpper, trim, lTrim, rTrim, substring,
// left, right, replace and split.
//
// Positions and lengths count code points. A negative start or length is
// refused (ValueError); one past the end gives what is there. `split` by an
// empty delimiter gives the characters. Texts are computed by str's own
// code, so a subclass cannot change what they mean.
#include <cstring>
#include <iterator>
#include <string>

#include "query/function_call.hpp"

namespace velarto::py::query {

namespace {

// str's own method `name` on `text` (a str or a subclass): a new reference.
// The method descriptors are looked up once; str lives as long as the process.
PyObject* str_method(const char* name, PyObject* text) {
    static const char* const kNames[] = {"lower", "upper", "strip", "lstrip", "rstrip"};
    static PyObject* methods[std::size(kNames)] = {};
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        if (std::strcmp(kNames[i], name) != 0) continue;
        if (!methods[i]) methods[i] = PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyUnicode_Type), name);
        return methods[i] ? PyObject_CallOneArg(methods[i], text) : nullptr;
    }
    return PyObject_CallMethod(reinterpret_cast<PyObject*>(&PyUnicode_Type), name, "O", text);
}

// A count argument: false with the exception set; a negative one is refused.
bool count_of(const FunctionCall& call, std::size_t i, const char* what, Py_ssize_t& out) {
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(call.object(i), &overflow);
    if (value == -1 && PyErr_Occurred()) return false;
    if (overflow < 0 || value < 0) return call.value_error(std::string("cannot take a negative ") + what);
    out = overflow > 0 || value > PY_SSIZE_T_MAX ? PY_SSIZE_T_MAX : static_cast<Py_ssize_t>(value);
    return true;
}

bool substring_of(const FunctionCall& call, Py_ssize_t start, Py_ssize_t length) {
    PyObject* text = call.object(0);
    const Py_ssize_t size = PyUnicode_GetLength(text);
    if (start > size) start = size;
    const Py_ssize_t end = length > size - start ? size : start + length;
    return call.set(PyUnicode_Substring(text, start, end));
}

} // namespace

bool call_ToLower(const FunctionCall& call) { return call.set(str_method("lower", call.object(0))); }
bool call_ToUpper(const FunctionCall& call) { return call.set(str_method("upper", call.object(0))); }
bool call_Trim(const FunctionCall& call) { return call.set(str_method("strip", call.object(0))); }
bool call_LTrim(const FunctionCall& call) { return call.set(str_method("lstrip", call.object(0))); }
bool call_RTrim(const FunctionCall& call) { return call.set(str_method("rstrip", call.object(0))); }

bool call_Substring(const FunctionCall& call) {
    Py_ssize_t start, length = PY_SSIZE_T_MAX;
    if (!count_of(call, 1, "start", start)) return false;
    if (call.count > 2 && !count_of(call, 2, "length", length)) return false;
    return substring_of(call, start, length);
}

bool call_Left(const FunctionCall& call) {
    Py_ssize_t length;
    return count_of(call, 1, "length", length) && substring_of(call, 0, length);
}

bool call_Right(const FunctionCall& call) {
    Py_ssize_t length;
    if (!count_of(call, 1, "length", length)) return false;
    const Py_ssize_t size = PyUnicode_GetLength(call.object(0));
    return substring_of(call, length >= size ? 0 : size - length, length);
}

bool call_Replace(const FunctionCall& call) {
    return call.set(PyUnicode_Replace(call.object(0), call.object(1), call.object(2), -1));
}

bool call_Split(const FunctionCall& call) {
    PyObject* text = call.object(0);
    if (PyUnicode_GetLength(call.object(1)) > 0) return call.set(PyUnicode_Split(text, call.object(1), -1));
    const Py_ssize_t size = PyUnicode_GetLength(text);
    Ref list = Ref::steal(PyList_New(size));
    if (!list) return false;
    for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* character = PyUnicode_Substring(text, i, i + 1);
        if (!character) return false;
        PyList_SET_ITEM(list.get(), i, character);
    }
    return call.set(list.release());
}

} // namespace velarto::py::query
