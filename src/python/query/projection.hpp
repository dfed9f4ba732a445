// Turning the binding table into rows (after a run).
#pragma once

#include <Python.h>

#include "query/query_state.hpp"

namespace velarto::py::query {

// The rows of the requested items: row j holds entry j of every requested
// list longer than j and the value of every expression on row j; empty rows
// are dropped; an aggregate groups the rows. `names` are borrowed str
// objects; `bindings` is the state's table, held by the caller. With
// `distinct`, later duplicate rows are dropped.
PyObject* project_rows(QueryState& state, const Bindings& bindings, PyObject* const* names, Py_ssize_t count,
                       bool distinct);

} // namespace velarto::py::query
