// The forms of the expression language that read parts or items: function
// calls, map literals, indexing and slicing, `.key` of any value, CASE, list
// comprehensions and the quantifiers all, any, none and single.
//
// Each is a step of the evaluator's walk (condition_eval.cpp): resumed once
// per operand evaluated, it says which operand comes next or that its value
// is ready, so forms nest to any depth without recursion. A comprehension
// holds its list while it reads the items (Python code in a predicate may
// change the list: its length is read again at every item), sets its
// variable's slot to the item, and counts what it makes against the row's
// budget of list items. Meanings are openCypher's: null in gives null out,
// an index out of range is null, a slice is clipped, a simple CASE compares
// with `=`, a quantifier is three-valued.
#include "query/condition_eval.hpp"

#include "classes.hpp"
#include "graph_elements.hpp"
#include "query/function_call.hpp"

namespace velarto::py::query {

using core::ExprKind;
using core::ExprNode;

namespace {

// A list, a tuple or the edges of a path: the Python sequence (held), or
// empty when the value is no list.
Ref sequence_of(const Value& value) {
    if (value.element) return std::holds_alternative<EdgeListValue>(*value.element) ? list_of(value) : Ref();
    PyObject* object = value.object.get();
    return PyList_Check(object) || PyTuple_Check(object) ? value.object : Ref();
}

// The properties of a node or an edge (element or object), or a dict itself;
// nullptr for any other value.
PyObject* mapping_of(const Value& value) {
    if (const NodeValue* node = node_of(value)) return node->properties.get();
    if (const EdgeValue* edge = edge_of(value)) return edge->properties.get();
    if (!value.element && PyDict_Check(value.object.get())) return value.object.get();
    return nullptr;
}

// `mapping[key]`, missing or not a dict: null.
bool dict_entry(PyObject* mapping, PyObject* key, Value& out) {
    out = Value{};
    if (!PyDict_Check(mapping)) return true;
    Ref held = Ref::borrow(mapping);
    PyObject* found = PyDict_GetItemWithError(mapping, key);
    if (!found) return !PyErr_Occurred();
    out = python_value(Ref::borrow(found));
    return true;
}

// An integer index or bound: false when it is no integer; a value beyond
// Py_ssize_t is clamped (it is out of range either way).
bool integer_index(const Value& value, Py_ssize_t& out) {
    if (kind_of(value) != Kind::Integer) return false;
    int overflow = 0;
    long long index = PyLong_AsLongLongAndOverflow(value.object.get(), &overflow);
    if (overflow) index = overflow > 0 ? PY_SSIZE_T_MAX : PY_SSIZE_T_MIN;
    out = static_cast<Py_ssize_t>(index);
    return true;
}

} // namespace

// Gathers the node's operands on the argument stack from `frame.position`
// on: the operand to evaluate next, or kDone once all are there.
std::int64_t ConditionEvaluator::gather_operands(Frame& frame, std::size_t step, Value& value) {
    const ExprNode& expr = node(frame.node);
    if (step == 0) {
        frame.position = arguments_.size();
    } else {
        arguments_.push_back(std::move(value));
    }
    return step < expr.operands.size() ? static_cast<std::int64_t>(expr.operands[step]) : kDone;
}

std::int64_t ConditionEvaluator::call_step(Frame& frame, std::size_t step, Value& value) {
    const ExprNode& expr = node(frame.node);
    if (const std::int64_t next = gather_operands(frame, step, value); next != kDone) return next;
    FunctionCall call{condition_, expr, arguments_.data() + frame.position, expr.operands.size(), value, budget_};
    const bool ok = call_function(call);
    arguments_.resize(frame.position);
    return ok ? kDone : kFail;
}

std::int64_t ConditionEvaluator::map_step(Frame& frame, std::size_t step, Value& value) {
    const ExprNode& expr = node(frame.node);
    if (step == 0) {
        frame.left.object = Ref::steal(PyDict_New());
        if (!frame.left.object) return kFail;
    } else {
        PyObject* keys = condition_.constants[frame.node].get();
        Ref item = Ref::steal(to_python(value));
        if (!item || PyDict_SetItem(frame.left.object.get(), PyTuple_GET_ITEM(keys, step - 1), item.get()) < 0) return kFail;
    }
    if (step < expr.operands.size()) return expr.operands[step];
    value = std::move(frame.left);
    return kDone;
}

std::int64_t ConditionEvaluator::index_step(Frame& frame, std::size_t step, Value& value) {
    const ExprNode& expr = node(frame.node);
    if (step == 0) return expr.operands[0];
    if (step == 1) {
        frame.left = std::move(value);
        return expr.operands[1];
    }
    const Value base = std::move(frame.left), index = std::move(value);
    value = Value{};
    if (base.is_null() || index.is_null()) return kDone;
    if (Ref list = sequence_of(base)) {
        Py_ssize_t at;
        if (!integer_index(index, at)) return refuse(expr.column, "a list index must be an integer, got ", index);
        const Py_ssize_t size = PySequence_Fast_GET_SIZE(list.get());
        if (at < 0 && at >= -size) at += size;
        if (at < 0 || at >= size) return kDone;
        value = python_value(Ref::borrow(PySequence_Fast_GET_ITEM(list.get(), at)));
        return kDone;
    }
    if (PyObject* mapping = mapping_of(base)) {
        if (kind_of(index) != Kind::String) return refuse(expr.column, "a key must be a string, got ", index);
        return dict_entry(mapping, index.object.get(), value) ? kDone : kFail;
    }
    return refuse(expr.column, "cannot index a ", base);
}

std::int64_t ConditionEvaluator::slice_step(Frame& frame, std::size_t step, Value& value) {
    const ExprNode& expr = node(frame.node);
    if (const std::int64_t next = gather_operands(frame, step, value); next != kDone) return next;
    Value* parts = arguments_.data() + frame.position; // the list, then the bounds written
    const std::size_t count = expr.operands.size();
    auto done = [&](std::int64_t result) {
        arguments_.resize(frame.position);
        return result;
    };
    value = Value{};
    for (std::size_t i = 0; i < count; ++i) {
        if (parts[i].is_null()) return done(kDone);
    }
    Ref list = sequence_of(parts[0]);
    if (!list) return done(refuse(expr.column, "cannot slice a ", parts[0]));
    Py_ssize_t bounds[2] = {0, PY_SSIZE_T_MAX};
    std::size_t next = 1;
    for (int b = 0; b < 2; ++b) {
        if (!(expr.form & (b == 0 ? core::form::kFrom : core::form::kTo))) continue;
        if (!integer_index(parts[next], bounds[b])) return done(refuse(expr.column, "a slice bound must be an integer, got ", parts[next]));
        ++next;
    }
    Ref slice = Ref::steal(PySequence_GetSlice(list.get(), bounds[0], bounds[1]));
    if (!slice) return done(kFail);
    value.object = PyList_CheckExact(slice.get()) ? std::move(slice) : Ref::steal(PySequence_List(slice.get()));
    return done(value.object ? kDone : kFail);
}

std::int64_t ConditionEvaluator::property_of_step(Frame& frame, std::size_t step, Value& value) {
    const ExprNode& expr = node(frame.node);
    if (step == 0) return expr.operands[0];
    const Value of = std::move(value);
    value = Value{};
    if (of.is_null()) return kDone;
    PyObject* mapping = mapping_of(of);
    if (!mapping) return refuse(expr.column, "cannot read property '" + expr.key + "' of a ", of);
    return dict_entry(mapping, condition_.constants[frame.node].get(), value) ? kDone : kFail;
}

// Phases: 0 the subject or first WHEN is asked for; 1 a WHEN is ready; 2 the
// result is ready. `position` is the operand of the WHEN being tested.
std::int64_t ConditionEvaluator::case_step(Frame& frame, std::size_t step, Value& value) {
    const ExprNode& expr = node(frame.node);
    const bool simple = expr.form & core::form::kSimple;
    const std::size_t pairs_end = expr.operands.size() - ((expr.form & core::form::kElse) ? 1 : 0);
    if (step == 0) {
        frame.position = simple ? 1 : 0;
        frame.phase = simple ? 0 : 1;
        return expr.operands[0];
    }
    if (frame.phase == 0) { // the subject
        frame.left = std::move(value);
        frame.phase = 1;
        return expr.operands[frame.position];
    }
    if (frame.phase == 2) return kDone;
    Truth truth;
    if (simple) {
        if (!values_equal(frame.left, value, truth)) return kFail;
    } else if (!is_logical(value, truth)) {
        return refuse(expr.column, "CASE WHEN expects booleans or null, got ", value);
    }
    if (truth == Truth::True) {
        frame.phase = 2;
        return expr.operands[frame.position + 1];
    }
    frame.position += 2;
    if (frame.position < pairs_end) return expr.operands[frame.position];
    if (pairs_end < expr.operands.size()) {
        frame.phase = 2;
        return expr.operands[pairs_end];
    }
    value = Value{};
    return kDone;
}

// Phases: 0 the list is asked for; 1 the list is ready; 2 a predicate is
// ready; 3 a projection is ready.
std::int64_t ConditionEvaluator::comprehension_step(Frame& frame, std::size_t step, Value& value) {
    const ExprNode& expr = node(frame.node);
    const bool quantifier = expr.kind == ExprKind::Quantifier;
    if (step == 0) return expr.operands[0];
    if (frame.phase == 0) {
        if (value.is_null()) return kDone;
        frame.list = sequence_of(value);
        if (!frame.list) {
            std::string what = quantifier ? std::string(core::quantifier_name(expr.form)) + "()" : "a list comprehension";
            return refuse(expr.column, what + " expects a list, got ", value);
        }
        if (!quantifier) {
            frame.left.object = Ref::steal(PyList_New(0));
            if (!frame.left.object) return kFail;
        }
        frame.truth = quantifier && expr.form == core::form::All ? Truth::True : Truth::False;
        frame.position = 0;
        frame.phase = 1;
        return next_item(frame, value);
    }
    if (frame.phase == 3) { // the projection of the item
        Ref item = Ref::steal(to_python(value));
        if (!item || PyList_Append(frame.left.object.get(), item.get()) < 0) return kFail;
        return next_item(frame, value);
    }
    Truth truth;
    if (!is_logical(value, truth)) return refuse(node(expr.operands[1]).column, "WHERE expects booleans or null, got ", value);
    if (!quantifier) {
        if (truth != Truth::True) return next_item(frame, value);
        if (expr.form & core::form::kProjection) {
            frame.phase = 3;
            return expr.operands[2];
        }
        Ref item = Ref::steal(to_python(locals_[expr.slot]));
        if (!item || PyList_Append(frame.left.object.get(), item.get()) < 0) return kFail;
        return next_item(frame, value);
    }
    // all: false at the first false; any: true at the first true; none: false
    // at the first true; single: false at the second true. A null predicate
    // leaves the answer null unless one of these decides it.
    if (truth == Truth::Null) {
        if (frame.truth != Truth::Null) frame.phase = 4; // remembered: some predicate was null
    } else if (truth == Truth::True) {
        ++frame.trues;
    }
    const std::uint8_t which = expr.form;
    const bool decided = (which == core::form::All && truth == Truth::False) ||
                         ((which == core::form::Any || which == core::form::None) && truth == Truth::True) ||
                         (which == core::form::Single && frame.trues > 1);
    if (decided) {
        frame.list = Ref();
        locals_[expr.slot] = Value{};
        value = boolean(which == core::form::Any ? Truth::True : Truth::False);
        return kDone;
    }
    return next_item(frame, value);
}

// The next item into the variable's slot, and its predicate or projection
// asked for; items that need neither are taken at once.
std::int64_t ConditionEvaluator::next_item(Frame& frame, Value& value) {
    const ExprNode& expr = node(frame.node);
    const bool quantifier = expr.kind == ExprKind::Quantifier;
    for (;;) {
        if (!signals_.tick()) return kFail;
        const auto size = static_cast<std::size_t>(PySequence_Fast_GET_SIZE(frame.list.get()));
        if (frame.position >= size) return finish_items(frame, value);
        Ref item = Ref::borrow(PySequence_Fast_GET_ITEM(frame.list.get(), static_cast<Py_ssize_t>(frame.position)));
        ++frame.position;
        if (!quantifier && !budget_.take(1)) {
            return raise_at(PyExc_MemoryError, condition_, expr.column, "a list comprehension would make a list too large for memory"), kFail;
        }
        locals_[expr.slot] = python_value(item);
        if (expr.form & core::form::kWhere || quantifier) {
            if (frame.phase != 4) frame.phase = 2;
            return expr.operands[1];
        }
        if (expr.form & core::form::kProjection) {
            frame.phase = 3;
            return expr.operands[1];
        }
        if (PyList_Append(frame.left.object.get(), item.get()) < 0) return kFail;
    }
}

std::int64_t ConditionEvaluator::finish_items(Frame& frame, Value& value) {
    const ExprNode& expr = node(frame.node);
    locals_[expr.slot] = Value{};
    frame.list = Ref();
    if (expr.kind == ExprKind::Comprehension) {
        value = std::move(frame.left);
        return kDone;
    }
    const bool some_null = frame.phase == 4;
    Truth answer;
    switch (expr.form) {
    case core::form::All: answer = some_null ? Truth::Null : Truth::True; break;
    case core::form::Any: answer = some_null ? Truth::Null : Truth::False; break;
    case core::form::None: answer = some_null ? Truth::Null : Truth::True; break;
    default: answer = frame.trues == 1 && !some_null ? Truth::True : (frame.trues == 0 && !some_null ? Truth::False : Truth::Null); break;
    }
    value = boolean(answer);
    return kDone;
}

} // namespace velarto::py::query
