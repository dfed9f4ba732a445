// Pickling and copying: the `__reduce__` of every value class, and the one
// private module function that rebuilds what no constructor can take.
#pragma once

#include <Python.h>

namespace velarto::py {

// `__reduce__` implementations (METH_NOARGS), one per class family.
PyObject* reduce_type(PyObject* self, PyObject*);
PyObject* reduce_term(PyObject* self, PyObject*);
PyObject* reduce_node(PyObject* self, PyObject*);
PyObject* reduce_edge(PyObject* self, PyObject*);
PyObject* reduce_graph(PyObject* self, PyObject*);
PyObject* reduce_type_schema(PyObject* self, PyObject*);
PyObject* reduce_node_pattern(PyObject* self, PyObject*);
PyObject* reduce_edge_pattern(PyObject* self, PyObject*);
PyObject* reduce_path_pattern(PyObject* self, PyObject*);

extern const char kReduceDoc[];

// Adds the private `_reconstruct` function to the module (it must be found
// by name when a pickle is loaded) and keeps a reference for the reducers.
bool add_reconstructor(PyObject* module);

} // namespace velarto::py

#define VELARTO_REDUCE_METHOD(function) {"__reduce__", function, METH_NOARGS, ::velarto::py::kReduceDoc}
