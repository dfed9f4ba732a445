// What a Cypher export may put into a database: property values made plain
// (exact builtin objects, new lists), the kind of each value, and the column
// type a schema-first engine gives a key from the kinds it holds.
//
// Values are copied into exact `int`, `float`, `str`, `bool` objects and new
// lists so that the statements' parameters hold nothing of the caller's: a
// driver that converts them runs no user code, and later changes to the
// graph are not seen through them. The copy runs no Python code either
// (subclasses are read through their builtin storage, never their methods).
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>

#include "ref.hpp"

namespace velarto::py::cypher {

// Kind of a scalar, or of a list's elements (joined over them).
enum class Scalar : std::uint8_t { Null, Bool, Int, Float, Text, Mixed };

struct Kind {
    Scalar scalar = Scalar::Null; // for a list: its elements' kind, Null when none is set
    bool list = false;
    Scalar clash[2] = {Scalar::Null, Scalar::Null}; // a Mixed list: two kinds it mixes
};

// "int", "list of str", "None", "empty list", ...
std::string kind_name(Kind kind);

// Joins two kinds as one column holds them: None goes with anything, an int
// with a float gives a float; false for any other mix (`into` unchanged).
bool join_kinds(Kind& into, Kind value);

// The engine's column type for a joined kind ("INT64", "DOUBLE[]", ...).
const char* column_type(Kind kind);

// A plain copy of `value` and its kind. On refusal returns an empty Ref with
// `refusal` describing why and no exception set; an empty Ref with an
// exception set means memory ran out.
Ref plain_value(PyObject* value, Kind& kind, std::string& refusal);

// An exact str with the text of `key` (a str or subclass).
Ref plain_text(PyObject* key);

// Whether `text` holds a lone surrogate, which no UTF-8 database can store.
bool has_surrogate(PyObject* text);

} // namespace velarto::py::cypher
