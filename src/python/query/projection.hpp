// Turning the binding table into rows (after a run).
#pragma once

#include <Python.h>

#include "query/query_state.hpp"

namespace velarto::py::query {

// The rows of the requested names: row j holds entry j of every requested
// list longer than j; empty rows are dropped. `names` are borrowed str
// objects. With `distinct`, later duplicate rows are dropped.
PyObject* project_rows(const Bindings& bindings, PyObject* const* names, Py_ssize_t count, bool distinct);

} // namespace velarto::py::query
