// The Graph class and the lookup of the nodes of one type.
#pragma once

#include <Python.h>

#include <vector>

#include "dict_version.hpp"
#include "graph_elements.hpp"
#include "ref.hpp"

namespace velarto::py {

// A reference to a graph's dict that reports each drop (dict_version.hpp), so
// that what is kept for the dict (its edge index, its node table) goes when
// the dict is freed, on 3.11 too. Graphs, queries and their copies all hold
// their dicts this way.
class GraphDictRef : public Ref {
public:
    GraphDictRef() = default;
    GraphDictRef(Ref dict) : Ref(std::move(dict)) {}
    GraphDictRef(const GraphDictRef&) = default;
    GraphDictRef(GraphDictRef&&) noexcept = default;
    GraphDictRef& operator=(GraphDictRef other) noexcept {
        releasing_dict(get());
        Ref::operator=(std::move(other));
        return *this;
    }
    ~GraphDictRef() { releasing_dict(get()); }
};

struct GraphDicts {
    GraphDictRef nodes; // node uid -> Node, by convention; any object by Python code
    GraphDictRef edges; // edge uid -> Edge
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

// Graph.to_cypher(dialect='opencypher'): [(statement, parameters), ...]
// that create the graph in an empty database (cypher_export.cpp).
PyObject* graph_to_cypher(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

} // namespace velarto::py
