// A small store of freed instances for the classes whose objects are made and
// dropped by the million (a query's rows wrap every node and edge they hold).
//
// The class's tp_dealloc destroys the value and, while the store has room,
// keeps the memory instead of freeing it; tp_alloc takes it back and starts it
// afresh as a new object of the class. Heap-type rules hold on both paths: an
// instance owns a reference to its type from its allocation (PyObject_Init
// takes it, as the generic allocator does) until its dealloc drops it.
//
// Instances of these classes hold no references outside their value, are not
// tracked by the collector and have no dict or weak references, so the bare
// memory is all there is to keep. The store lives as long as the process (as
// the class objects do; a second interpreter is refused).
#pragma once

#include <Python.h>

#include "classes.hpp"

namespace velarto::py {

template <class Object>
class FreeList {
public:
    static PyObject* alloc(PyTypeObject* type, Py_ssize_t items) {
        if (items != 0) return PyType_GenericAlloc(type, items);
        // The caller constructs the value at once (new_object), so the
        // memory needs no clearing, which the generic allocator would do.
        void* raw = count_ != 0 ? kept_[--count_] : PyObject_Malloc(sizeof(Object));
        if (!raw) return PyErr_NoMemory();
        return PyObject_Init(static_cast<PyObject*>(raw), type);
    }

    static void dealloc(PyObject* self) {
        PyTypeObject* type = Py_TYPE(self);
        using Value = decltype(Object::value);
        reinterpret_cast<Object*>(self)->value.~Value();
        if (count_ < kCapacity) {
            kept_[count_++] = self;
        } else {
            type->tp_free(self);
        }
        Py_DECREF(type);
    }

private:
    // Rows are made and dropped in waves, each wave's frees feeding the next
    // wave's allocations; a deeper store would only sit on memory.
    static constexpr int kCapacity = 128;
    static inline PyObject* kept_[kCapacity] = {};
    static inline int count_ = 0;
};

} // namespace velarto::py
