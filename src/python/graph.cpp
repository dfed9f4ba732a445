// Graph: two shared dicts (nodes and edges by uid) and the lookup by type.
//
// The lookup makes one pass over the node dict. It runs no Python code while
// walking (exact class checks, no key hashing), so the dict cannot change
// under it. Types are compared by digest, which each type value keeps once
// computed: after the first lookup, a node costs a 32-byte compare, not a
// SHA-256. A key of a str subclass is looked up again, as its own hash and
// equality decide what the dict holds under it.
#include "graph.hpp"
#include "node_lookahead.hpp"

#include <cstring>

#include "args.hpp"
#include "classes.hpp"
#include "errors.hpp"
#include "pickling.hpp"
#include "query/query.hpp"

namespace velarto::py {

namespace {

bool same_type(const core::TypeNode& candidate, const core::TypeNode& wanted, const core::Digest& digest) {
    return &candidate == &wanted || core::same_digest(candidate.digest(), digest);
}

} // namespace

bool get_nodes_by_type(PyObject* nodes, const core::TypeNode& type, std::vector<NodeValue>& out) {
    const core::Digest& digest = type.digest();
    // Keys of str subclasses that matched, held: a signal handler may drop
    // them from the dict before they are looked up again.
    std::vector<Ref> relookup;
    NodeLookahead entries(nodes, {.type = true}); // checks for signals, and runs no other Python code
    PyObject* key;
    while (PyObject* value = entries.next(&key)) {
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "node dictionary key must be str, not %.200s",
                         Py_TYPE(key)->tp_name);
            return false;
        }
        const NodeValue* node = node_value(value);
        if (!node) return false;
        if (!same_type(*node->type, type, digest)) continue;
        if (PyUnicode_CheckExact(key)) {
            out.push_back(*node);
        } else {
            relookup.push_back(Ref::borrow(key));
            out.push_back(NodeValue{}); // placeholder kept in dictionary order
        }
    }
    if (entries.failed()) return false;
    if (relookup.empty()) return true;
    // Their hash and equality run Python code: looked up again, one by one.
    std::vector<NodeValue> result;
    std::size_t next = 0;
    for (NodeValue& node : out) {
        if (node.type) {
            result.push_back(std::move(node));
            continue;
        }
        PyObject* found = PyDict_GetItemWithError(nodes, relookup[next++].get());
        if (!found) {
            if (PyErr_Occurred()) return false;
            continue;
        }
        Ref keep = Ref::borrow(found);
        const NodeValue* again = node_value(found);
        if (!again) return false;
        result.push_back(*again);
    }
    out = std::move(result);
    return true;
}

namespace {

GraphDicts& graph_of(PyObject* self) { return as<GraphObject>(self)->value; }

const Signature kGraphNew{"Graph", {}, 0, 0};

PyObject* graph_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Bound bound;
    if (!bind(kGraphNew, args, kwargs, bound)) return nullptr;
    GraphDicts dicts{Ref::steal(PyDict_New()), Ref::steal(PyDict_New())};
    if (!dicts.nodes || !dicts.edges) return nullptr;
    return reinterpret_cast<PyObject*>(new_object<GraphObject>(type, std::move(dicts)));
}

PyObject* graph_get_nodes(PyObject* self, void*) { return Ref(graph_of(self).nodes).release(); }
PyObject* graph_get_edges(PyObject* self, void*) { return Ref(graph_of(self).edges).release(); }

PyObject* graph_repr(PyObject* self) {
    return PyUnicode_FromFormat("Graph(%zd nodes, %zd edges)", PyDict_Size(graph_of(self).nodes.get()),
                                PyDict_Size(graph_of(self).edges.get()));
}

PyObject* graph_query(PyObject* self, PyObject*) { return new_query(graph_of(self)); }

PyMethodDef graph_methods[] = {
    {"query", graph_query, METH_NOARGS,
     "query($self)\n--\n\nCreates a new query builder for this graph.\n\n"
     "The query works on this graph's own `nodes` and `edges` dictionaries.\n\n"
     "# Returns\n\nA new `Query` with no bound variables and no queued operations"},
    {"to_networkx", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<graph_to_networkx>)),
     METH_NOARGS,
     "to_networkx($self)\n--\n\nExports this graph to a `networkx.MultiDiGraph` (networkx is imported "
     "on call; install it with `pip install 'velarto[networkx]'`).\n\n"
     "Each node becomes a networkx node keyed by its uid, whose attributes are a copy of its "
     "properties plus `node`, a new `Node` object; each edge becomes a networkx edge from its start "
     "node's uid to its end node's uid, keyed by its uid, whose attributes are a copy of its "
     "properties plus `edge`, a new `Edge` object. Later changes on either side are not seen by the "
     "other, except inside shared property values.\n\n"
     "# Returns\n\nA new `networkx.MultiDiGraph`"},
    {"to_cypher", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<graph_to_cypher>)),
     METH_FASTCALL | METH_KEYWORDS,
     "to_cypher($self, dialect='opencypher')\n--\n\nExports this graph as Cypher statements that create it in an "
     "empty database.\n\n"
     "Nodes have the label `VNode` and the properties `velarto_uid`, `velarto_type`, `velarto_shape` "
     "(the type's parts, pre-order, each its path of 'L'/'R' then '->' or '=' and a name) and their own "
     "properties; edges have the type `VEdge`, the same and `velarto_name`. Every value is a parameter, "
     "in batches of 5,000 rows (`UNWIND $rows AS row ...`), nodes first. `dialect='ladybug'` writes for "
     "the schema-first engine of the `real-ladybug` package: two CREATE TABLE statements whose column "
     "types come from the data, then the rows.\n\n"
     "Property values must be str, int (64 bits), float, bool, None or lists of those (TypeError "
     "otherwise); keys starting with `velarto_` raise ValueError, and so do, for ladybug, keys that "
     "engine cannot take. Each error names the element and the key; nothing is returned then.\n\n"
     "# Returns\n\nA list of `(statement, parameters)` pairs, to run in order"},
    VELARTO_REDUCE_METHOD(reduce_graph),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef graph_getset[] = {
    {"nodes", graph_get_nodes, nullptr, "Dictionary mapping node UIDs to Node objects", nullptr},
    {"edges", graph_get_edges, nullptr, "Dictionary mapping edge UIDs to Edge objects", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char kGraphDoc[] =
    "Graph()\n--\n\n"
    "Represents a type theoretical theory model as a graph.\n\n"
    "Nodes stand for types and edges for typed terms. Elements are added by assigning them into "
    "the `nodes` and `edges` dictionaries under their uids, or by queries.\n\n"
    "# Example\n\n"
    "```python\ngraph = velarto.Graph()\nnode = velarto.Node(velarto.Variable(\"Person\"))\n"
    "graph.nodes[node.uid()] = node\nprint(graph)  # Graph(1 nodes, 0 edges)\n```\n\n"
    "# Fields\n\n- `nodes`: Dictionary mapping node UIDs to Node objects\n"
    "- `edges`: Dictionary mapping edge UIDs to Edge objects";

} // namespace

PyTypeObject* create_graph_type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(graph_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<GraphObject>)},
        {Py_tp_repr, reinterpret_cast<void*>(graph_repr)},
        {Py_tp_methods, graph_methods},
        {Py_tp_getset, graph_getset},
        {Py_tp_doc, const_cast<char*>(kGraphDoc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {"velarto.Graph", sizeof(GraphObject), 0, Py_TPFLAGS_DEFAULT, slots};
    return make_class(spec, kGraphDoc);
}

} // namespace velarto::py
