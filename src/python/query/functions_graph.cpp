// The functions of graph values: type, name, uid, compose, labels,
// startNode, endNode, keys and properties.
//
// They read a node or an edge of the row in place, or a Node or Edge object
// found in a property or a list. The edges of a variable-length edge have
// no type, name or uid (null) but compose to the function type of their
// terms. keys and properties also read a map.
#include <string>

#include "classes.hpp"
#include "errors.hpp"
#include "graph_elements.hpp"
#include "query/function_call.hpp"

namespace velarto::py::query {

namespace {

bool set_text(const std::string& text, Value& out) {
    out.object = Ref::steal(to_python_str(text));
    return static_cast<bool>(out.object);
}

// The display form of the function type that `count` term types compose to
// when each one's right side equals the next one's left side; nothing (null)
// for an empty list, a term that is not a function, or a break in the chain.
template <class TypeAt>
bool compose_types(std::size_t count, TypeAt type_at, Value& out) {
    out = Value{};
    if (count == 0) return true;
    const core::TypeNode* first = nullptr;
    const core::TypeNode* last = nullptr;
    for (std::size_t i = 0; i < count; ++i) {
        const core::TypeNode& type = type_at(i);
        if (!type.is_application()) return true;
        if (last && !core::equal(*last, *type.left())) return true;
        if (!first) first = type.left().get();
        last = type.right().get();
    }
    std::string text = "(";
    core::append_display(text, *first);
    text += " -> ";
    core::append_display(text, *last);
    text += ")";
    return set_text(text, out);
}

// A Python list or tuple (not the edges of a path), which has no type, name or uid.
bool python_list(const Value& value) { return !value.element && !node_of(value) && !edge_of(value); }

// The properties dict of a node, an edge or the map itself (borrowed).
PyObject* properties_or_map(const Value& value) {
    if (const NodeValue* node = node_of(value)) return node->properties.get();
    if (const EdgeValue* edge = edge_of(value)) return edge->properties.get();
    return value.object.get();
}

} // namespace

bool compose_edges(PyObject* edges, Value& out, std::string& wrong_item) {
    out = Value{};
    Ref held = Ref::borrow(edges);
    Py_ssize_t count = PySequence_Fast_GET_SIZE(edges);
    // Every item is checked first: a list that is not all edges is an error
    // whether or not its terms chain.
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(edges, i);
        if (Py_TYPE(item) != EdgeType) {
            wrong_item = Py_TYPE(item)->tp_name;
            return true;
        }
    }
    return compose_types(static_cast<std::size_t>(count), [&](std::size_t i) -> const core::TypeNode& {
        return *edge_value(PySequence_Fast_GET_ITEM(edges, static_cast<Py_ssize_t>(i)))->core->term.type;
    }, out);
}

bool call_Type(const FunctionCall& call) {
    if (const NodeValue* node = node_of(call.arg(0))) return set_text(core::display(*node->type), call.out);
    if (const EdgeValue* edge = edge_of(call.arg(0))) return set_text(core::display(*edge->core->term.type), call.out);
    return true; // a list: null
}

bool call_Name(const FunctionCall& call) {
    if (const EdgeValue* edge = edge_of(call.arg(0))) return set_text(edge->core->term.name, call.out);
    if (python_list(call.arg(0))) return call.refuse(0, "a node or an edge");
    return node_of(call.arg(0)) ? call.refuse(0, "an edge") : true;
}

bool call_Uid(const FunctionCall& call) {
    if (const NodeValue* node = node_of(call.arg(0))) return call.set(node_uid_to_python(*node));
    if (const EdgeValue* edge = edge_of(call.arg(0))) return call.set(edge_uid_to_python(*edge));
    return python_list(call.arg(0)) ? call.refuse(0, "a node or an edge") : true;
}

bool call_Compose(const FunctionCall& call) {
    const Value& argument = call.arg(0);
    if (auto* list = argument.element ? std::get_if<EdgeListValue>(argument.element) : nullptr) {
        return compose_types(list->edges.size(), [&](std::size_t i) -> const core::TypeNode& {
            return *list->edges[i].core->term.type;
        }, call.out);
    }
    std::string item;
    if (!compose_edges(argument.object.get(), call.out, item)) return false;
    if (item.empty()) return true;
    return raise_at(PyExc_TypeError, call.condition, call.expr.column,
                    "compose() expects a list of edges, got an item of type " + item);
}

bool call_Labels(const FunctionCall& call) {
    Ref labels = Ref::steal(PyList_New(1));
    PyObject* label = labels ? to_python_str(core::display(*node_of(call.arg(0))->type)) : nullptr;
    if (!label) return false;
    PyList_SET_ITEM(labels.get(), 0, label);
    return call.set(labels.release());
}

bool call_StartNode(const FunctionCall& call) { return call.set(node_to_python(edge_of(call.arg(0))->core->start)); }

bool call_EndNode(const FunctionCall& call) { return call.set(node_to_python(edge_of(call.arg(0))->core->end)); }

bool call_Keys(const FunctionCall& call) {
    PyObject* properties = properties_or_map(call.arg(0));
    if (!PyDict_Check(properties)) return call.set(PyList_New(0));
    Ref held = Ref::borrow(properties);
    return call.set(PyDict_Keys(properties));
}

bool call_Properties(const FunctionCall& call) {
    PyObject* properties = properties_or_map(call.arg(0));
    if (!PyDict_Check(properties)) return call.set(PyDict_New());
    Ref held = Ref::borrow(properties);
    return call.set(PyDict_Copy(properties));
}

// coalesce is read lazily by the evaluator itself, so it never comes here.
bool call_Coalesce(const FunctionCall& call) { return call.set(Py_NewRef(call.object(0))); }

} // namespace velarto::py::query
