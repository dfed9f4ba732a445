// The Query class: entry points used by other classes.
#pragma once

#include <Python.h>

namespace velarto::py {

struct GraphDicts;

// A new Query over the graph's two dicts, with no bindings and no operations.
PyObject* new_query(const GraphDicts& graph);

} // namespace velarto::py
