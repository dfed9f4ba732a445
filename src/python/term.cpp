// Term: a named inhabitant of a type, and term application with its one
// typing rule. The name can be reassigned; the type is fixed at construction.
#include "term.hpp"

#include <string>

#include "args.hpp"
#include "core/type_intern.hpp"
#include "classes.hpp"
#include "errors.hpp"
#include "pickling.hpp"
#include "ref.hpp"
#include "types.hpp"

namespace velarto::py {

PyObject* term_to_python(const core::Term& term) {
    return reinterpret_cast<PyObject*>(new_object<TermObject>(TermType, term));
}

namespace {

core::Term& term_value(PyObject* self) { return as<TermObject>(self)->value; }

const Signature kTermNew{"Term", {"name", "type"}, 2, 2};

PyObject* term_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Bound bound;
    if (!bind(kTermNew, args, kwargs, bound) || !require_str(kTermNew, 0, bound[0])) return nullptr;
    core::Term term;
    if (!to_utf8(bound[0], term.name) || !python_to_type(bound[1], term.type)) return nullptr;
    core::TypeInterner::intern(term.type);
    return reinterpret_cast<PyObject*>(new_object<TermObject>(type, std::move(term)));
}

PyObject* term_get_name(PyObject* self, void*) { return to_python_str(term_value(self).name); }

int term_set_name(PyObject* self, PyObject* value, void*) {
    if (refuse_delete(value)) return -1;
    if (!PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "name must be str, not %.200s", Py_TYPE(value)->tp_name);
        return -1;
    }
    std::string name;
    if (!to_utf8(value, name)) return -1;
    term_value(self).name = std::move(name);
    return 0;
}

PyObject* term_get_type(PyObject* self, void*) { return type_to_python(term_value(self).type); }

PyObject* term_uid(PyObject* self, PyObject*) { return uid_to_python(core::term_digest(term_value(self))); }

PyObject* term_str(PyObject* self) {
    const core::Term& term = term_value(self);
    std::string text = term.name;
    text += ':';
    core::append_display(text, *term.type);
    return to_python_str(text);
}

PyObject* term_repr(PyObject* self) {
    const core::Term& term = term_value(self);
    std::string text = "Term(\"";
    text += term.name;
    text += "\", ";
    core::append_display(text, *term.type);
    text += ')';
    return to_python_str(text);
}

Py_hash_t term_hash(PyObject* self) { return to_python_hash(core::term_hash(term_value(self))); }

PyObject* term_richcompare(PyObject* self, PyObject* other, int op) {
    if (op == Py_NE) {
        Ref equal = Ref::steal(PyObject_RichCompare(self, other, Py_EQ));
        if (!equal) return nullptr;
        int truth = PyObject_IsTrue(equal.get());
        return truth < 0 ? nullptr : PyBool_FromLong(!truth);
    }
    if (op != Py_EQ || Py_TYPE(other) != TermType) Py_RETURN_NOTIMPLEMENTED;
    return PyBool_FromLong(core::equal(term_value(self), term_value(other)));
}

const Signature kTermCall{"Term.__call__", {"other"}, 1, 1};

PyObject* term_call(PyObject* self, PyObject* args, PyObject* kwargs) {
    Bound bound;
    if (!bind(kTermCall, args, kwargs, bound)) return nullptr;
    if (Py_TYPE(bound[0]) != TermType) return argument_error(kTermCall, 0, "Term", bound[0]), nullptr;
    core::Result<core::Term> applied = core::apply(term_value(self), term_value(bound[0]));
    if (!applied) return raise(applied.error());
    return term_to_python(applied.value());
}

PyMethodDef term_methods[] = {
    {"uid", term_uid, METH_NOARGS,
     "uid($self)\n--\n\nReturns a unique identifier for this term.\n\n"
     "The UID is constructed using SHA256 hash based on the term's name and type UID.\n\n"
     "# Returns\n\nA SHA256 hash representing this term uniquely"},
    VELARTO_REDUCE_METHOD(reduce_term),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef term_getset[] = {
    {"name", term_get_name, term_set_name, "The name of this term.", nullptr},
    {"type", term_get_type, nullptr,
     "Gets the type of this term.\n\n# Returns\n\nThe type as a Python object (Variable or Application)",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char kTermDoc[] =
    "Term(name, type)\n--\n\n"
    "Represents a typed term in the type theory.\n\n"
    "A term is a named inhabitant of a type. A term of a function type can be called with a "
    "term of the function's input type, which yields a term of the output type.\n\n"
    "# Example\n\n"
    "```python\nA, B = velarto.Variable(\"A\"), velarto.Variable(\"B\")\n"
    "f = velarto.Term(\"f\", velarto.Application(A, B))\n"
    "x = velarto.Term(\"x\", A)\nprint(f(x))  # (f x):B\n```\n\n"
    "# Fields\n\n- `name`: the name of the term (can be reassigned)\n- `type`: the type of the term";

} // namespace

PyTypeObject* create_term_type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(term_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<TermObject>)},
        {Py_tp_repr, reinterpret_cast<void*>(term_repr)},
        {Py_tp_str, reinterpret_cast<void*>(term_str)},
        {Py_tp_hash, reinterpret_cast<void*>(term_hash)},
        {Py_tp_call, reinterpret_cast<void*>(term_call)},
        {Py_tp_richcompare, reinterpret_cast<void*>(term_richcompare)},
        {Py_tp_methods, term_methods},
        {Py_tp_getset, term_getset},
        {Py_tp_doc, const_cast<char*>(kTermDoc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {"velarto.Term", sizeof(TermObject), 0, Py_TPFLAGS_DEFAULT, slots};
    return make_class(spec, kTermDoc);
}

} // namespace velarto::py
