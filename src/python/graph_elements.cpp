// Node and Edge: the classes, their uids and text forms. Each attribute read
// makes a new wrapper object around a copy of the stored value.
#include "graph_elements.hpp"

#include <cstring>
#include <new>
#include <string>

#include "args.hpp"
#include "core/type_intern.hpp"
#include "classes.hpp"
#include "errors.hpp"
#include "freelist.hpp"
#include "pickling.hpp"
#include "term.hpp"
#include "types.hpp"

namespace velarto::py {

std::uint64_t node_value_writes = 0;

const core::Digest& NodeValue::digest() const { return type->node_digest(); }

const core::Digest& EdgeCore::digest() const {
    // All zero bytes stand for "not computed yet" (a real digest of all zeros
    // would merely be computed again on every call).
    static constexpr core::Digest kNone{};
    if (edge_digest == kNone) {
        char text[5 + 64];
        std::memcpy(text, "edge:", 5);
        core::digest_to_hex(core::term_digest(term), text + 5);
        core::Sha256 hasher;
        hasher.update(text, sizeof text);
        edge_digest = hasher.finish();
    }
    return edge_digest;
}

EdgeCoreRef EdgeCoreRef::make(EdgeCore core) {
    EdgeCoreRef made;
    void* memory = PyObject_Malloc(sizeof(Block));
    if (!memory) {
        PyErr_NoMemory();
        return made;
    }
    made.block_ = new (memory) Block{1, std::move(core)};
    return made;
}

void EdgeCoreRef::destroy(Block* block) noexcept {
    block->~Block();
    PyObject_Free(block);
}

PyObject* node_to_python(const NodeValue& node) {
    return reinterpret_cast<PyObject*>(new_object<NodeObject>(NodeType, node));
}

PyObject* edge_to_python(const EdgeValue& edge) {
    return reinterpret_cast<PyObject*>(new_object<EdgeObject>(EdgeType, edge));
}

PyObject* shared_node_to_python(const NodeValue* node, ValueKeeper* keeper) {
    return reinterpret_cast<PyObject*>(new_object<NodeObject>(NodeType, node, keeper));
}

PyObject* shared_edge_to_python(const EdgeValue* edge, ValueKeeper* keeper) {
    return reinterpret_cast<PyObject*>(new_object<EdgeObject>(EdgeType, edge, keeper));
}

const NodeValue* not_a_node(PyObject* object) {
    PyErr_Format(PyExc_TypeError, "expected Node, got %.200s", Py_TYPE(object)->tp_name);
    return nullptr;
}

const EdgeValue* not_an_edge(PyObject* object) {
    PyErr_Format(PyExc_TypeError, "expected Edge, got %.200s", Py_TYPE(object)->tp_name);
    return nullptr;
}

PyObject* node_uid_to_python(const NodeValue& node) { return uid_to_python(node.digest()); }
PyObject* edge_uid_to_python(const EdgeValue& edge) { return uid_to_python(edge.digest()); }

namespace {

// `properties`: None makes a new dict; a dict (or subclass) is kept as is.
bool properties_argument(const Signature& signature, int index, PyObject* given, Ref& out) {
    if (absent(given)) {
        out = Ref::steal(PyDict_New());
        return static_cast<bool>(out);
    }
    if (!require_dict(signature, index, given)) return false;
    out = Ref::borrow(given);
    return true;
}

PyObject* get_properties(const Ref& properties) { return Ref(properties).release(); }

int set_properties(Ref& properties, PyObject* value) {
    if (refuse_delete(value)) return -1;
    if (!PyDict_Check(value)) {
        PyErr_Format(PyExc_TypeError, "properties must be dict, not %.200s", Py_TYPE(value)->tp_name);
        return -1;
    }
    properties = Ref::borrow(value);
    return 0;
}

// --- Node ----------------------------------------------------------------------

const NodeValue& node_of(PyObject* self) { return as<NodeObject>(self)->value.read(); }
NodeValue& writable_node(PyObject* self) {
    ++node_value_writes;
    take_pending_node_values();
    return as<NodeObject>(self)->value.write();
}

const Signature kNodeNew{"Node", {"type", "properties"}, 2, 1};

PyObject* node_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Bound bound;
    if (!bind(kNodeNew, args, kwargs, bound)) return nullptr;
    NodeValue node;
    if (!properties_argument(kNodeNew, 1, bound[1], node.properties)) return nullptr;
    if (!python_to_type(bound[0], node.type)) return nullptr;
    return reinterpret_cast<PyObject*>(new_object<NodeObject>(type, std::move(node)));
}

PyObject* node_get_type(PyObject* self, void*) { return type_to_python(node_of(self).type); }
PyObject* node_get_properties(PyObject* self, void*) { return get_properties(node_of(self).properties); }
int node_set_properties(PyObject* self, PyObject* value, void*) {
    return set_properties(writable_node(self).properties, value);
}

PyObject* node_uid(PyObject* self, PyObject*) { return node_uid_to_python(node_of(self)); }

PyObject* node_repr(PyObject* self) {
    std::string text = "Node(";
    core::append_display(text, *node_of(self).type);
    text += ')';
    return to_python_str(text);
}

PyMethodDef node_methods[] = {
    {"uid", node_uid, METH_NOARGS,
     "uid($self)\n--\n\nReturns a unique identifier for this node.\n\n"
     "The UID is based on the node's type UID using SHA256.\n\n"
     "# Returns\n\nA SHA256 hash representing this node uniquely"},
    VELARTO_REDUCE_METHOD(reduce_node),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef node_getset[] = {
    {"type", node_get_type, nullptr,
     "Gets the type of this node.\n\n# Returns\n\nThe type as a Python object (Variable or Application)",
     nullptr},
    {"properties", node_get_properties, node_set_properties,
     "The properties dictionary of this node (shared, not copied).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char kNodeDoc[] =
    "Node(type, properties=None)\n--\n\n"
    "Represents a node in the graph (a type in the model).\n\n"
    "A node places a type into a graph together with a dictionary of properties. Its uid "
    "depends on its type alone, so a graph keyed by uid holds one node per type.\n\n"
    "# Example\n\n"
    "```python\nnode = velarto.Node(velarto.Variable(\"Person\"), {\"name\": \"Alice\"})\n"
    "graph.nodes[node.uid()] = node\n```\n\n"
    "# Fields\n\n- `type`: the type of the node\n"
    "- `properties`: a dictionary of properties, shared by every copy of the node";

// --- Edge ----------------------------------------------------------------------

const EdgeValue& edge_of(PyObject* self) { return as<EdgeObject>(self)->value.read(); }
EdgeValue& writable_edge(PyObject* self) {
    take_pending_edge_values();
    return as<EdgeObject>(self)->value.write();
}

const Signature kEdgeNew{"Edge", {"term", "start", "end", "properties"}, 4, 3};

PyObject* edge_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    Bound bound;
    if (!bind(kEdgeNew, args, kwargs, bound)) return nullptr;
    EdgeValue edge;
    if (!properties_argument(kEdgeNew, 3, bound[3], edge.properties)) return nullptr;
    if (Py_TYPE(bound[0]) != TermType) return argument_error(kEdgeNew, 0, "Term", bound[0]), nullptr;
    if (Py_TYPE(bound[1]) != NodeType) return argument_error(kEdgeNew, 1, "Node", bound[1]), nullptr;
    if (Py_TYPE(bound[2]) != NodeType) return argument_error(kEdgeNew, 2, "Node", bound[2]), nullptr;
    EdgeCore parts;
    parts.term = as<TermObject>(bound[0])->value;
    parts.start = node_of(bound[1]);
    parts.end = node_of(bound[2]);
    // Term types repeat across edges (many edges of type `(A -> B)`), so they
    // are shared; the Term constructor has usually done it (a flag test here).
    // Node types are not: a graph holds one node per type, and an edge's end
    // points already share the stored nodes' values.
    core::TypeInterner::intern(parts.term.type);
    edge.core = EdgeCoreRef::make(std::move(parts));
    if (!edge.core) return nullptr;
    return reinterpret_cast<PyObject*>(new_object<EdgeObject>(type, std::move(edge)));
}

PyObject* edge_get_term(PyObject* self, void*) { return term_to_python(edge_of(self).core->term); }
PyObject* edge_get_start(PyObject* self, void*) { return node_to_python(edge_of(self).core->start); }
PyObject* edge_get_end(PyObject* self, void*) { return node_to_python(edge_of(self).core->end); }
PyObject* edge_get_properties(PyObject* self, void*) { return get_properties(edge_of(self).properties); }
int edge_set_properties(PyObject* self, PyObject* value, void*) {
    return set_properties(writable_edge(self).properties, value);
}

PyObject* edge_uid(PyObject* self, PyObject*) { return edge_uid_to_python(edge_of(self)); }

PyObject* edge_repr(PyObject* self) {
    const EdgeCore& parts = *edge_of(self).core;
    std::string text = "Edge(";
    text += parts.term.name;
    text += ": ";
    core::append_display(text, *parts.start.type);
    text += " -> ";
    core::append_display(text, *parts.end.type);
    text += ')';
    return to_python_str(text);
}

PyMethodDef edge_methods[] = {
    {"uid", edge_uid, METH_NOARGS,
     "uid($self)\n--\n\nReturns a unique identifier for this edge.\n\n"
     "The UID is based on the edge's term UID using SHA256.\n\n"
     "# Returns\n\nA SHA256 hash representing this edge uniquely"},
    VELARTO_REDUCE_METHOD(reduce_edge),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef edge_getset[] = {
    {"term", edge_get_term, nullptr, "Gets the term of this edge.\n\n# Returns\n\nThe term as a Python object",
     nullptr},
    {"start", edge_get_start, nullptr,
     "Gets the starting node of this edge.\n\n# Returns\n\nThe start node as a Python object", nullptr},
    {"end", edge_get_end, nullptr,
     "Gets the ending node of this edge.\n\n# Returns\n\nThe end node as a Python object", nullptr},
    {"properties", edge_get_properties, edge_set_properties,
     "The properties dictionary of this edge (shared, not copied).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char kEdgeDoc[] =
    "Edge(term, start, end, properties=None)\n--\n\n"
    "Represents an edge in the graph (a typed term in the model).\n\n"
    "An edge places a term into a graph, leading from a start node to an end node. Its uid "
    "depends on its term alone.\n\n"
    "# Example\n\n"
    "```python\nedge = velarto.Edge(velarto.Term(\"knows\", person), alice, bob)\n"
    "graph.edges[edge.uid()] = edge\n```\n\n"
    "# Fields\n\n- `term`: the term of the edge\n- `start`: the start node\n- `end`: the end node\n"
    "- `properties`: a dictionary of properties, shared by every copy of the edge";

} // namespace

PyTypeObject* create_node_type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(node_new)},
        {Py_tp_alloc, reinterpret_cast<void*>(FreeList<NodeObject>::alloc)},
        {Py_tp_dealloc, reinterpret_cast<void*>(FreeList<NodeObject>::dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(node_repr)},
        {Py_tp_methods, node_methods},
        {Py_tp_getset, node_getset},
        {Py_tp_doc, const_cast<char*>(kNodeDoc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {"velarto.Node", sizeof(NodeObject), 0, Py_TPFLAGS_DEFAULT, slots};
    return make_class(spec, kNodeDoc);
}

PyTypeObject* create_edge_type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(edge_new)},
        {Py_tp_alloc, reinterpret_cast<void*>(FreeList<EdgeObject>::alloc)},
        {Py_tp_dealloc, reinterpret_cast<void*>(FreeList<EdgeObject>::dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(edge_repr)},
        {Py_tp_methods, edge_methods},
        {Py_tp_getset, edge_getset},
        {Py_tp_doc, const_cast<char*>(kEdgeDoc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {"velarto.Edge", sizeof(EdgeObject), 0, Py_TPFLAGS_DEFAULT, slots};
    return make_class(spec, kEdgeDoc);
}

} // namespace velarto::py
