// Kind to exception class, and the one place where an engine error is raised.
#include "errors.hpp"

#include "ref.hpp"

namespace velarto::py {

PyObject* exception_class(core::ErrorKind kind) {
    using core::ErrorKind;
    switch (kind) {
    case ErrorKind::TypeMismatch: return PyExc_TypeError;
    case ErrorKind::NodeNotFound:
    case ErrorKind::EdgeNotFound: return PyExc_KeyError;
    case ErrorKind::InvalidPattern:
    case ErrorKind::InvalidQuery:
    case ErrorKind::InvalidIdentifier:
    case ErrorKind::SchemaValidation: return PyExc_ValueError;
    case ErrorKind::PropertyError: return PyExc_AttributeError;
    case ErrorKind::VariableNotFound: return PyExc_NameError;
    }
    return PyExc_RuntimeError;
}

PyObject* raise(const core::VelartoError& error) {
    // Built with one positional argument so that `args` is exactly (message,).
    Ref message = Ref::steal(to_python_str(error.message()));
    if (!message) return nullptr;
    Ref instance = Ref::steal(PyObject_CallOneArg(exception_class(error.kind), message.get()));
    if (!instance) return nullptr;
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(instance.get())), instance.get());
    return nullptr;
}

} // namespace velarto::py
