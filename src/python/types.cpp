// Variable and Application: the two Python classes over the type value.
//
// Both hold a `TypeRef`. A Variable's name can be reassigned: that replaces
// the value it holds, so values taken from it earlier (inside applications,
// terms, nodes) keep the old name. Equality, hash and uid are computed from
// the value on every call; the value itself keeps its digest (invisible, as
// the value never changes).
#include "types.hpp"

#include <cstring>
#include <string>

#include "args.hpp"
#include "classes.hpp"
#include "core/siphash.hpp"
#include "errors.hpp"
#include "pickling.hpp"
#include "ref.hpp"

namespace velarto::py {

// --- conversions -----------------------------------------------------------

bool python_to_type(PyObject* object, core::TypeRef& out) {
    if (!is_type_object(object)) {
        PyErr_SetString(PyExc_TypeError, "Expected Variable or Application");
        return false;
    }
    out = as<TypeObject>(object)->value;
    return true;
}

PyObject* type_to_python(const core::TypeRef& type) {
    PyTypeObject* cls = type->is_variable() ? VariableType : ApplicationType;
    return reinterpret_cast<PyObject*>(new_object<TypeObject>(cls, type));
}

PyObject* display_to_python(const core::TypeNode& type) {
    if (type.is_variable()) return to_python_str(type.name());
    return to_python_str(core::display(type));
}

PyObject* uid_to_python(const core::Digest& digest) {
    PyObject* text = PyUnicode_New(64, 127);
    if (!text) return nullptr;
    core::digest_to_hex(digest, static_cast<char*>(PyUnicode_DATA(text)));
    return text;
}

Py_hash_t to_python_hash(std::uint64_t raw) {
    auto hash = static_cast<Py_hash_t>(raw);
    return hash == -1 ? -2 : hash;
}

namespace {

const core::TypeRef& type_value(PyObject* self) { return as<TypeObject>(self)->value; }

// `a != b` is the negated truth of the Python comparison `a == b`.
PyObject* negated_equality(PyObject* self, PyObject* other) {
    Ref equal = Ref::steal(PyObject_RichCompare(self, other, Py_EQ));
    if (!equal) return nullptr;
    int truth = PyObject_IsTrue(equal.get());
    if (truth < 0) return nullptr;
    return PyBool_FromLong(!truth);
}

PyObject* type_richcompare(PyObject* self, PyObject* other, int op) {
    if (op == Py_NE) return negated_equality(self, other);
    if (op != Py_EQ || Py_TYPE(other) != Py_TYPE(self)) Py_RETURN_NOTIMPLEMENTED;
    return PyBool_FromLong(core::equal(*type_value(self), *type_value(other)));
}

// Kept in the object as well as in the value: a set or dict of types hashes
// each object again and again, and the object is the memory already at hand.
Py_hash_t type_hash(PyObject* self) {
    TypeObject* object = as<TypeObject>(self);
    if (object->hash == 0) object->hash = to_python_hash(core::type_object_hash(*object->value));
    return object->hash;
}

PyObject* type_uid(PyObject* self, PyObject*) { return uid_to_python(type_value(self)->digest()); }

PyObject* type_str(PyObject* self) { return display_to_python(*type_value(self)); }

// --- Variable ----------------------------------------------------------------

const Signature kVariableNew{"Variable", {"name"}, 1, 1};

PyObject* variable_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Bound bound;
    if (!bind(kVariableNew, args, kwargs, bound) || !require_str(kVariableNew, 0, bound[0])) {
        return nullptr;
    }
    std::string name;
    if (!to_utf8(bound[0], name)) return nullptr;
    return reinterpret_cast<PyObject*>(new_object<TypeObject>(type, core::TypeRef::variable(std::move(name))));
}

PyObject* variable_get_name(PyObject* self, void*) { return to_python_str(type_value(self)->name()); }

int variable_set_name(PyObject* self, PyObject* value, void*) {
    if (refuse_delete(value)) return -1;
    if (!PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "name must be str, not %.200s", Py_TYPE(value)->tp_name);
        return -1;
    }
    std::string name;
    if (!to_utf8(value, name)) return -1;
    as<TypeObject>(self)->value = core::TypeRef::variable(std::move(name));
    as<TypeObject>(self)->hash = 0;
    return 0;
}

PyObject* variable_repr(PyObject* self) {
    const std::string& name = type_value(self)->name();
    std::string text;
    text.reserve(name.size() + 12);
    text.append("Variable(\"").append(name).append("\")");
    return to_python_str(text);
}

PyMethodDef variable_methods[] = {
    {"uid", type_uid, METH_NOARGS,
     "uid($self)\n--\n\nReturns a unique identifier for this variable.\n\n# Returns\n\n"
     "A SHA256 hash based on the variable name"},
    VELARTO_REDUCE_METHOD(reduce_type),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef variable_getset[] = {
    {"name", variable_get_name, variable_set_name, "The name of this type variable.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char kVariableDoc[] =
    "Variable(name)\n--\n\n"
    "Represents an atomic type variable.\n\n"
    "A type variable is a named, indivisible type such as `Person` or `Int`.\n\n"
    "# Example\n\n"
    "```python\nperson = velarto.Variable(\"Person\")\nprint(person)  # Person\n```\n\n"
    "# Fields\n\n"
    "- `name`: the name of the type variable (can be reassigned)";

// --- Application ---------------------------------------------------------------

const Signature kApplicationNew{"Application", {"left", "right"}, 2, 2};

PyObject* application_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Bound bound;
    if (!bind(kApplicationNew, args, kwargs, bound)) return nullptr;
    core::TypeRef left, right;
    if (!python_to_type(bound[0], left) || !python_to_type(bound[1], right)) return nullptr;
    return reinterpret_cast<PyObject*>(
        new_object<TypeObject>(type, core::TypeRef::application(std::move(left), std::move(right))));
}

PyObject* application_get_left(PyObject* self, void*) { return type_to_python(type_value(self)->left()); }
PyObject* application_get_right(PyObject* self, void*) { return type_to_python(type_value(self)->right()); }

PyObject* application_repr(PyObject* self) {
    const core::TypeNode& type = *type_value(self);
    std::string text = "Application(";
    core::append_display(text, *type.left());
    text += ", ";
    core::append_display(text, *type.right());
    text += ')';
    return to_python_str(text);
}

PyMethodDef application_methods[] = {
    {"uid", type_uid, METH_NOARGS,
     "uid($self)\n--\n\nReturns a unique identifier for this application.\n\n# Returns\n\n"
     "A SHA256 hash based on the left and right types"},
    VELARTO_REDUCE_METHOD(reduce_type),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef application_getset[] = {
    {"left", application_get_left, nullptr,
     "Gets the left (input) type of this application.\n\n# Returns\n\nThe input type as a Python object",
     nullptr},
    {"right", application_get_right, nullptr,
     "Gets the right (output) type of this application.\n\n# Returns\n\nThe output type as a Python object",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char kApplicationDoc[] =
    "Application(left, right)\n--\n\n"
    "Represents a function type (application type).\n\n"
    "An application `A -> B` is the type of functions from `A` to `B`.\n\n"
    "# Example\n\n"
    "```python\nf = velarto.Application(velarto.Variable(\"A\"), velarto.Variable(\"B\"))\n"
    "print(f)  # (A -> B)\n```\n\n"
    "# Fields\n\n"
    "- `left`: the input type\n- `right`: the output type";

} // namespace

PyTypeObject* create_variable_type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(variable_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<TypeObject>)},
        {Py_tp_repr, reinterpret_cast<void*>(variable_repr)},
        {Py_tp_str, reinterpret_cast<void*>(type_str)},
        {Py_tp_hash, reinterpret_cast<void*>(type_hash)},
        {Py_tp_richcompare, reinterpret_cast<void*>(type_richcompare)},
        {Py_tp_methods, variable_methods},
        {Py_tp_getset, variable_getset},
        {Py_tp_doc, const_cast<char*>(kVariableDoc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {"velarto.Variable", sizeof(TypeObject), 0, Py_TPFLAGS_DEFAULT, slots};
    return make_class(spec, kVariableDoc);
}

PyTypeObject* create_application_type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(application_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<TypeObject>)},
        {Py_tp_repr, reinterpret_cast<void*>(application_repr)},
        {Py_tp_str, reinterpret_cast<void*>(type_str)},
        {Py_tp_hash, reinterpret_cast<void*>(type_hash)},
        {Py_tp_richcompare, reinterpret_cast<void*>(type_richcompare)},
        {Py_tp_methods, application_methods},
        {Py_tp_getset, application_getset},
        {Py_tp_doc, const_cast<char*>(kApplicationDoc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {"velarto.Application", sizeof(TypeObject), 0, Py_TPFLAGS_DEFAULT, slots};
    return make_class(spec, kApplicationDoc);
}

} // namespace velarto::py
