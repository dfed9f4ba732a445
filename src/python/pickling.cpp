// Pickling and copying of the value classes.
//
// Most classes reduce to their own constructor and its arguments, so a pickle
// is rebuilt through the same checks as a call; `copy` and `deepcopy` follow
// from the same reductions. Properties dicts are handed over as the very dict
// objects, so pickle's memo keeps a dict that several elements share shared
// in the copy, and an edge's end points meet the graph's nodes again.
//
// What no constructor can take goes through `reconstruct(kind, ...)`, a
// function of this extension that pickle finds by name in the private module
// `_velarto_pickle` (shipped beside the extension), so the extension module
// itself holds nothing but its classes:
// - "type": an application type in flat form. Types can be a million levels
//   deep and can share subtrees (`t = Application(t, t)` doubles the tree
//   each time), so a nested reduction would overflow pickle's recursion and
//   an expanded one could be exponential. The flat form lists the distinct
//   variable names, then every distinct application once, children first, as
//   two little-endian 64-bit indices into the nodes made so far; the last node
//   is the result. Built and read without recursion, linear in the distinct
//   nodes.
// - "graph": a Graph holding the two given dicts themselves. A Graph's whole
//   state is its dicts, and a shallow copy, or a graph reached again from
//   inside its own dicts while they load, must hold those very objects; the
//   constructor takes none, and filling a new Graph's dicts would do neither.
// - "path": a PathPattern from its node and edge patterns.
// - "ranged": an EdgePattern of a variable-length edge (only pattern strings
//   make one), from the pattern without its range and the range's bounds.
// A pickle can be crafted by hand, so `reconstruct` checks everything it reads.
#include "pickling.hpp"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "args.hpp"
#include "classes.hpp"
#include "errors.hpp"
#include "graph.hpp"
#include "graph_elements.hpp"
#include "interrupts.hpp"
#include "path_pattern.hpp"
#include "patterns.hpp"
#include "ref.hpp"
#include "term.hpp"
#include "type_schema.hpp"
#include "types.hpp"

namespace velarto::py {

const char kReduceDoc[] = "__reduce__($self)\n--\n\nHelper for pickle and copy.";

namespace {

// The module that pickle imports to find `reconstruct` by name.
constexpr const char kHelperModule[] = "_velarto_pickle";

// --- the flat form of a type --------------------------------------------------

// Every distinct node of the tree once, children before parents, without
// recursion; false with KeyboardInterrupt set when a Ctrl-C stops it.
bool distinct_post_order(const core::TypeNode& root, std::vector<const core::TypeNode*>& order) {
    std::unordered_set<const core::TypeNode*> seen;
    std::vector<std::pair<const core::TypeNode*, bool>> stack{{&root, false}};
    SignalCheck signals;
    while (!stack.empty()) {
        if (!signals.tick()) return false;
        auto [node, expanded] = stack.back();
        if (seen.count(node)) {
            stack.pop_back();
        } else if (node->is_variable() || expanded) {
            stack.pop_back();
            seen.insert(node);
            order.push_back(node);
        } else {
            stack.back().second = true;
            stack.emplace_back(node->right().get(), false);
            stack.emplace_back(node->left().get(), false);
        }
    }
    return true;
}

void append_index(std::string& out, std::uint64_t index) {
    for (int byte = 0; byte < 8; ++byte) out.push_back(static_cast<char>((index >> (8 * byte)) & 0xFF));
}

std::uint64_t read_index(const char* in) {
    std::uint64_t index = 0;
    for (int byte = 0; byte < 8; ++byte) index |= std::uint64_t(static_cast<unsigned char>(in[byte])) << (8 * byte);
    return index;
}

// (names, structure) for `type`: a list of str and a bytes object.
PyObject* flatten(const core::TypeNode& type) {
    std::vector<const core::TypeNode*> order;
    if (!distinct_post_order(type, order)) return nullptr;
    std::unordered_map<const core::TypeNode*, std::uint64_t> index;
    std::unordered_map<std::string_view, std::uint64_t> by_name; // equal variables become one
    Ref names = Ref::steal(PyList_New(0));
    if (!names) return nullptr;
    for (const core::TypeNode* node : order) {
        if (!node->is_variable()) continue;
        auto [entry, added] = by_name.emplace(node->name(), by_name.size());
        if (added) {
            Ref name = Ref::steal(to_python_str(node->name()));
            if (!name || PyList_Append(names.get(), name.get()) < 0) return nullptr;
        }
        index.emplace(node, entry->second);
    }
    std::string structure;
    std::uint64_t next = by_name.size();
    for (const core::TypeNode* node : order) {
        if (node->is_variable()) continue;
        append_index(structure, index.at(node->left().get()));
        append_index(structure, index.at(node->right().get()));
        index.emplace(node, next++);
    }
    Ref bytes = Ref::steal(PyBytes_FromStringAndSize(structure.data(), static_cast<Py_ssize_t>(structure.size())));
    if (!bytes) return nullptr;
    return PyTuple_Pack(2, names.get(), bytes.get());
}

PyObject* malformed(const char* what) {
    PyErr_Format(PyExc_ValueError, "reconstruct(): malformed %s data", what);
    return nullptr;
}

PyObject* unflatten(PyObject* names, PyObject* structure) {
    if (!PyList_CheckExact(names) || !PyBytes_CheckExact(structure)) return malformed("type");
    Py_ssize_t size = PyBytes_GET_SIZE(structure);
    if (size % 16 != 0) return malformed("type");
    std::vector<core::TypeRef> nodes;
    nodes.reserve(static_cast<std::size_t>(PyList_GET_SIZE(names) + size / 16));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(names); ++i) {
        PyObject* name = PyList_GET_ITEM(names, i);
        std::string text;
        if (!PyUnicode_Check(name)) return malformed("type");
        if (!to_utf8(name, text)) return nullptr;
        nodes.push_back(core::TypeRef::variable(std::move(text)));
    }
    const char* data = PyBytes_AS_STRING(structure);
    SignalCheck signals;
    for (Py_ssize_t at = 0; at < size; at += 16) {
        if (!signals.tick()) return nullptr;
        std::uint64_t left = read_index(data + at), right = read_index(data + at + 8);
        if (left >= nodes.size() || right >= nodes.size()) return malformed("type");
        nodes.push_back(core::TypeRef::application(nodes[left], nodes[right]));
    }
    if (nodes.empty()) return malformed("type");
    return type_to_python(nodes.back());
}

// --- reductions -----------------------------------------------------------------

PyObject* reconstructor();

// (callable, args) with `args` stolen.
PyObject* reduction(PyObject* callable, PyObject* args) {
    Ref owned = Ref::steal(args);
    if (!owned) return nullptr;
    return PyTuple_Pack(2, callable, owned.get());
}

// (reconstruct, args) with `args` stolen.
PyObject* reconstruction(PyObject* args) {
    Ref owned = Ref::steal(args);
    if (!owned) return nullptr;
    PyObject* function = reconstructor();
    return function ? PyTuple_Pack(2, function, owned.get()) : nullptr;
}

PyObject* cls(PyTypeObject* type) { return reinterpret_cast<PyObject*>(type); }

PyObject* type_reduction(PyObject* self) {
    const core::TypeRef& type = as<TypeObject>(self)->value;
    if (type->is_variable()) return reduction(cls(VariableType), Py_BuildValue("(N)", to_python_str(type->name())));
    Ref flat = Ref::steal(flatten(*type));
    if (!flat) return nullptr;
    PyObject* names = PyTuple_GET_ITEM(flat.get(), 0);
    PyObject* structure = PyTuple_GET_ITEM(flat.get(), 1);
    return reconstruction(Py_BuildValue("(sOO)", "type", names, structure));
}

PyObject* term_reduction(PyObject* self) {
    const core::Term& term = as<TermObject>(self)->value;
    return reduction(cls(TermType), Py_BuildValue("(NN)", to_python_str(term.name), type_to_python(term.type)));
}

PyObject* node_reduction(PyObject* self) {
    // A copy: making the parts may run a collection, whose finalizers may
    // give this object a value of its own and free the one it read.
    const NodeValue node = as<NodeObject>(self)->value.read();
    return reduction(cls(NodeType), Py_BuildValue("(NO)", type_to_python(node.type), node.properties.get()));
}

PyObject* edge_reduction(PyObject* self) {
    const EdgeValue edge = as<EdgeObject>(self)->value.read(); // a copy, as for a node
    return reduction(cls(EdgeType), Py_BuildValue("(NNNO)", term_to_python(edge.core->term),
                                                  node_to_python(edge.core->start),
                                                  node_to_python(edge.core->end), edge.properties.get()));
}

PyObject* graph_reduction(PyObject* self) {
    const GraphDicts& graph = as<GraphObject>(self)->value;
    return reconstruction(Py_BuildValue("(sOO)", "graph", graph.nodes.get(), graph.edges.get()));
}

PyObject* type_schema_reduction(PyObject* self) {
    return reduction(cls(TypeSchemaType), Py_BuildValue("(N)", to_python_str(as<TypeSchemaObject>(self)->value.text)));
}

PyObject* optional_str(const std::optional<std::string>& text) {
    if (!text) Py_RETURN_NONE;
    return to_python_str(*text);
}

PyObject* optional_schema(const std::optional<Schema>& schema) {
    if (!schema) Py_RETURN_NONE;
    return to_python_str(schema->text);
}

// The required properties as the dict a constructor takes, or None.
PyObject* properties_dict(const RequiredProperties& properties) {
    if (properties.empty()) Py_RETURN_NONE;
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    for (const RequiredProperty& entry : properties) {
        if (!entry.value) { // `$name`: the constructors take values, not parameters
            PyErr_Format(PyExc_TypeError, "cannot reduce a pattern whose property map reads the parameter $%U",
                         entry.parameter.get());
            return nullptr;
        }
        if (PyDict_SetItem(dict.get(), entry.python_key.get(), entry.value.get()) < 0) return nullptr;
    }
    return dict.release();
}

PyObject* node_pattern_reduction(PyObject* self) {
    const NodePatternValue& pattern = as<NodePatternObject>(self)->value;
    PyObject* type = pattern.type_obj ? type_to_python(pattern.type_obj) : Py_NewRef(Py_None);
    return reduction(cls(NodePatternType), Py_BuildValue("(NNNN)", optional_str(pattern.variable), type,
                                                         optional_schema(pattern.type_schema),
                                                         properties_dict(pattern.properties)));
}

PyObject* edge_pattern_reduction(PyObject* self) {
    const EdgePatternValue& pattern = as<EdgePatternObject>(self)->value;
    if (pattern.range) {
        // The constructor takes no range: the pattern without it, then the bounds.
        EdgePatternValue plain = pattern;
        plain.range.reset();
        PyObject* max = pattern.range->max ? PyLong_FromUnsignedLong(*pattern.range->max) : Py_NewRef(Py_None);
        return reconstruction(Py_BuildValue("(sN(NN))", "ranged", edge_pattern_to_python(plain),
                                            PyLong_FromUnsignedLong(pattern.range->min), max));
    }
    PyObject* term = pattern.term ? term_to_python(*pattern.term) : Py_NewRef(Py_None);
    return reduction(cls(EdgePatternType),
                     Py_BuildValue("(NNNNN)", optional_str(pattern.variable), term,
                                   optional_schema(pattern.term_type_schema),
                                   properties_dict(pattern.properties), to_python_str(pattern.direction)));
}

PyObject* path_pattern_reduction(PyObject* self) {
    const PathPatternValue& path = as<PathPatternObject>(self)->value;
    return reconstruction(Py_BuildValue("(sNN)", "path", node_patterns_to_python(path.nodes),
                                        edge_patterns_to_python(path.edges)));
}

// --- reconstruct ---------------------------------------------------------------------

PyObject* rebuild_graph(PyObject* nodes, PyObject* edges) {
    if (!PyDict_CheckExact(nodes) || !PyDict_CheckExact(edges)) return malformed("graph");
    GraphDicts dicts{Ref::borrow(nodes), Ref::borrow(edges)};
    return reinterpret_cast<PyObject*>(new_object<GraphObject>(GraphType, std::move(dicts)));
}

bool all_of_type(PyObject* list, PyTypeObject* type) {
    if (!PyList_CheckExact(list)) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        if (Py_TYPE(PyList_GET_ITEM(list, i)) != type) return false;
    }
    return true;
}

PyObject* rebuild_path(PyObject* nodes, PyObject* edges) {
    if (!all_of_type(nodes, NodePatternType) ||
        !all_of_type(edges, EdgePatternType)) {
        return malformed("path");
    }
    PathPatternValue path;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(nodes); ++i) {
        path.nodes.push_back(as<NodePatternObject>(PyList_GET_ITEM(nodes, i))->value);
    }
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(edges); ++i) {
        path.edges.push_back(as<EdgePatternObject>(PyList_GET_ITEM(edges, i))->value);
    }
    return reinterpret_cast<PyObject*>(new_object<PathPatternObject>(PathPatternType, std::move(path)));
}

// One hop bound: an exact int that fits 32 bits.
bool read_bound(PyObject* object, std::uint32_t& out) {
    if (!PyLong_CheckExact(object)) return false;
    unsigned long value = PyLong_AsUnsignedLong(object);
    if (PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    if (value > UINT32_MAX) return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

PyObject* rebuild_ranged(PyObject* edge, PyObject* bounds) {
    core::HopRange range;
    if (Py_TYPE(edge) != EdgePatternType || !PyTuple_CheckExact(bounds) || PyTuple_GET_SIZE(bounds) != 2 ||
        !read_bound(PyTuple_GET_ITEM(bounds, 0), range.min)) {
        return malformed("ranged edge");
    }
    PyObject* max = PyTuple_GET_ITEM(bounds, 1);
    if (max != Py_None) {
        std::uint32_t value;
        if (!read_bound(max, value) || value < range.min) return malformed("ranged edge");
        range.max = value;
    }
    EdgePatternValue pattern = as<EdgePatternObject>(edge)->value;
    pattern.range = range;
    return edge_pattern_to_python(pattern);
}

PyObject* reconstruct(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 3 || !PyUnicode_Check(args[0])) {
        PyErr_SetString(PyExc_TypeError, "reconstruct() takes a kind and two parts");
        return nullptr;
    }
    if (PyUnicode_CompareWithASCIIString(args[0], "type") == 0) return unflatten(args[1], args[2]);
    if (PyUnicode_CompareWithASCIIString(args[0], "graph") == 0) return rebuild_graph(args[1], args[2]);
    if (PyUnicode_CompareWithASCIIString(args[0], "path") == 0) return rebuild_path(args[1], args[2]);
    if (PyUnicode_CompareWithASCIIString(args[0], "ranged") == 0) return rebuild_ranged(args[1], args[2]);
    PyErr_Format(PyExc_ValueError, "reconstruct(): unknown kind %R", args[0]);
    return nullptr;
}

PyObject* guarded_reconstruct(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    return guard_call<PyObject*>([&] { return reconstruct(self, args, nargs); }, nullptr);
}

PyMethodDef reconstruct_definition = {
    "reconstruct", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded_reconstruct)),
    METH_FASTCALL, "reconstruct(kind, first, second)\n--\n\nRebuilds a pickled value (internal)."};

// The one `reconstruct` object, made on first use and kept for the life of
// the process: pickle checks that the name it finds is this very object.
PyObject* reconstructor() {
    static PyObject* function = nullptr;
    if (function == nullptr) {
        Ref module = Ref::steal(PyUnicode_FromString(kHelperModule));
        if (!module) return nullptr;
        function = PyCFunction_NewEx(&reconstruct_definition, nullptr, module.get());
    }
    return function;
}

} // namespace

PyObject* reduce_type(PyObject* self, PyObject*) { return guard_call<PyObject*>([&] { return type_reduction(self); }, nullptr); }
PyObject* reduce_term(PyObject* self, PyObject*) { return guard_call<PyObject*>([&] { return term_reduction(self); }, nullptr); }
PyObject* reduce_node(PyObject* self, PyObject*) { return guard_call<PyObject*>([&] { return node_reduction(self); }, nullptr); }
PyObject* reduce_edge(PyObject* self, PyObject*) { return guard_call<PyObject*>([&] { return edge_reduction(self); }, nullptr); }
PyObject* reduce_graph(PyObject* self, PyObject*) { return guard_call<PyObject*>([&] { return graph_reduction(self); }, nullptr); }
PyObject* reduce_type_schema(PyObject* self, PyObject*) {
    return guard_call<PyObject*>([&] { return type_schema_reduction(self); }, nullptr);
}
PyObject* reduce_node_pattern(PyObject* self, PyObject*) {
    return guard_call<PyObject*>([&] { return node_pattern_reduction(self); }, nullptr);
}
PyObject* reduce_edge_pattern(PyObject* self, PyObject*) {
    return guard_call<PyObject*>([&] { return edge_pattern_reduction(self); }, nullptr);
}
PyObject* reduce_path_pattern(PyObject* self, PyObject*) {
    return guard_call<PyObject*>([&] { return path_pattern_reduction(self); }, nullptr);
}

} // namespace velarto::py
