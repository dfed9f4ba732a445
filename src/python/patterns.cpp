// NodePattern and EdgePattern: construction with its checks in a fixed order,
// the `Some("...")` reprs, and the node test used by every scan of a run.
//
// The node test can run arbitrary Python code (a property's `__eq__`); it
// holds references to everything it compares, so that code may mutate or
// drop the dicts it came from without leaving us with a freed object.
#include "patterns.hpp"

#include "args.hpp"
#include "classes.hpp"
#include "core/text_escape.hpp"
#include "errors.hpp"
#include "pickling.hpp"
#include "term.hpp"
#include "types.hpp"

namespace velarto::py {

namespace {

PyObject* type_error(const char* function, const char* parameter, const char* what, PyObject* got) {
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %.200s", function, parameter,
                 what, Py_TYPE(got)->tp_name);
    return nullptr;
}

bool read_variable(PyObject* variable, std::optional<std::string>& out, const char* function) {
    if (absent(variable)) return true;
    if (!PyUnicode_Check(variable)) return type_error(function, "variable", "str or None", variable);
    std::string text;
    if (!to_utf8(variable, text)) return false;
    out = std::move(text);
    return true;
}

bool check_properties_dict(PyObject* properties, const char* function) {
    if (absent(properties) || PyDict_Check(properties)) return true;
    return type_error(function, "properties", "dict or None", properties);
}

// A str gives its text; a TypeSchema its pattern; anything else no schema.
bool read_schema(PyObject* schema, std::optional<Schema>& out) {
    if (absent(schema)) return true;
    if (PyUnicode_Check(schema)) {
        std::string text;
        if (!to_utf8(schema, text)) return false;
        out = Schema::compile(std::move(text));
    } else if (Py_TYPE(schema) == TypeSchemaType) {
        Schema& given = as<TypeSchemaObject>(schema)->value;
        given.tree(); // share one compiled tree with the schema object
        out = given;
    }
    return true;
}

bool read_properties(PyObject* properties, RequiredProperties& out) {
    if (absent(properties)) return true;
    Py_ssize_t position = 0;
    PyObject *key, *value;
    while (PyDict_Next(properties, &position, &key, &value)) {
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "property names must be str, not %.200s", Py_TYPE(key)->tp_name);
            return false;
        }
        RequiredProperty entry;
        if (!to_utf8(key, entry.key)) return false;
        entry.python_key = PyUnicode_CheckExact(key) ? Ref::borrow(key) : Ref::steal(to_python_str(entry.key));
        if (!entry.python_key) return false;
        entry.value = Ref::borrow(value);
        bool replaced = false; // two str-subclass keys of one text: the later one stays
        for (RequiredProperty& existing : out) {
            if (existing.key == entry.key) {
                existing = std::move(entry);
                replaced = true;
                break;
            }
        }
        if (!replaced) out.push_back(std::move(entry));
    }
    return true;
}

} // namespace

bool build_node_pattern(PyObject* variable, PyObject* type, PyObject* type_schema,
                        PyObject* properties, NodePatternValue& out, const char* function) {
    if (!read_variable(variable, out.variable, function)) return false;
    if (!check_properties_dict(properties, function)) return false;
    // `...` is the default that the text signature shows; it means "no type".
    if (!absent(type) && type != Py_Ellipsis && !python_to_type(type, out.type_obj)) return false;
    if (!read_schema(type_schema, out.type_schema)) return false;
    return read_properties(properties, out.properties);
}

bool build_edge_pattern(PyObject* variable, PyObject* term, PyObject* term_type_schema,
                        PyObject* properties, PyObject* direction, EdgePatternValue& out,
                        const char* function) {
    if (!read_variable(variable, out.variable, function)) return false;
    if (!check_properties_dict(properties, function)) return false;
    if (direction != nullptr) {
        if (!PyUnicode_Check(direction)) return type_error(function, "direction", "str", direction);
        if (!to_utf8(direction, out.direction)) return false;
    }
    if (!absent(term)) {
        if (Py_TYPE(term) != TermType) return type_error(function, "term", "Term or None", term);
        out.term = as<TermObject>(term)->value;
    }
    if (!read_schema(term_type_schema, out.term_type_schema)) return false;
    return read_properties(properties, out.properties);
}

MatchResult properties_match(const RequiredProperties& required, PyObject* properties) {
    if (!PyDict_Check(properties)) return MatchResult::NoMatch;
    for (const RequiredProperty& entry : required) {
        // The dict's own look-up, also for a dict subclass: `__getitem__`
        // and `__missing__` could write into the caller's dict (a
        // defaultdict gains the key) or invent a value (a Counter's 0).
        Ref stored = Ref::borrow(PyDict_GetItemWithError(properties, entry.python_key.get()));
        if (!stored) {
            PyErr_Clear(); // a failing look-up is a mismatch
            return MatchResult::NoMatch;
        }
        Ref wanted = entry.value; // held: `==` may drop the pattern's last other reference
        if (!wanted) return MatchResult::NoMatch; // a parameter not read: runs read them all first
        Ref equal = Ref::steal(PyObject_RichCompare(stored.get(), wanted.get(), Py_EQ));
        if (!equal) return MatchResult::Error;
        int truth = PyObject_IsTrue(equal.get());
        if (truth < 0) return MatchResult::Error;
        if (!truth) return MatchResult::NoMatch;
    }
    return MatchResult::Match;
}

MatchResult node_matches(const NodePatternValue& pattern, const NodeValue& node) {
    if (pattern.type_obj && !core::equal(*pattern.type_obj, *node.type)) return MatchResult::NoMatch;
    if (pattern.type_schema && !pattern.type_schema->matches(*node.type)) return MatchResult::NoMatch;
    if (pattern.properties.empty()) return MatchResult::Match;
    Ref properties = node.properties; // held while Python code runs
    return properties_match(pattern.properties, properties.get());
}

PyObject* node_pattern_to_python(const NodePatternValue& pattern) {
    return reinterpret_cast<PyObject*>(new_object<NodePatternObject>(NodePatternType, pattern));
}

PyObject* edge_pattern_to_python(const EdgePatternValue& pattern) {
    return reinterpret_cast<PyObject*>(new_object<EdgePatternObject>(EdgePatternType, pattern));
}

namespace {

void append_variable(std::string& text, const std::optional<std::string>& variable) {
    text += variable ? core::render_some(*variable) : std::string("None");
}

PyObject* get_variable(const std::optional<std::string>& variable) {
    if (!variable) Py_RETURN_NONE;
    return to_python_str(*variable);
}

// --- NodePattern -----------------------------------------------------------------

const Signature kNodePatternNew{"NodePattern", {"variable", "type", "type_schema", "properties"}, 4, 0};

PyObject* node_pattern_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Bound bound;
    if (!bind(kNodePatternNew, args, kwargs, bound)) return nullptr;
    NodePatternValue pattern;
    if (!build_node_pattern(bound[0], bound[1], bound[2], bound[3], pattern, "NodePattern")) return nullptr;
    return reinterpret_cast<PyObject*>(new_object<NodePatternObject>(type, std::move(pattern)));
}

PyObject* node_pattern_get_variable(PyObject* self, void*) {
    return get_variable(as<NodePatternObject>(self)->value.variable);
}

PyObject* node_pattern_repr(PyObject* self) {
    std::string text = "NodePattern(variable=";
    append_variable(text, as<NodePatternObject>(self)->value.variable);
    text += ')';
    return to_python_str(text);
}

PyMethodDef node_pattern_methods[] = {
    VELARTO_REDUCE_METHOD(reduce_node_pattern),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef node_pattern_getset[] = {
    {"variable", node_pattern_get_variable, nullptr, "The variable name, or None.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char kNodePatternDoc[] =
    "NodePattern(variable=None, type=..., type_schema=None, properties=None)\n--\n\n"
    "Represents a node pattern in a Cypher-like query.\n\n"
    "A node fits the pattern when its type equals `type` (if given), fits `type_schema` (if "
    "given), and its properties hold every required property with an equal value.\n\n"
    "# Example\n\n"
    "```python\npattern = velarto.NodePattern(variable=\"p\", type_schema=\"$Person$\", "
    "properties={\"age\": 25})\n```\n\n"
    "# Fields\n\n- `variable`: the name matched nodes are bound to\n"
    "- `type`: an exact type\n- `type_schema`: a schema text or `TypeSchema`\n"
    "- `properties`: required property values";

// --- EdgePattern -------------------------------------------------------------------

const Signature kEdgePatternNew{
    "EdgePattern", {"variable", "term", "term_type_schema", "properties", "direction"}, 5, 0};

PyObject* edge_pattern_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Bound bound;
    if (!bind(kEdgePatternNew, args, kwargs, bound)) return nullptr;
    EdgePatternValue pattern;
    if (!build_edge_pattern(bound[0], bound[1], bound[2], bound[3], bound[4], pattern, "EdgePattern")) {
        return nullptr;
    }
    return reinterpret_cast<PyObject*>(new_object<EdgePatternObject>(type, std::move(pattern)));
}

PyObject* edge_pattern_get_variable(PyObject* self, void*) {
    return get_variable(as<EdgePatternObject>(self)->value.variable);
}

PyObject* edge_pattern_get_direction(PyObject* self, void*) {
    return to_python_str(as<EdgePatternObject>(self)->value.direction);
}

PyObject* edge_pattern_repr(PyObject* self) {
    const EdgePatternValue& pattern = as<EdgePatternObject>(self)->value;
    std::string text = "EdgePattern(variable=";
    append_variable(text, pattern.variable);
    text += ", direction=";
    text += pattern.direction;
    text += ')';
    return to_python_str(text);
}

PyMethodDef edge_pattern_methods[] = {
    VELARTO_REDUCE_METHOD(reduce_edge_pattern),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef edge_pattern_getset[] = {
    {"variable", edge_pattern_get_variable, nullptr, "The variable name, or None.", nullptr},
    {"direction", edge_pattern_get_direction, nullptr,
     "The direction: \"forward\", \"backward\" or \"any\".", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char kEdgePatternDoc[] =
    "EdgePattern(variable=None, term=None, term_type_schema=None, properties=None, direction=...)\n--\n\n"
    "Represents an edge pattern in a Cypher-like query.\n\n"
    "# Example\n\n"
    "```python\npattern = velarto.EdgePattern(variable=\"e\", term_type_schema=\"$A -> B$\")\n```\n\n"
    "# Fields\n\n- `variable`: the name matched edges are bound to\n"
    "- `term`: an exact term\n- `term_type_schema`: a schema for the type of the edge's term\n"
    "- `properties`: required property values\n"
    "- `direction`: \"forward\" (the default), \"backward\" or \"any\"";

} // namespace

PyTypeObject* create_node_pattern_type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(guarded<node_pattern_new>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<NodePatternObject>)},
        {Py_tp_repr, reinterpret_cast<void*>(node_pattern_repr)},
        {Py_tp_methods, node_pattern_methods},
        {Py_tp_getset, node_pattern_getset},
        {Py_tp_doc, const_cast<char*>(kNodePatternDoc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {"velarto.NodePattern", sizeof(NodePatternObject), 0, Py_TPFLAGS_DEFAULT, slots};
    return make_class(spec, kNodePatternDoc);
}

PyTypeObject* create_edge_pattern_type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(guarded<edge_pattern_new>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<EdgePatternObject>)},
        {Py_tp_repr, reinterpret_cast<void*>(edge_pattern_repr)},
        {Py_tp_methods, edge_pattern_methods},
        {Py_tp_getset, edge_pattern_getset},
        {Py_tp_doc, const_cast<char*>(kEdgePatternDoc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {"velarto.EdgePattern", sizeof(EdgePatternObject), 0, Py_TPFLAGS_DEFAULT, slots};
    return make_class(spec, kEdgePatternDoc);
}

} // namespace velarto::py
