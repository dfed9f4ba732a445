// Graph.to_networkx(): export to a networkx.MultiDiGraph.
//
// networkx is an optional dependency, imported when the method is called, so
// importing velarto never pays for it. The export snapshots the two dicts'
// values first and copies every value it keeps (the attribute dicts are new
// dicts): filling an attribute dict can run Python code (a property key's
// `__eq__`), which may change the graph under us, and the snapshot is what
// the export then reflects. Nodes are keyed by the uid of their value, and
// edges join the uids of their start and end values, so an edge always meets
// the node of its end point's type; an end point missing from the node dict
// becomes a networkx node without attributes.
#include <utility>

#include "classes.hpp"
#include "graph.hpp"
#include "interrupts.hpp"
#include "ref.hpp"

namespace velarto::py {

namespace {

// ImportError with a hint, chained to the original failure.
PyObject* networkx_missing() {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    PyErr_SetString(PyExc_ImportError,
                    "Graph.to_networkx() needs networkx, which is not installed: "
                    "pip install 'velarto[networkx]'");
    PyObject *new_type, *new_value, *new_traceback;
    PyErr_Fetch(&new_type, &new_value, &new_traceback);
    PyErr_NormalizeException(&new_type, &new_value, &new_traceback);
    if (value) {
        PyException_SetContext(new_value, Py_NewRef(value));
        PyException_SetCause(new_value, value); // steals
    }
    PyErr_Restore(new_type, new_value, new_traceback);
    return nullptr;
}

// A copy of `properties` with `name` set to `element`.
PyObject* attributes(PyObject* properties, const char* name, PyObject* element) {
    Ref copy = Ref::steal(PyDict_Copy(properties));
    if (!copy || PyDict_SetItemString(copy.get(), name, element) < 0) return nullptr;
    return copy.release();
}

// [(uid, attributes), ...] for add_nodes_from.
PyObject* node_entries(PyObject* nodes) {
    Ref values = Ref::steal(PyDict_Values(nodes));
    if (!values) return nullptr;
    Ref entries = Ref::steal(PyList_New(0));
    if (!entries) return nullptr;
    SignalCheck signals;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(values.get()); ++i) {
        if (!signals.tick()) return nullptr;
        const NodeValue* found = node_value(PyList_GET_ITEM(values.get(), i));
        if (!found) return nullptr;
        NodeValue node = *found; // our own references while Python code runs
        Ref uid = Ref::steal(node_uid_to_python(node));
        Ref wrapper = Ref::steal(node_to_python(node));
        if (!uid || !wrapper) return nullptr;
        Ref attrs = Ref::steal(attributes(node.properties.get(), "node", wrapper.get()));
        if (!attrs) return nullptr;
        Ref entry = Ref::steal(PyTuple_Pack(2, uid.get(), attrs.get()));
        if (!entry || PyList_Append(entries.get(), entry.get()) < 0) return nullptr;
    }
    return entries.release();
}

// [(start uid, end uid, uid, attributes), ...] for add_edges_from.
PyObject* edge_entries(PyObject* edges) {
    Ref values = Ref::steal(PyDict_Values(edges));
    if (!values) return nullptr;
    Ref entries = Ref::steal(PyList_New(0));
    if (!entries) return nullptr;
    SignalCheck signals;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(values.get()); ++i) {
        if (!signals.tick()) return nullptr;
        const EdgeValue* found = edge_value(PyList_GET_ITEM(values.get(), i));
        if (!found) return nullptr;
        EdgeValue edge = *found;
        Ref start = Ref::steal(node_uid_to_python(edge.core->start));
        Ref end = Ref::steal(node_uid_to_python(edge.core->end));
        Ref uid = Ref::steal(edge_uid_to_python(edge));
        Ref wrapper = Ref::steal(edge_to_python(edge));
        if (!start || !end || !uid || !wrapper) return nullptr;
        Ref attrs = Ref::steal(attributes(edge.properties.get(), "edge", wrapper.get()));
        if (!attrs) return nullptr;
        Ref entry = Ref::steal(PyTuple_Pack(4, start.get(), end.get(), uid.get(), attrs.get()));
        if (!entry || PyList_Append(entries.get(), entry.get()) < 0) return nullptr;
    }
    return entries.release();
}

} // namespace

PyObject* graph_to_networkx(PyObject* self, PyObject*) {
    Ref networkx = Ref::steal(PyImport_ImportModule("networkx"));
    if (!networkx) return PyErr_ExceptionMatches(PyExc_ImportError) ? networkx_missing() : nullptr;
    GraphDicts dicts = as<GraphObject>(self)->value; // held: the export runs Python code
    Ref nodes = Ref::steal(node_entries(dicts.nodes.get()));
    if (!nodes) return nullptr;
    Ref edges = Ref::steal(edge_entries(dicts.edges.get()));
    if (!edges) return nullptr;
    Ref result = Ref::steal(PyObject_CallMethod(networkx.get(), "MultiDiGraph", nullptr));
    if (!result) return nullptr;
    Ref added = Ref::steal(PyObject_CallMethod(result.get(), "add_nodes_from", "O", nodes.get()));
    if (!added) return nullptr;
    added = Ref::steal(PyObject_CallMethod(result.get(), "add_edges_from", "O", edges.get()));
    if (!added) return nullptr;
    return result.release();
}

} // namespace velarto::py
