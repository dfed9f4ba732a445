// Classes registered now whose behaviour is built next; their constructors
// say so. Each moves to its own file when it is built.
#include "classes.hpp"
#include "graph.hpp"
#include "query/query.hpp"

namespace velarto::py {

namespace {

struct EmptyObject {
    PyObject_HEAD
    char value;
};

PyObject* not_built(PyTypeObject* type, PyObject*, PyObject*) {
    PyErr_Format(PyExc_NotImplementedError, "%s is not built yet", type->tp_name);
    return nullptr;
}

PyTypeObject* make_stub(const char* name, const char* doc) {
    PyType_Slot* slots = new PyType_Slot[4]{
        {Py_tp_new, reinterpret_cast<void*>(not_built)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<EmptyObject>)},
        {Py_tp_doc, const_cast<char*>(doc)},
        {0, nullptr},
    };
    PyType_Spec* spec = new PyType_Spec{name, sizeof(EmptyObject), 0, Py_TPFLAGS_DEFAULT, slots};
    return make_class(*spec, doc);
}

} // namespace

PyTypeObject* create_type_schema_type() {
    return make_stub("TypeSchema", "TypeSchema(pattern)\n--\n\nRepresents a regex-like pattern for matching types.");
}
PyTypeObject* create_node_pattern_type() {
    return make_stub("NodePattern",
                     "NodePattern(variable=None, type=..., type_schema=None, properties=None)\n--\n\n"
                     "Represents a node pattern in a Cypher-like query.");
}
PyTypeObject* create_edge_pattern_type() {
    return make_stub("EdgePattern",
                     "EdgePattern(variable=None, term=None, term_type_schema=None, properties=None, "
                     "direction=...)\n--\n\nRepresents an edge pattern in a Cypher-like query.");
}
PyTypeObject* create_path_pattern_type() {
    return make_stub("PathPattern", "PathPattern(pattern=None)\n--\n\nRepresents a path pattern in a Cypher-like query.");
}
PyTypeObject* create_query_type() {
    return make_stub("Query", "Query(graph)\n--\n\nCypher-like query builder for the graph.");
}

PyObject* new_query(const GraphDicts&) {
    PyErr_SetString(PyExc_NotImplementedError, "Query is not built yet");
    return nullptr;
}

} // namespace velarto::py
