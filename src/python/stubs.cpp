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

PyTypeObject* create_query_type() {
    return make_stub("Query", "Query(graph)\n--\n\nCypher-like query builder for the graph.");
}

PyObject* new_query(const GraphDicts&) {
    PyErr_SetString(PyExc_NotImplementedError, "Query is not built yet");
    return nullptr;
}

} // namespace velarto::py
