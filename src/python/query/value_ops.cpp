// Values of conditions and result expressions: their kinds, arithmetic and
// joining with `+` (comparisons are in value_compare.cpp).
//
// Integers stay exact (Python ints of any size); `/` and `%` of two ints
// truncate toward zero, as openCypher's 64-bit integers do, which Python's
// floor division does not. Everything with a float is IEEE arithmetic in
// C, so a float divided by zero is inf or nan instead of Python's
// ZeroDivisionError, and `^` is C's pow.
#include "query/value_ops.hpp"

#include <climits>
#include <cmath>

#include "classes.hpp"

namespace velarto::py::query {

using core::Op;

namespace {

PyNumberMethods& int_slots() { return *PyLong_Type.tp_as_number; }

Outcome done(PyObject* result, Value& out) {
    if (!result) return Outcome::Failed;
    out = Value{};
    out.object = Ref::steal(result);
    return Outcome::Done;
}

// ---------------------------------------------------------------- numbers

// An int's value when it fits a long long, and its sign either way.
struct SmallInt {
    long long value;
    int overflow; // -1 or 1: too small or too large to fit
    int sign() const { return overflow ? overflow : (value > 0) - (value < 0); }
};

SmallInt small_int(PyObject* integer) {
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(integer, &overflow);
    return {value, overflow};
}

bool as_double(PyObject* number, Kind kind, double& out) {
    if (kind == Kind::Float) {
        out = PyFloat_AS_DOUBLE(number);
        return true;
    }
    out = PyLong_AsDouble(number); // OverflowError for an int beyond every float
    return !(out == -1.0 && PyErr_Occurred());
}

Outcome float_op(Op op, PyObject* a, Kind ka, PyObject* b, Kind kb, Value& out) {
    double x, y;
    if (!as_double(a, ka, x) || !as_double(b, kb, y)) return Outcome::Failed;
    double result;
    switch (op) {
    case Op::Add: result = x + y; break;
    case Op::Sub: result = x - y; break;
    case Op::Mul: result = x * y; break;
    case Op::Div: result = x / y; break;
    case Op::Mod: result = std::fmod(x, y); break;
    default: result = std::pow(x, y); break;
    }
    return done(PyFloat_FromDouble(result), out);
}

// `/` and `%` of two ints, truncated toward zero: the remainder takes the
// dividend's sign.
Outcome int_divide(Op op, PyObject* a, PyObject* b, Value& out) {
    SmallInt x = small_int(a), y = small_int(b);
    if (y.sign() == 0) return Outcome::ZeroDivision;
    if (!x.overflow && !y.overflow && !(x.value == LLONG_MIN && y.value == -1)) {
        return done(PyLong_FromLongLong(op == Op::Div ? x.value / y.value : x.value % y.value), out);
    }
    // Python floors; the two differ when the signs differ and the division is not exact.
    Ref remainder = Ref::steal(int_slots().nb_remainder(a, b));
    if (!remainder) return Outcome::Failed;
    bool adjust = small_int(remainder.get()).sign() != 0 && x.sign() != y.sign();
    if (op == Op::Mod) {
        if (!adjust) return done(remainder.release(), out);
        return done(int_slots().nb_subtract(remainder.get(), b), out);
    }
    Ref quotient = Ref::steal(int_slots().nb_floor_divide(a, b));
    if (!quotient || !adjust) return done(quotient.release(), out);
    Ref one = Ref::steal(PyLong_FromLong(1));
    return one ? done(int_slots().nb_add(quotient.get(), one.get()), out) : Outcome::Failed;
}

Outcome number_op(Op op, PyObject* a, Kind ka, PyObject* b, Kind kb, Value& out) {
    if (op == Op::Pow || ka == Kind::Float || kb == Kind::Float) return float_op(op, a, ka, b, kb, out);
    switch (op) {
    case Op::Add: return done(int_slots().nb_add(a, b), out);
    case Op::Sub: return done(int_slots().nb_subtract(a, b), out);
    case Op::Mul: return done(int_slots().nb_multiply(a, b), out);
    default: return int_divide(op, a, b, out);
    }
}

// Python's own operator, for values of other types.
Outcome python_op(Op op, const Value& a, const Value& b, Value& out) {
    Ref x = Ref::steal(to_python(a)), y = Ref::steal(to_python(b));
    if (!x || !y) return Outcome::Failed;
    PyObject* result;
    switch (op) {
    case Op::Add: result = PyNumber_Add(x.get(), y.get()); break;
    case Op::Sub: result = PyNumber_Subtract(x.get(), y.get()); break;
    case Op::Mul: result = PyNumber_Multiply(x.get(), y.get()); break;
    case Op::Div: result = PyNumber_TrueDivide(x.get(), y.get()); break;
    case Op::Mod: result = PyNumber_Remainder(x.get(), y.get()); break;
    default: result = PyNumber_Power(x.get(), y.get(), Py_None); break;
    }
    if (!result) return Outcome::Failed;
    out = python_value(Ref::steal(result));
    return Outcome::Done;
}

// ---------------------------------------------------------------- joining

// A list and a list, or a list and one more item on either side.
Outcome list_join(const Value& a, Kind ka, const Value& b, Kind kb, Value& out) {
    Ref result = Ref::steal(PyList_New(0));
    auto add = [&](const Value& value, Kind kind) {
        Ref part = kind == Kind::List ? list_of(value) : Ref::steal(to_python(value));
        if (!part) return false;
        if (kind != Kind::List) return PyList_Append(result.get(), part.get()) == 0;
        return PyList_SetSlice(result.get(), PY_SSIZE_T_MAX, PY_SSIZE_T_MAX, part.get()) == 0;
    };
    if (!result || !add(a, ka) || !add(b, kb)) return Outcome::Failed;
    return done(result.release(), out);
}

Outcome plus(const Value& a, Kind ka, const Value& b, Kind kb, Value& out) {
    if (ka == Kind::List || kb == Kind::List) return list_join(a, ka, b, kb, out);
    if (ka == Kind::Other || kb == Kind::Other) return python_op(Op::Add, a, b, out);
    if (is_number(ka) && is_number(kb)) return number_op(Op::Add, a.object.get(), ka, b.object.get(), kb, out);
    bool texts = (ka == Kind::String || is_number(ka)) && (kb == Kind::String || is_number(kb));
    if (!texts) return Outcome::Refused;
    Ref x = ka == Kind::String ? a.object : Ref::steal(number_text(a.object.get(), ka));
    Ref y = kb == Kind::String ? b.object : Ref::steal(number_text(b.object.get(), kb));
    if (!x || !y) return Outcome::Failed;
    return done(PyUnicode_Concat(x.get(), y.get()), out);
}

} // namespace

// ---------------------------------------------------------------- values

Value python_value(Ref object) {
    Value value;
    if (object.get() != Py_None) value.object = std::move(object);
    return value;
}

Kind kind_of(const Value& value) {
    if (value.element) {
        if (std::holds_alternative<NodeValue>(*value.element)) return Kind::Node;
        return std::holds_alternative<EdgeValue>(*value.element) ? Kind::Edge : Kind::List;
    }
    PyObject* object = value.object.get();
    PyTypeObject* type = Py_TYPE(object);
    if (type == &PyLong_Type) return Kind::Integer;
    if (type == &PyFloat_Type) return Kind::Float;
    if (type == &PyUnicode_Type) return Kind::String;
    if (type == &PyBool_Type) return Kind::Boolean;
    if (type == &PyList_Type) return Kind::List;
    if (type == &PyDict_Type) return Kind::Map;
    if (type == NodeType) return Kind::Node;
    if (type == EdgeType) return Kind::Edge;
    if (PyLong_Check(object)) return Kind::Integer; // subclasses (bool cannot be one)
    if (PyFloat_Check(object)) return Kind::Float;
    if (PyUnicode_Check(object)) return Kind::String;
    if (PyList_Check(object)) return Kind::List;
    return PyDict_Check(object) ? Kind::Map : Kind::Other;
}

const char* element_kind_name(const QueryResult& element) {
    if (auto* plain = std::get_if<PlainValue>(&element)) return Py_TYPE(plain->object.get())->tp_name;
    if (std::holds_alternative<NodeValue>(element)) return "Node";
    return std::holds_alternative<EdgeValue>(element) ? "Edge" : "list";
}

const char* kind_name(const Value& value) {
    if (value.element) return element_kind_name(*value.element);
    return Py_TYPE(value.object.get())->tp_name;
}

PyObject* to_python(const Value& value) {
    if (value.element) return result_to_python(*value.element);
    PyObject* object = value.object ? value.object.get() : Py_None;
    Py_INCREF(object);
    return object;
}

Ref list_of(const Value& value) {
    if (value.element) return Ref::steal(to_python(value));
    return value.object;
}

PyObject* number_text(PyObject* number, Kind kind) {
    return kind == Kind::Float ? PyFloat_Type.tp_repr(number) : PyLong_Type.tp_repr(number);
}

// ---------------------------------------------------------------- operators

Outcome arithmetic(Op op, const Value& a, const Value& b, Value& out) {
    Kind ka = kind_of(a), kb = kind_of(b);
    if (op == Op::Add) return plus(a, ka, b, kb, out);
    if (ka == Kind::Other || kb == Kind::Other) return python_op(op, a, b, out);
    if (!is_number(ka) || !is_number(kb)) return Outcome::Refused;
    return number_op(op, a.object.get(), ka, b.object.get(), kb, out);
}

Outcome negative(const Value& a, Value& out) {
    switch (kind_of(a)) {
    case Kind::Integer: return done(int_slots().nb_negative(a.object.get()), out);
    case Kind::Float: return done(PyFloat_FromDouble(-PyFloat_AS_DOUBLE(a.object.get())), out);
    case Kind::Other: {
        Ref result = Ref::steal(PyNumber_Negative(a.object.get()));
        if (!result) return Outcome::Failed;
        out = python_value(std::move(result));
        return Outcome::Done;
    }
    default: return Outcome::Refused;
    }
}

} // namespace velarto::py::query
