// Heap-type creation shared by every class.
//
// The interpreter strips the text signature from a spec's docstring when it
// copies it into the type; the class's `__text_signature__` is read from
// `tp_doc`, so the full docstring is put back there (the dict's `__doc__`
// keeps the stripped text, as for built-in classes).
//
// Specs are named "velarto.Name" so that the interpreter sets `__module__`
// itself (a bare spec name draws a DeprecationWarning, which becomes an
// import failure under `-W error`); the type's name is then pointed at the
// part after the dot, so messages and `__name__` show the bare class name.
#include "classes.hpp"

#include <cstring>

#include "ref.hpp"

namespace velarto::py {

PyTypeObject* make_class(PyType_Spec& spec, const char* doc) {
    Ref type = Ref::steal(PyType_FromSpec(&spec));
    if (!type) return nullptr;
    auto* type_object = reinterpret_cast<PyTypeObject*>(type.get());
    std::size_t size = std::strlen(doc) + 1;
    auto* full_doc = static_cast<char*>(PyObject_Malloc(size));
    if (!full_doc) {
        PyErr_NoMemory();
        return nullptr;
    }
    std::memcpy(full_doc, doc, size);
    PyObject_Free(const_cast<char*>(type_object->tp_doc));
    type_object->tp_doc = full_doc;
    if (const char* dot = std::strrchr(type_object->tp_name, '.')) type_object->tp_name = dot + 1;
    return reinterpret_cast<PyTypeObject*>(type.release());
}

} // namespace velarto::py
