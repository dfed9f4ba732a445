// The eleven Python classes: their type objects (made once per process, kept
// until it ends) and the helpers every class file uses to make a heap type
// and to allocate and free instances that hold a C++ value.
#pragma once

#include <Python.h>

#include <new>
#include <utility>

namespace velarto::py {

extern PyTypeObject* VariableType;
extern PyTypeObject* ApplicationType;
extern PyTypeObject* TermType;
extern PyTypeObject* NodeType;
extern PyTypeObject* EdgeType;
extern PyTypeObject* GraphType;
extern PyTypeObject* TypeSchemaType;
extern PyTypeObject* NodePatternType;
extern PyTypeObject* EdgePatternType;
extern PyTypeObject* PathPatternType;
extern PyTypeObject* QueryType;

// Each class file defines one of these; it creates the type object.
PyTypeObject* create_variable_type();
PyTypeObject* create_application_type();
PyTypeObject* create_term_type();
PyTypeObject* create_node_type();
PyTypeObject* create_edge_type();
PyTypeObject* create_graph_type();
PyTypeObject* create_type_schema_type();
PyTypeObject* create_node_pattern_type();
PyTypeObject* create_edge_pattern_type();
PyTypeObject* create_path_pattern_type();
PyTypeObject* create_query_type();

// A heap type from `spec` (named "velarto.Name"; flags: default only, so not
// subclassable, no dict, no weak references, no GC), whose docstring keeps
// its leading text signature so that `inspect.signature` works, and whose
// `__module__` is "velarto" while its name stays bare.
PyTypeObject* make_class(PyType_Spec& spec, const char* doc);

// Allocates an instance of `type` and constructs its C++ value in place.
template <class Object, class... Args>
Object* new_object(PyTypeObject* type, Args&&... args) {
    PyObject* raw = type->tp_alloc(type, 0);
    if (!raw) return nullptr;
    auto* object = reinterpret_cast<Object*>(raw);
    new (&object->value) decltype(object->value)(std::forward<Args>(args)...);
    return object;
}

// tp_dealloc for a class whose instances hold `value`.
template <class Object>
void dealloc_object(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    using Value = decltype(Object::value);
    reinterpret_cast<Object*>(self)->value.~Value();
    type->tp_free(self);
    Py_DECREF(type);
}

template <class Object>
Object* as(PyObject* object) {
    return reinterpret_cast<Object*>(object);
}

// Setter guard: refuses `del obj.attr`.
inline bool refuse_delete(PyObject* value) {
    if (value != nullptr) return false;
    PyErr_SetString(PyExc_AttributeError, "can't delete attribute");
    return true;
}

} // namespace velarto::py
