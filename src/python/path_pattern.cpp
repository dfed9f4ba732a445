// PathPattern: construction from a pattern string, the chaining methods that
// change the receiver and return a copy, and fresh copies on every read.
#include "path_pattern.hpp"

#include <algorithm>
#include <string>

#include "args.hpp"
#include "classes.hpp"
#include "core/pattern_parser.hpp"
#include "errors.hpp"
#include "pickling.hpp"

namespace velarto::py {

namespace {

PyObject* literal_to_python(const core::PatternLiteral& literal) {
    using Kind = core::PatternLiteral::Kind;
    switch (literal.kind) {
    case Kind::Integer: return PyLong_FromString(literal.text.c_str(), nullptr, 10);
    case Kind::Float: {
        double value = PyOS_string_to_double(literal.text.c_str(), nullptr, nullptr);
        if (value == -1.0 && PyErr_Occurred()) return nullptr;
        return PyFloat_FromDouble(value);
    }
    case Kind::String: return to_python_str(literal.text);
    case Kind::True: Py_RETURN_TRUE;
    case Kind::False: Py_RETURN_FALSE;
    case Kind::Null:
    case Kind::Parameter: Py_RETURN_NONE; // never reached: a parameter is no list item, and from_parsed reads it apart
    case Kind::List: break;
    }
    // Lists nest no deeper than the parser allows, so this recursion is bounded.
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(literal.items.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < literal.items.size(); ++i) {
        PyObject* item = literal_to_python(literal.items[i]);
        if (!item) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

// The interpreter refuses some literals the parser accepts (an integer longer
// than sys.set_int_max_str_digits allows): such a map is malformed, and is
// reported as the parser reports one, with the refusal as the reason.
void raise_unconvertible(const core::ParsedElement& parsed, const std::string& key) {
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) return;
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    Ref held_type = Ref::steal(type), held_value = Ref::steal(value), held_traceback = Ref::steal(traceback);
    Ref message = Ref::steal(value ? PyObject_Str(value) : nullptr);
    const char* utf8 = message ? PyUnicode_AsUTF8(message.get()) : nullptr;
    std::string reason = "Literal value for key '" + key + "' in property map cannot be converted";
    if (utf8) reason += std::string(" (") + utf8 + ")";
    PyErr_Clear();
    raise(core::invalid_pattern(parsed.text, std::move(reason)));
}

bool from_parsed(const core::ParsedElement& parsed, std::optional<std::string>& variable,
                 std::optional<Schema>& schema, RequiredProperties& properties) {
    variable = parsed.variable;
    if (parsed.schema) schema = Schema::compile(*parsed.schema);
    for (const core::PatternProperty& property : parsed.properties) {
        if (property.value.kind == core::PatternLiteral::Kind::Parameter) {
            RequiredProperty required{property.key, Ref::steal(to_python_str(property.key)), Ref(),
                                      Ref::steal(to_python_str(property.value.text))};
            if (!required.python_key || !required.parameter) return false;
            PyObject* name = required.parameter.release();
            PyUnicode_InternInPlace(&name);
            required.parameter = Ref::steal(name);
            properties.push_back(std::move(required));
            continue;
        }
        RequiredProperty required{property.key, Ref::steal(to_python_str(property.key)),
                                  Ref::steal(literal_to_python(property.value)), Ref()};
        if (!required.python_key) return false;
        if (!required.value) return raise_unconvertible(parsed, property.key), false;
        properties.push_back(std::move(required));
    }
    return true;
}

bool read_parameters(RequiredProperties& properties, PyObject* params) {
    for (RequiredProperty& property : properties) {
        if (!property.parameter) continue;
        PyObject* value = params ? PyDict_GetItemWithError(params, property.parameter.get()) : nullptr;
        if (!value) {
            if (PyErr_Occurred()) return false;
            std::string name;
            if (!to_utf8(property.parameter.get(), name)) return false;
            return raise(core::VelartoError::invalid_query("parameter $" + name + " has no value")), false;
        }
        property.value = Ref::borrow(value);
    }
    return true;
}

bool any_parameter(const RequiredProperties& properties) {
    return std::any_of(properties.begin(), properties.end(), [](const auto& p) { return static_cast<bool>(p.parameter); });
}

} // namespace

bool reads_parameters(const PathPatternValue& path) {
    for (const NodePatternValue& node : path.nodes) {
        if (any_parameter(node.properties)) return true;
    }
    for (const EdgePatternValue& edge : path.edges) {
        if (any_parameter(edge.properties)) return true;
    }
    return false;
}

bool has_property_maps(const PathPatternValue& path) {
    auto mapped = [](const auto& pattern) { return !pattern.properties.empty(); };
    return std::any_of(path.nodes.begin(), path.nodes.end(), mapped) ||
           std::any_of(path.edges.begin(), path.edges.end(), mapped);
}

bool with_parameters(PathPatternValue& path, PyObject* params) {
    for (NodePatternValue& node : path.nodes) {
        if (!read_parameters(node.properties, params)) return false;
    }
    for (EdgePatternValue& edge : path.edges) {
        if (!read_parameters(edge.properties, params)) return false;
    }
    return true;
}

bool parse_path(PyObject* text, PathPatternValue& out) {
    std::string utf8;
    if (!to_utf8(text, utf8)) return false;
    core::Result<core::ParsedPath> parsed = core::parse_path_pattern(utf8);
    if (!parsed) return raise(parsed.error()), false;
    for (const core::ParsedElement& node : parsed.value().nodes) {
        NodePatternValue pattern;
        if (!from_parsed(node, pattern.variable, pattern.type_schema, pattern.properties)) return false;
        out.nodes.push_back(std::move(pattern));
    }
    for (const core::ParsedEdge& edge : parsed.value().edges) {
        EdgePatternValue pattern;
        if (!from_parsed(edge, pattern.variable, pattern.term_type_schema, pattern.properties)) return false;
        pattern.direction = edge.direction;
        pattern.range = edge.range;
        out.edges.push_back(std::move(pattern));
    }
    return true;
}

namespace {

// The one type a schema text names: names joined by `->`, nothing else.
core::TypeRef concrete_type(Schema& schema) {
    if (schema.text.find_first_of("*():") != std::string::npos) return {};
    return schema.tree().exact_type();
}

bool refuse(const char* verb, const char* what, const std::string& part) {
    std::string message = std::string("cannot ") + verb + " " + what + ": '" + part + "'";
    return raise(core::VelartoError::invalid_query(std::move(message))), false;
}

} // namespace

bool parse_writable_path(PyObject* text, const char* verb, PathPatternValue& out) {
    if (!parse_path(text, out)) return false;
    // The token texts, to quote a refused part as it was written.
    std::string utf8;
    if (!to_utf8(text, utf8)) return false;
    core::Result<std::vector<core::PatternToken>> tokens = core::tokenize_path_pattern(utf8);
    if (!tokens) return raise(tokens.error()), false;
    std::vector<std::string> node_texts, edge_texts;
    for (core::PatternToken& token : tokens.value()) {
        (token.is_node ? node_texts : edge_texts).push_back(std::move(token.text));
    }
    for (std::size_t i = 0; i < out.nodes.size(); ++i) {
        NodePatternValue& node = out.nodes[i];
        if (node.type_schema) {
            node.type_obj = concrete_type(*node.type_schema);
            if (!node.type_obj) {
                return refuse(verb, "a node whose type is not names joined by '->'", node_texts[i]);
            }
            node.type_schema.reset();
        } else if (!node.variable || !node.properties.empty()) {
            return refuse(verb, "a node without a type", node_texts[i]);
        }
    }
    for (std::size_t i = 0; i < out.edges.size(); ++i) {
        EdgePatternValue& edge = out.edges[i];
        const std::string& part = edge_texts[i]; // the arrows around the brackets included
        if (edge.range) return refuse(verb, "a variable-length edge", part);
        if (edge.direction != "forward" && edge.direction != "backward") {
            return refuse(verb, "an edge without a direction", part);
        }
        if (!edge.variable) return refuse(verb, "an edge without a variable to name its term", part);
        core::TypeRef type = edge.term_type_schema ? concrete_type(*edge.term_type_schema) : core::TypeRef();
        if (!type) return refuse(verb, "an edge whose type is not names joined by '->'", part);
        edge.term = core::Term{*edge.variable, std::move(type)};
        edge.term_type_schema.reset();
    }
    return true;
}

namespace {

PathPatternValue& path_of(PyObject* self) { return as<PathPatternObject>(self)->value; }

PyObject* path_to_python(const PathPatternValue& path) {
    return reinterpret_cast<PyObject*>(new_object<PathPatternObject>(PathPatternType, path));
}

const Signature kPathNew{"PathPattern", {"pattern"}, 1, 0};

PyObject* path_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Bound bound;
    if (!bind(kPathNew, args, kwargs, bound)) return nullptr;
    PathPatternValue path;
    if (!absent(bound[0])) {
        if (!PyUnicode_Check(bound[0])) return argument_error(kPathNew, 0, "str or None", bound[0]), nullptr;
        if (!parse_path(bound[0], path)) return nullptr;
    }
    return reinterpret_cast<PyObject*>(new_object<PathPatternObject>(type, std::move(path)));
}

const Signature kParse{"parse", {"pattern"}, 1, 1};

PyObject* path_parse(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Bound bound;
    if (!bind(kParse, args, nargs, kwnames, bound) || !require_str(kParse, 0, bound[0])) return nullptr;
    PathPatternValue path;
    if (!parse_path(bound[0], path)) return nullptr;
    return path_to_python(path);
}

const Signature kAddNode{"add_node", {"pattern"}, 1, 1};
const Signature kAddEdge{"add_edge", {"pattern"}, 1, 1};

PyObject* path_add_node(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Bound bound;
    if (!bind(kAddNode, args, nargs, kwnames, bound)) return nullptr;
    if (Py_TYPE(bound[0]) != NodePatternType) return argument_error(kAddNode, 0, "NodePattern", bound[0]), nullptr;
    path_of(self).nodes.push_back(as<NodePatternObject>(bound[0])->value);
    return path_to_python(path_of(self));
}

PyObject* path_add_edge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Bound bound;
    if (!bind(kAddEdge, args, nargs, kwnames, bound)) return nullptr;
    if (Py_TYPE(bound[0]) != EdgePatternType) return argument_error(kAddEdge, 0, "EdgePattern", bound[0]), nullptr;
    path_of(self).edges.push_back(as<EdgePatternObject>(bound[0])->value);
    return path_to_python(path_of(self));
}

template <class Value, PyObject* (*Wrap)(const Value&)>
PyObject* list_of(const std::vector<Value>& patterns) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(patterns.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        PyObject* item = Wrap(patterns[i]);
        if (!item) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject* path_get_nodes(PyObject* self, void*) { return node_patterns_to_python(path_of(self).nodes); }

PyObject* path_get_edges(PyObject* self, void*) { return edge_patterns_to_python(path_of(self).edges); }

PyObject* path_repr(PyObject* self) {
    return PyUnicode_FromFormat("PathPattern(%zu nodes, %zu edges)", path_of(self).nodes.size(),
                                path_of(self).edges.size());
}

#define FASTCALL(function) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<function>))

PyMethodDef path_methods[] = {
    {"add_node", FASTCALL(path_add_node), METH_FASTCALL | METH_KEYWORDS,
     "add_node($self, pattern)\n--\n\nAppends a copy of a node pattern to this path and returns a "
     "copy of the path.\n\n# Returns\n\nA new `PathPattern` holding the path after the append"},
    {"add_edge", FASTCALL(path_add_edge), METH_FASTCALL | METH_KEYWORDS,
     "add_edge($self, pattern)\n--\n\nAppends a copy of an edge pattern to this path and returns a "
     "copy of the path.\n\n# Returns\n\nA new `PathPattern` holding the path after the append"},
    {"parse", FASTCALL(path_parse), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "parse(pattern)\n--\n\nParses a pattern string such as `(a:A)-[r]->(b:B)`.\n\n"
     "# Returns\n\nA new `PathPattern`; a malformed string raises `ValueError`"},
    VELARTO_REDUCE_METHOD(reduce_path_pattern),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef path_getset[] = {
    {"nodes", path_get_nodes, nullptr, "Copies of the node patterns, in order.", nullptr},
    {"edges", path_get_edges, nullptr, "Copies of the edge patterns, in order.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char kPathDoc[] =
    "PathPattern(pattern=None)\n--\n\n"
    "Represents a path pattern in a Cypher-like query.\n\n"
    "A path is a sequence of node patterns and edge patterns, parsed from a string such as "
    "`(a:Person {name: 'Ann'})-[r:Person -> Person]->(b:Person)` or built with `add_node` and "
    "`add_edge`. The text after a colon is a type-schema text: `:Person` becomes `$Person$` (labels "
    "are types; an edge's label is its term's type). A `{key: literal, ...}` map requires those "
    "property values, and a range after an edge's variable or type (`*`, `*3`, `*1..3`, `*..3`, "
    "`*2..`, `*0..2`) makes the edge a chain of hops.\n\n"
    "# Example\n\n"
    "```python\npath = velarto.PathPattern(\"(a:A)-[r]->(b:B)\")\nprint(path)  # PathPattern(2 nodes, 1 edges)\n```\n\n"
    "# Fields\n\n- `nodes`: the node patterns\n- `edges`: the edge patterns";

} // namespace

PyObject* node_patterns_to_python(const std::vector<NodePatternValue>& nodes) {
    return list_of<NodePatternValue, node_pattern_to_python>(nodes);
}

PyObject* edge_patterns_to_python(const std::vector<EdgePatternValue>& edges) {
    return list_of<EdgePatternValue, edge_pattern_to_python>(edges);
}

PyTypeObject* create_path_pattern_type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(guarded<path_new>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<PathPatternObject>)},
        {Py_tp_repr, reinterpret_cast<void*>(path_repr)},
        {Py_tp_methods, path_methods},
        {Py_tp_getset, path_getset},
        {Py_tp_doc, const_cast<char*>(kPathDoc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {"velarto.PathPattern", sizeof(PathPatternObject), 0, Py_TPFLAGS_DEFAULT, slots};
    return make_class(spec, kPathDoc);
}

} // namespace velarto::py
