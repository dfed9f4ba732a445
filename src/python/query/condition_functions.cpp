// The functions and string predicates of conditions and result
// expressions, and the per-run cache of compiled regular expressions.
//
// Every function but coalesce is null on a null argument. A list (the edges
// of a path) has a size and a composed type (`compose`), but no `type`. The graph
// functions read the node or edge of the row directly: `type` gives the
// display form of a node's type or of an edge's term's type, `name` an
// edge's term name, `uid` the uid text. The string predicates are null
// unless both sides are texts, as in openCypher; `=~` must match the whole
// text, with Python's `re` syntax.
#include "query/condition_eval.hpp"

#include <string>

#include "classes.hpp"
#include "errors.hpp"
#include "graph_elements.hpp"

namespace velarto::py::query {

using core::ExprNode;
using core::Function;
using core::Op;

namespace {

bool set_text(const std::string& text, Value& out) {
    out.object = Ref::steal(to_python_str(text));
    return static_cast<bool>(out.object);
}

bool set_object(PyObject* result, Value& out) {
    if (!result) return false;
    out.object = Ref::steal(result);
    if (result == Py_None) out.object = Ref();
    return true;
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

} // namespace

bool ConditionEvaluator::refuse_argument(const ExprNode& expr, const char* expected, const Value& value) {
    std::string what = std::string(core::function_name(expr.function)) + "() expects " + expected + ", got ";
    return raise_at(PyExc_TypeError, condition_, expr.column, what + kind_name(value));
}

// A function of one argument (coalesce is evaluated by the walk itself).
bool ConditionEvaluator::apply_function(const ExprNode& expr, const Value& argument, Value& out) {
    out = Value{};
    if (argument.is_null()) return true;
    Kind kind = kind_of(argument);
    bool is_list = !argument.element && (kind == Kind::List || PyTuple_Check(argument.object.get()));
    switch (expr.function) {
    case Function::Type:
        if (is_list) return true;
        return graph_function(expr, argument, out);
    case Function::Compose: {
        if (auto* list = argument.element ? std::get_if<EdgeListValue>(argument.element) : nullptr) {
            return compose_types(list->edges.size(), [&](std::size_t i) -> const core::TypeNode& {
                return *list->edges[i].core->term.type;
            }, out);
        }
        if (!is_list) return refuse_argument(expr, "a list of edges", argument);
        std::string item;
        if (!compose_edges(argument.object.get(), out, item)) return false;
        if (item.empty()) return true;
        std::string what = "compose() expects a list of edges, got an item of type " + item;
        return raise_at(PyExc_TypeError, condition_, expr.column, what);
    }
    case Function::Size: {
        if (auto* list = argument.element ? std::get_if<EdgeListValue>(argument.element) : nullptr) {
            return set_object(PyLong_FromSize_t(list->edges.size()), out);
        }
        if (kind != Kind::String && kind != Kind::List && kind != Kind::Other) {
            return refuse_argument(expr, "a string or a list", argument);
        }
        Ref object = argument.object;
        Py_ssize_t size = kind == Kind::String ? PyUnicode_GetLength(object.get()) : PyObject_Size(object.get());
        return size >= 0 && set_object(PyLong_FromSsize_t(size), out);
    }
    case Function::ToLower:
    case Function::ToUpper: {
        if (kind != Kind::String) return refuse_argument(expr, "a string", argument);
        const char* method = expr.function == Function::ToLower ? "lower" : "upper";
        return set_object(PyObject_CallMethod(argument.object.get(), method, nullptr), out);
    }
    default:
        return graph_function(expr, argument, out);
    }
}

bool ConditionEvaluator::graph_function(const ExprNode& expr, const Value& argument, Value& out) {
    Function function = expr.function;
    if (!argument.element) return refuse_argument(expr, "a node or an edge", argument);
    if (std::holds_alternative<EdgeListValue>(*argument.element)) return true; // an edge list: null
    const NodeValue* node = std::get_if<NodeValue>(argument.element);
    const EdgeValue* edge = std::get_if<EdgeValue>(argument.element);
    switch (function) {
    case Function::Type: return set_text(core::display(node ? *node->type : *edge->core->term.type), out);
    case Function::Name:
        if (!edge) return refuse_argument(expr, "an edge", argument);
        return set_text(edge->core->term.name, out);
    default: return set_object(node ? node_uid_to_python(*node) : edge_uid_to_python(*edge), out);
    }
}

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

bool ConditionEvaluator::text_test(Op op, const Value& text, const Value& other, Truth& out) {
    out = Truth::Null;
    if (text.element || other.element || text.is_null() || other.is_null()) return true;
    PyObject* subject = text.object.get();
    PyObject* pattern = other.object.get();
    if (!PyUnicode_Check(subject) || !PyUnicode_Check(pattern)) return true;
    Py_ssize_t found;
    if (op == Op::Matches) {
        Ref fullmatch;
        if (!regexes_.fullmatch(pattern, fullmatch)) return false;
        Ref match = Ref::steal(PyObject_CallOneArg(fullmatch.get(), subject));
        if (!match) return false;
        found = match.get() != Py_None;
    } else if (op == Op::Contains) {
        found = PyUnicode_Contains(subject, pattern);
    } else {
        found = PyUnicode_Tailmatch(subject, pattern, 0, PY_SSIZE_T_MAX, op == Op::StartsWith ? -1 : 1);
    }
    if (found < 0) return false;
    out = found ? Truth::True : Truth::False;
    return true;
}

bool RegexCache::fullmatch(PyObject* pattern, Ref& method) {
    // Only exact str patterns are kept: a str subclass may hash and compare
    // as it likes.
    bool cacheable = PyUnicode_CheckExact(pattern);
    if (cacheable && methods_) {
        PyObject* known = PyDict_GetItemWithError(methods_.get(), pattern);
        if (known) {
            method = Ref::borrow(known);
            return true;
        }
        if (PyErr_Occurred()) return false;
    }
    if (!compile_) {
        Ref re = Ref::steal(PyImport_ImportModule("re"));
        compile_ = Ref::steal(re ? PyObject_GetAttrString(re.get(), "compile") : nullptr);
        if (!compile_) return false;
    }
    Ref compiled = Ref::steal(PyObject_CallOneArg(compile_.get(), pattern));
    method = Ref::steal(compiled ? PyObject_GetAttrString(compiled.get(), "fullmatch") : nullptr);
    if (!method) return false;
    if (!cacheable) return true;
    if (!methods_) methods_ = Ref::steal(PyDict_New());
    return methods_ && PyDict_SetItem(methods_.get(), pattern, method.get()) == 0;
}

} // namespace velarto::py::query
