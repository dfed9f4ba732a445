// The functions of numbers and the conversions: abs, sign, ceil, floor,
// round, sqrt, toString, toInteger, toFloat and toBoolean.
//
// As in openCypher: abs keeps the kind, sign gives an integer, ceil, floor,
// round and sqrt give floats (round takes halves away from zero, sqrt of a
// negative number is NaN). The conversions give null for a text that does
// not read as their kind: a number is optional blanks, an optional sign,
// digits with an optional fraction and exponent (toInteger truncates a
// fraction toward zero); a boolean is `true` or `false` in any case.
// Integers are computed by int's own code, so a subclass cannot change them.
#include <cmath>
#include <string>

#include "errors.hpp"
#include "query/function_call.hpp"

namespace velarto::py::query {

namespace {

bool is_int(PyObject* object) { return PyLong_Check(object) && !PyBool_Check(object); }

// The argument as a double; false with OverflowError for an int too large.
bool real_of(PyObject* object, double& out) {
    out = is_int(object) ? PyLong_AsDouble(object) : PyFloat_AsDouble(object);
    return !(out == -1.0 && PyErr_Occurred());
}

// A text with a lone surrogate has no UTF-8 form, and is no number or truth
// value either: its encoding error is dropped (any other stays). True when
// nothing is left set.
bool clear_encoding_error() {
    if (PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) PyErr_Clear();
    return !PyErr_Occurred();
}

bool set_real(const FunctionCall& call, double value) { return call.set(PyFloat_FromDouble(value)); }

template <class Round>
bool rounded(const FunctionCall& call, Round round) {
    double value;
    return real_of(call.object(0), value) && set_real(call, round(value));
}

// The text of a number as openCypher reads it, blanks around it allowed;
// `integral` when it has no fraction or exponent. Empty when it is none.
std::string number_text_of(PyObject* text, bool& integral) {
    Ref stripped = Ref::steal(PyObject_CallMethod(reinterpret_cast<PyObject*>(&PyUnicode_Type), "strip", "O", text));
    Py_ssize_t size = 0;
    const char* utf8 = stripped ? PyUnicode_AsUTF8AndSize(stripped.get(), &size) : nullptr;
    if (!utf8) return clear_encoding_error(), std::string{};
    std::string s(utf8, static_cast<std::size_t>(size)); // a NUL inside is no digit: no number
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    auto digits = [&] {
        std::size_t start = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        return i - start;
    };
    std::size_t whole = digits(), fraction = 0;
    integral = true;
    if (i < s.size() && s[i] == '.') {
        ++i;
        fraction = digits();
        integral = false;
    }
    if (whole + fraction == 0) return {};
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (digits() == 0) return {};
        integral = false;
    }
    return i == s.size() ? s : std::string{};
}

} // namespace

bool call_Abs(const FunctionCall& call) {
    PyObject* value = call.object(0);
    if (is_int(value)) return call.set(PyLong_Type.tp_as_number->nb_absolute(value));
    return set_real(call, std::fabs(PyFloat_AsDouble(value)));
}

bool call_Sign(const FunctionCall& call) {
    PyObject* value = call.object(0);
    if (is_int(value)) {
        int overflow = 0;
        long long n = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (n == -1 && PyErr_Occurred()) return false;
        if (overflow) n = overflow;
        return call.set(PyLong_FromLong(n > 0 ? 1 : n < 0 ? -1 : 0));
    }
    double real = PyFloat_AsDouble(value);
    return call.set(PyLong_FromLong(real > 0 ? 1 : real < 0 ? -1 : 0));
}

bool call_Ceil(const FunctionCall& call) { return rounded(call, [](double v) { return std::ceil(v); }); }
bool call_Floor(const FunctionCall& call) { return rounded(call, [](double v) { return std::floor(v); }); }
bool call_Round(const FunctionCall& call) { return rounded(call, [](double v) { return std::round(v); }); }
bool call_Sqrt(const FunctionCall& call) { return rounded(call, [](double v) { return std::sqrt(v); }); }

bool call_ToString(const FunctionCall& call) {
    PyObject* value = call.object(0);
    if (PyBool_Check(value)) return call.set(PyUnicode_FromString(value == Py_True ? "true" : "false"));
    if (PyUnicode_Check(value)) return call.set(PyUnicode_FromObject(value));
    return call.set(number_text(value, is_int(value) ? Kind::Integer : Kind::Float));
}

bool call_ToInteger(const FunctionCall& call) {
    PyObject* value = call.object(0);
    if (PyBool_Check(value)) return call.set(PyLong_FromLong(value == Py_True));
    if (is_int(value)) return call.set(PyLong_Type.tp_as_number->nb_int(value));
    double real;
    if (PyUnicode_Check(value)) {
        bool integral;
        std::string text = number_text_of(value, integral);
        if (text.empty()) return !PyErr_Occurred();
        if (integral) return call.set(PyLong_FromString(text.c_str(), nullptr, 10));
        real = PyOS_string_to_double(text.c_str(), nullptr, nullptr);
        if (real == -1.0 && PyErr_Occurred()) return false;
    } else {
        real = PyFloat_AsDouble(value);
    }
    if (!std::isfinite(real)) return true; // NaN and the infinities have no integer
    return call.set(PyLong_FromDouble(std::trunc(real)));
}

bool call_ToFloat(const FunctionCall& call) {
    PyObject* value = call.object(0);
    if (!PyUnicode_Check(value)) {
        double real;
        return real_of(value, real) && set_real(call, real);
    }
    bool integral;
    std::string text = number_text_of(value, integral);
    if (text.empty()) return !PyErr_Occurred();
    double real = PyOS_string_to_double(text.c_str(), nullptr, nullptr);
    if (real == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
        PyErr_Clear();
        real = text[0] == '-' ? -HUGE_VAL : HUGE_VAL;
    }
    return set_real(call, real);
}

bool call_ToBoolean(const FunctionCall& call) {
    PyObject* value = call.object(0);
    if (PyBool_Check(value)) return call.set(Py_NewRef(value));
    Ref lower = Ref::steal(PyObject_CallMethod(reinterpret_cast<PyObject*>(&PyUnicode_Type), "lower", "O", value));
    Ref stripped = lower ? Ref::steal(PyObject_CallMethod(reinterpret_cast<PyObject*>(&PyUnicode_Type), "strip", "O",
                                                          lower.get()))
                         : Ref();
    Py_ssize_t size = 0;
    const char* text = stripped ? PyUnicode_AsUTF8AndSize(stripped.get(), &size) : nullptr;
    if (!text) return clear_encoding_error(); // a lone surrogate: no truth value, null
    const std::string word(text, static_cast<std::size_t>(size));
    if (word == "true" || word == "false") return call.set(Py_NewRef(word == "true" ? Py_True : Py_False));
    return true;
}

} // namespace velarto::py::query
