// Pickling and copying: the `__reduce__` of every value class. What no
// constructor can take is rebuilt by a function that pickle finds in the
// private module `_velarto_pickle`, not in the extension module.
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

} // namespace velarto::py

#define VELARTO_REDUCE_METHOD(function) {"__reduce__", function, METH_NOARGS, ::velarto::py::kReduceDoc}
