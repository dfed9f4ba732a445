// Module entry: creates the module once per process and registers the eleven
// classes in their fixed order, each under its name and in `__all__`.
//
// The module is single-phase and stateless; the module object and the type
// objects are process-wide and kept until the process ends. A second
// interpreter of the same process is refused, since the type objects belong
// to the first one.
#include <Python.h>

#include "classes.hpp"
#include "core/type.hpp"
#include "dict_version.hpp"
#include "ref.hpp"

namespace velarto::py {

PyTypeObject* VariableType = nullptr;
PyTypeObject* ApplicationType = nullptr;
PyTypeObject* TermType = nullptr;
PyTypeObject* NodeType = nullptr;
PyTypeObject* EdgeType = nullptr;
PyTypeObject* GraphType = nullptr;
PyTypeObject* TypeSchemaType = nullptr;
PyTypeObject* NodePatternType = nullptr;
PyTypeObject* EdgePatternType = nullptr;
PyTypeObject* PathPatternType = nullptr;
PyTypeObject* QueryType = nullptr;

namespace {

const char kModuleDoc[] =
    "A Python module for type theoretical graph modeling.\n\n"
    "This module exposes the core classes and functionality of `velarto` to Python, including "
    "the type system, graph components and query mechanisms.\n\n"
    "# Classes Exposed\n\n"
    "- `Variable`: Type variables\n"
    "- `Application`: Application types (A -> B)\n"
    "- `Term`: Typed terms\n"
    "- `Node`: Graph nodes with types\n"
    "- `Edge`: Graph edges with terms\n"
    "- `Graph`: The main graph structure\n"
    "- `TypeSchema`: Type pattern matching\n"
    "- `NodePattern`, `EdgePattern`, `PathPattern`: Query patterns\n"
    "- `Query`: Cypher-like query builder";

PyModuleDef module_definition = {
    // A size of 0, not -1: CPython then calls the init function in every
    // interpreter that imports the module, instead of copying the first
    // interpreter's module dict into it, so the guard below can refuse.
    PyModuleDef_HEAD_INIT, "velarto", kModuleDoc, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

struct Registration {
    const char* name;
    PyTypeObject** slot;
    PyTypeObject* (*create)();
};

const Registration kClasses[] = {
    {"Variable", &VariableType, create_variable_type},
    {"Application", &ApplicationType, create_application_type},
    {"Term", &TermType, create_term_type},
    {"Node", &NodeType, create_node_type},
    {"Edge", &EdgeType, create_edge_type},
    {"Graph", &GraphType, create_graph_type},
    {"TypeSchema", &TypeSchemaType, create_type_schema_type},
    {"NodePattern", &NodePatternType, create_node_pattern_type},
    {"EdgePattern", &EdgePatternType, create_edge_pattern_type},
    {"PathPattern", &PathPatternType, create_path_pattern_type},
    {"Query", &QueryType, create_query_type},
};

PyObject* cached_module = nullptr;
int64_t owner_interpreter = -1;

bool register_class(PyObject* module, PyObject* all, const Registration& entry) {
    if (*entry.slot == nullptr) {
        *entry.slot = entry.create();
        if (*entry.slot == nullptr) return false;
    }
    PyObject* type = reinterpret_cast<PyObject*>(*entry.slot);
    if (PyModule_AddObjectRef(module, entry.name, type) < 0) return false;
    Ref name = Ref::steal(PyUnicode_FromString(entry.name));
    return name && PyList_Append(all, name.get()) == 0;
}

PyObject* create_module() {
    if (!init_dict_versions()) return nullptr;
    // Type nodes are small and made by the million: Python's small-object
    // allocator keeps them without a per-block header. Every node is made and
    // freed with the interpreter lock held, as that allocator requires.
    core::use_node_allocator(PyObject_Malloc, PyObject_Free);
    Ref module = Ref::steal(PyModule_Create2(&module_definition, PYTHON_API_VERSION));
    if (!module) return nullptr;
    Ref all = Ref::steal(PyList_New(0));
    if (!all || PyModule_AddObjectRef(module.get(), "__all__", all.get()) < 0) return nullptr;
    for (const Registration& entry : kClasses) {
        if (!register_class(module.get(), all.get(), entry)) return nullptr;
    }
    return module.release();
}

} // namespace

} // namespace velarto::py

PyMODINIT_FUNC PyInit_velarto() {
    using namespace velarto::py;
    int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (cached_module != nullptr) {
        if (interpreter != owner_interpreter) {
            PyErr_SetString(PyExc_ImportError,
                            "velarto can be imported in one interpreter per process only");
            return nullptr;
        }
        Py_INCREF(cached_module);
        return cached_module;
    }
    PyObject* module = create_module();
    if (!module) return nullptr;
    cached_module = module;
    Py_INCREF(cached_module); // the cache's own reference
    owner_interpreter = interpreter;
    return module;
}
