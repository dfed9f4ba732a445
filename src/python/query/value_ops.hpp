// The values of conditions and result expressions, and their operators.
//
// A value is null, a Python object, or a node, edge or edge list of the
// row's table, read in place. Operators follow openCypher on the kinds it
// knows: booleans (never numbers), integers, floats, texts, lists, maps
// (dicts), nodes and edges. Python's int, float, str, list and dict stand for
// them, subclasses included, and are computed by the base type's own code, so
// a subclass cannot change what `1 + 1` means. Any other Python type (a
// Decimal, a date, a tuple) keeps Python's own operators.
//
// A kind an operator refuses is reported as `Refused`, not raised: only the
// evaluator knows the column of the operator to name in the message.
#pragma once

#include <Python.h>

#include <cstdint>

#include "core/condition.hpp"
#include "query/bindings.hpp"
#include "ref.hpp"

namespace velarto::py::query {

enum class Truth : std::uint8_t { False, True, Null };

// One value while a condition is evaluated.
struct Value {
    Ref object;                          // a Python value, never None
    const QueryResult* element = nullptr; // or a node or edge of the row
    bool is_null() const { return !object && !element; }
};

// true, false or null as a value.
inline Value boolean(Truth truth) {
    Value value;
    if (truth != Truth::Null) value.object = Ref::borrow(truth == Truth::True ? Py_True : Py_False);
    return value;
}

inline Truth negation(Truth truth) {
    if (truth == Truth::Null) return Truth::Null;
    return truth == Truth::True ? Truth::False : Truth::True;
}

// A logical operand: null, true or false; false for any other value.
inline bool is_logical(const Value& value, Truth& out) {
    if (value.is_null()) {
        out = Truth::Null;
        return true;
    }
    if (value.object.get() != Py_True && value.object.get() != Py_False) return false;
    out = value.object.get() == Py_True ? Truth::True : Truth::False;
    return true;
}

// The kind of a value that is not null.
enum class Kind : std::uint8_t { Boolean, Integer, Float, String, List, Map, Node, Edge, Other };
Kind kind_of(const Value& value);
inline bool is_number(Kind kind) { return kind == Kind::Integer || kind == Kind::Float; }

// A value holding `object`: null for None.
Value python_value(Ref object);

// A new reference to the value as Python sees it: None for null, a new Node
// or Edge object for a graph value.
PyObject* to_python(const Value& value);

// "Node", "Edge" or "list" (an edge list), for messages.
const char* element_kind_name(const QueryResult& element);
// A value's kind as messages name it: "Node", "Edge", "list", or the name of
// its Python type.
const char* kind_name(const Value& value);

// How an operator went: a result, a kind it does not take, an integer
// divided by zero, or an exception raised (set).
enum class Outcome : std::uint8_t { Done, Refused, ZeroDivision, Failed };

// `a op b` for + - * / % ^, neither operand null.
Outcome arithmetic(core::Op op, const Value& a, const Value& b, Value& out);
// `-a`, a not null.
Outcome negative(const Value& a, Value& out);

// The list a List value stands for: its own object, or a new list of Edge
// objects for an edge list of the table.
Ref list_of(const Value& value);

// A number as text joins it: an int's digits, a float's shortest repr
// ("1.0", "1e+20", "inf"). A new str.
PyObject* number_text(PyObject* number, Kind kind);

// `a = b`: null when either is null; numbers by value (1 = 1.0), lists and
// maps item by item with three-valued results, graph values by uid, values of
// different kinds unequal. False with an exception set.
bool values_equal(const Value& a, const Value& b, Truth& out);
// `a < b` and its kin (op Lt, Le, Gt, Ge): null when either is null, for
// kinds that differ or have no order (maps, nodes, edges), and when Python
// refuses to order other types with TypeError.
bool values_ordered(const Value& a, core::Op op, const Value& b, Truth& out);

// Grouping and DISTINCT: null is the same as null, graph values by uid,
// others by Python equality; and a hash that agrees with it (unhashable
// values hash alike and are told apart by equality).
bool same_value(const Value& a, const Value& b, bool& out);
bool hash_value(const Value& value, std::size_t& out);
// The same on a value given by its parts (a graph value of the table, or an
// object that is not None; both null for null), with no reference taken.
bool same_value(const QueryResult* a_element, PyObject* a, const QueryResult* b_element, PyObject* b, bool& out);
bool hash_value(const QueryResult* element, PyObject* object, std::size_t& out);

} // namespace velarto::py::query
