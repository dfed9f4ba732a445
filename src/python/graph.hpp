// The Graph class and the lookup of the nodes of one type.
#pragma once

#include <Python.h>

#include <vector>

#include "dict_version.hpp"
#include "graph_elements.hpp"
#include "ref.hpp"

namespace velarto::py {

// A reference to a graph's edge dict that reports each drop (dict_version.hpp),
// so that the edge index kept for the dict goes when the dict is freed, on
// 3.11 too. Graphs, queries and their copies all hold the dict this way.
class EdgeDictRef : public Ref {
public:
    EdgeDictRef() = default;
    EdgeDictRef(Ref dict) : Ref(std::move(dict)) {}
    EdgeDictRef(const EdgeDictRef&) = default;
    EdgeDictRef(EdgeDictRef&&) noexcept = default;
    EdgeDictRef& operator=(EdgeDictRef other) noexcept {
        releasing_dict(get());
        Ref::operator=(std::move(other));
        return *this;
    }
    ~EdgeDictRef() { releasing_dict(get()); }
};

struct GraphDicts {
    Ref nodes;         // node uid -> Node, by convention; any object by Python code
    EdgeDictRef edges; // edge uid -> Edge
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
