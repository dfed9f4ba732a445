// TypeSchema: a pattern over types. The text is kept exactly as given and
// compiled into a small tree the first time it is matched; all decisions of
// the matcher depend on the text alone, so the tree answers as a walk over
// the text would.
#include "type_schema.hpp"

#include "args.hpp"
#include "classes.hpp"
#include "errors.hpp"
#include "pickling.hpp"
#include "ref.hpp"
#include "types.hpp"

namespace velarto::py {

Schema Schema::compile(std::string text) {
    Schema schema{std::move(text), nullptr};
    schema.compiled = core::CompiledSchema::compile(schema.text);
    return schema;
}

const core::CompiledSchema& Schema::tree() const {
    if (!compiled) compiled = core::CompiledSchema::compile(text);
    return *compiled;
}

namespace {

Schema& schema_of(PyObject* self) { return as<TypeSchemaObject>(self)->value; }

const Signature kSchemaNew{"TypeSchema", {"pattern"}, 1, 1};

PyObject* schema_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Bound bound;
    if (!bind(kSchemaNew, args, kwargs, bound) || !require_str(kSchemaNew, 0, bound[0])) return nullptr;
    Schema schema;
    if (!to_utf8(bound[0], schema.text)) return nullptr;
    return reinterpret_cast<PyObject*>(new_object<TypeSchemaObject>(type, std::move(schema)));
}

PyObject* schema_get_pattern(PyObject* self, void*) { return to_python_str(schema_of(self).text); }

PyObject* schema_repr(PyObject* self) {
    const std::string& text = schema_of(self).text;
    std::string out;
    out.reserve(text.size() + 14);
    out.append("TypeSchema(\"").append(text).append("\")");
    return to_python_str(out);
}

const Signature kMatches{"matches", {"type"}, 1, 1};
const Signature kCapture{"capture", {"type"}, 1, 1};

PyObject* schema_matches(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Bound bound;
    core::TypeRef type;
    if (!bind(kMatches, args, nargs, kwnames, bound) || !python_to_type(bound[0], type)) return nullptr;
    return PyBool_FromLong(schema_of(self).matches(*type));
}

PyObject* schema_capture(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Bound bound;
    core::TypeRef type;
    if (!bind(kCapture, args, nargs, kwnames, bound) || !python_to_type(bound[0], type)) return nullptr;
    std::vector<core::Capture> captures;
    bool fits = schema_of(self).tree().capture(type, captures);
    Ref result = Ref::steal(PyDict_New());
    if (!result || !fits) return result.release();
    for (const core::Capture& capture : captures) { // later entries replace earlier ones
        Ref name = Ref::steal(to_python_str(capture.name));
        Ref value = Ref::steal(type_to_python(capture.type));
        if (!name || !value || PyDict_SetItem(result.get(), name.get(), value.get()) < 0) return nullptr;
    }
    return result.release();
}

PyMethodDef schema_methods[] = {
    {"matches", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<schema_matches>)),
     METH_FASTCALL | METH_KEYWORDS,
     "matches($self, type)\n--\n\nTests whether a type fits this schema.\n\n"
     "# Returns\n\n`True` if the type fits the pattern, else `False`"},
    {"capture", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<schema_capture>)),
     METH_FASTCALL | METH_KEYWORDS,
     "capture($self, type)\n--\n\nMatches a type and returns the parts bound to named capture "
     "groups.\n\n# Returns\n\nA dict from capture name to the captured type; empty when the type "
     "does not fit"},
    VELARTO_REDUCE_METHOD(reduce_type_schema),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef schema_getset[] = {
    {"pattern", schema_get_pattern, nullptr, "The pattern text, exactly as given.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char kSchemaDoc[] =
    "TypeSchema(pattern)\n--\n\n"
    "Represents a regex-like pattern for matching types.\n\n"
    "`$*$` matches any type, `$Person$` (or `Person`) the variable `Person`, `$A -> B$` the "
    "function type from `A` to `B` (arrows associate to the right), and `(name:pattern)` captures "
    "the part of the type matched by `pattern` under `name`. Malformed patterns match nothing "
    "and never raise. A pattern that is a lone `$` matches only the variable named `$`.\n\n"
    "# Example\n\n"
    "```python\nschema = velarto.TypeSchema(\"$(x:*) -> B$\")\n"
    "schema.capture(velarto.Application(velarto.Variable(\"A\"), velarto.Variable(\"B\")))\n"
    "# {'x': Variable(\"A\")}\n```\n\n"
    "# Fields\n\n- `pattern`: the pattern text";

} // namespace

PyTypeObject* create_type_schema_type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(guarded<schema_new>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<TypeSchemaObject>)},
        {Py_tp_repr, reinterpret_cast<void*>(schema_repr)},
        {Py_tp_methods, schema_methods},
        {Py_tp_getset, schema_getset},
        {Py_tp_doc, const_cast<char*>(kSchemaDoc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {"velarto.TypeSchema", sizeof(TypeSchemaObject), 0, Py_TPFLAGS_DEFAULT, slots};
    return make_class(spec, kSchemaDoc);
}

} // namespace velarto::py
