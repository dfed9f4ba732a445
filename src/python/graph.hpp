// The Graph class and the lookup of the nodes of one type.
#pragma once

#include <Python.h>

#include <vector>

#include "graph_elements.hpp"
#include "ref.hpp"

namespace velarto::py {

struct GraphDicts {
    Ref nodes; // node uid -> Node, by convention; any object by Python code
    Ref edges; // edge uid -> Edge
};

struct GraphObject {
    PyObject_HEAD
    GraphDicts value;
};

// The nodes whose type has the uid of `type`, in dictionary order (copies).
// Every entry must have a str key and a Node value, even unrelated ones;
// otherwise a TypeError. Returns false with an exception set on failure.
bool get_nodes_by_type(PyObject* nodes, const core::TypeNode& type, std::vector<NodeValue>& out);

// Graph.to_networkx(): a new networkx.MultiDiGraph (networkx imported on call).
PyObject* graph_to_networkx(PyObject* self, PyObject*);

} // namespace velarto::py
