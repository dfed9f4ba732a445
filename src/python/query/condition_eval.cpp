// The evaluator of conditions and result expressions: the tree walk, logic
// and operators.
//
// Every function returns false with the exception set when Python code
// failed, and otherwise writes its result. The walk keeps its own stack of
// frames, so a condition of any depth evaluates without deep recursion.
// Operands are evaluated left to right; AND, OR and chained comparisons stop
// at the first operand that decides the result, as Python's `and`, `or` and
// chained comparisons do. Functions and the string predicates are in
// condition_functions.cpp.
#include "query/condition_eval.hpp"

#include "classes.hpp"
#include "errors.hpp"
#include "graph_elements.hpp"
#include "query/exists_probe.hpp"

namespace velarto::py::query {

using core::ExprKind;
using core::ExprNode;
using core::Op;

namespace {

Value python_value(Ref object) {
    Value value;
    if (object.get() != Py_None) value.object = std::move(object);
    return value;
}

Value boolean(Truth truth) {
    Value value;
    if (truth != Truth::Null) value.object = Ref::borrow(truth == Truth::True ? Py_True : Py_False);
    return value;
}

const char* type_name(const Value& value) {
    if (value.element) return element_kind_name(*value.element);
    return Py_TYPE(value.object.get())->tp_name;
}

// A logical operand: null, true or false; anything else is a TypeError.
bool truth_of(const Value& value, const char* context, Truth& out) {
    if (value.is_null()) {
        out = Truth::Null;
        return true;
    }
    if (value.object.get() == Py_True || value.object.get() == Py_False) {
        out = value.object.get() == Py_True ? Truth::True : Truth::False;
        return true;
    }
    PyErr_Format(PyExc_TypeError, "%s expects booleans or null, got %.200s", context, type_name(value));
    return false;
}

Truth negation(Truth truth) {
    if (truth == Truth::Null) return Truth::Null;
    return truth == Truth::True ? Truth::False : Truth::True;
}

Truth both(Truth a, Truth b) {
    if (a == Truth::False || b == Truth::False) return Truth::False;
    if (a == Truth::Null || b == Truth::Null) return Truth::Null;
    return Truth::True;
}

bool truth_of_object(PyObject* result, Truth& out) {
    int truth = PyObject_IsTrue(result);
    if (truth < 0) return false;
    out = truth ? Truth::True : Truth::False;
    return true;
}

// What makes a graph value itself: node or edge, and the digest behind its
// uid (a node's uid is a function of its type's uid alone). Nodes and edges
// of the row and Node or Edge objects held in properties alike.
struct Identity {
    int kind = 0; // 0: not a graph value, 1: a node, 2: an edge
    const core::Digest* digest = nullptr;
};

Identity identity_of(const QueryResult* element, PyObject* object) {
    const NodeValue* node = nullptr;
    const EdgeValue* edge = nullptr;
    if (element) {
        node = std::get_if<NodeValue>(element);
        edge = std::get_if<EdgeValue>(element);
    } else if (Py_TYPE(object) == NodeType) {
        node = node_value(object);
    } else if (Py_TYPE(object) == EdgeType) {
        edge = edge_value(object);
    }
    if (node) return {1, &node->type->digest()};
    if (edge) return {2, &edge->digest()};
    return {};
}

Identity identity_of(const Value& value) { return identity_of(value.element, value.object.get()); }

int rich_op(Op op) {
    switch (op) {
    case Op::Lt: return Py_LT;
    case Op::Le: return Py_LE;
    case Op::Gt: return Py_GT;
    default: return Py_GE;
    }
}

// `a < b` and its kin: null when either is null or a graph value, or when
// Python refuses the ordering with TypeError.
bool ordered(const Value& a, Op op, const Value& b, Truth& out) {
    out = Truth::Null;
    if (a.is_null() || b.is_null() || a.element || b.element) return true;
    Ref result = Ref::steal(PyObject_RichCompare(a.object.get(), b.object.get(), rich_op(op)));
    if (!result) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
        PyErr_Clear();
        return true;
    }
    return truth_of_object(result.get(), out);
}

bool compared(const Value& a, Op op, const Value& b, Truth& out) {
    if (op != Op::Eq && op != Op::Ne) return ordered(a, op, b, out);
    if (!values_equal(a, b, out)) return false;
    if (op == Op::Ne) out = negation(out);
    return true;
}

PyObject* arithmetic_op(Op op, PyObject* a, PyObject* b) {
    switch (op) {
    case Op::Add: return PyNumber_Add(a, b);
    case Op::Sub: return PyNumber_Subtract(a, b);
    case Op::Mul: return PyNumber_Multiply(a, b);
    case Op::Div: return PyNumber_TrueDivide(a, b);
    default: return PyNumber_Remainder(a, b);
    }
}

} // namespace

// ---------------------------------------------------------------- values

void raise_type_error_at(std::string what, std::size_t column, std::string_view text) {
    PyErr_SetString(PyExc_TypeError, core::condition_error(std::move(what), column, text).first.c_str());
}

const char* element_kind_name(const QueryResult& element) {
    if (std::holds_alternative<NodeValue>(element)) return "Node";
    return std::holds_alternative<EdgeValue>(element) ? "Edge" : "list";
}

PyObject* to_python(const Value& value) {
    if (value.element) return result_to_python(*value.element);
    PyObject* object = value.object ? value.object.get() : Py_None;
    Py_INCREF(object);
    return object;
}

bool values_equal(const Value& a, const Value& b, Truth& out) {
    if (a.is_null() || b.is_null()) {
        out = Truth::Null;
        return true;
    }
    bool a_list = a.element && std::holds_alternative<EdgeListValue>(*a.element);
    bool b_list = b.element && std::holds_alternative<EdgeListValue>(*b.element);
    if (a_list || b_list) { // edge lists: edge by edge, by uid
        out = (a_list && b_list && same_result(*a.element, *b.element)) ? Truth::True : Truth::False;
        return true;
    }
    Identity x = identity_of(a), y = identity_of(b);
    if (x.kind || y.kind) {
        out = (x.kind == y.kind && *x.digest == *y.digest) ? Truth::True : Truth::False;
        return true;
    }
    Ref result = Ref::steal(PyObject_RichCompare(a.object.get(), b.object.get(), Py_EQ));
    return result && truth_of_object(result.get(), out);
}

bool same_value(const QueryResult* a_element, PyObject* a, const QueryResult* b_element, PyObject* b, bool& out) {
    bool a_null = !a_element && !a, b_null = !b_element && !b;
    if (a_null || b_null) {
        out = a_null && b_null;
        return true;
    }
    bool a_list = a_element && std::holds_alternative<EdgeListValue>(*a_element);
    bool b_list = b_element && std::holds_alternative<EdgeListValue>(*b_element);
    if (a_list || b_list) { // edge lists: edge by edge, by uid
        out = a_list && b_list && same_result(*a_element, *b_element);
        return true;
    }
    Identity x = identity_of(a_element, a), y = identity_of(b_element, b);
    if (x.kind || y.kind) {
        out = x.kind == y.kind && *x.digest == *y.digest;
        return true;
    }
    int equal = PyObject_RichCompareBool(a, b, Py_EQ);
    if (equal < 0) return false;
    out = equal > 0;
    return true;
}

bool same_value(const Value& a, const Value& b, bool& out) {
    return same_value(a.element, a.object.get(), b.element, b.object.get(), out);
}

bool hash_value(const QueryResult* element, PyObject* object, std::size_t& out) {
    out = 0;
    if (!element && !object) return true;
    if (auto* list = element ? std::get_if<EdgeListValue>(element) : nullptr) {
        for (const EdgeValue& edge : list->edges) {
            for (std::size_t i = 0; i < sizeof(std::size_t); ++i) out = out * 131 + edge.digest()[i];
        }
        out += 3;
        return true;
    }
    Identity identity = identity_of(element, object);
    if (identity.kind) {
        for (std::size_t i = 0; i < sizeof(std::size_t); ++i) out = out * 131 + (*identity.digest)[i];
        out += static_cast<std::size_t>(identity.kind);
        return true;
    }
    Py_hash_t hash = PyObject_Hash(object);
    if (hash == -1) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
        PyErr_Clear(); // unhashable: told apart by equality alone
        return true;
    }
    out = static_cast<std::size_t>(hash);
    return true;
}

bool hash_value(const Value& value, std::size_t& out) { return hash_value(value.element, value.object.get(), out); }

// ---------------------------------------------------------------- evaluator

ConditionEvaluator::ConditionEvaluator(const Condition& condition, const EvalEnv& env)
    : condition_(condition), env_(env), regexes_(env.regexes), lists_(condition.tree.nodes.size(), nullptr),
      params_(condition.tree.nodes.size()) {}

ConditionEvaluator::~ConditionEvaluator() = default;

bool ConditionEvaluator::prepare() {
    for (std::size_t i = 0; i < lists_.size(); ++i) {
        const ExprNode& expr = condition_.tree.nodes[i];
        if (expr.kind == ExprKind::Variable || expr.kind == ExprKind::Property) {
            lists_[i] = env_.bindings.find(expr.text);
            if (!lists_[i]) {
                raise(core::VelartoError{core::ErrorKind::VariableNotFound, expr.text, {}, std::nullopt});
                return false;
            }
        } else if (expr.kind == ExprKind::Parameter) {
            PyObject* value = env_.params ? PyDict_GetItemWithError(env_.params, condition_.constants[i].get())
                                          : nullptr;
            if (!value) {
                if (PyErr_Occurred()) return false;
                raise(core::VelartoError::invalid_query("parameter $" + expr.text + " has no value"));
                return false;
            }
            if (value != Py_None) params_[i] = Ref::borrow(value);
        }
    }
    for (const auto& [index, pattern] : condition_.patterns) {
        if (reads_parameters(pattern)) { // the probe keeps its own copies: read them into one
            PathPatternValue resolved = pattern;
            if (!with_parameters(resolved, env_.params)) return false;
            probes_.emplace_back(index, std::make_unique<ExistsProbe>(resolved, env_.bindings, env_.state));
            continue;
        }
        probes_.emplace_back(index, std::make_unique<ExistsProbe>(pattern, env_.bindings, env_.state));
    }
    return true;
}

bool ConditionEvaluator::test(std::size_t row, Truth& out) {
    row_ = row;
    Value value;
    return eval(condition_.tree.root, value) && truth_of(value, "a where condition", out);
}

bool ConditionEvaluator::evaluate(std::size_t row, std::uint32_t index, Value& out) {
    row_ = row;
    return eval(index, out);
}

bool ConditionEvaluator::exists(std::uint32_t index, Value& out) {
    for (auto& [node_index, probe] : probes_) {
        if (node_index != index) continue;
        bool found;
        if (!probe->test(row_, found)) return false;
        out = boolean(found ? Truth::True : Truth::False);
        return true;
    }
    out = Value{};
    return true;
}

void ConditionEvaluator::element(std::uint32_t index, Value& out) const {
    out = Value{};
    const ResultList* list = lists_[index];
    if (list && row_ < list->size()) out.element = &(*list)[row_];
}

// `x.key` reads a node's or an edge's property, or a dict's entry (a missing
// key, and null itself, are null). Anything else has no properties: the edge
// list of a variable-length edge, a number.
bool ConditionEvaluator::property(std::uint32_t index, Value& out) const {
    Value of;
    element(index, of);
    out = Value{};
    if (of.is_null()) return true;
    PyObject* properties = nullptr;
    if (of.element) {
        properties = properties_of(*of.element);
    } else if (PyDict_Check(of.object.get())) {
        properties = of.object.get();
    }
    if (!properties) {
        const ExprNode& expr = node(index);
        raise_type_error_at("cannot read property '" + expr.key + "' of a " + type_name(of), expr.column,
                            condition_.text);
        return false;
    }
    if (!PyDict_Check(properties)) return true;
    PyObject* found = PyDict_GetItemWithError(properties, condition_.constants[index].get());
    if (!found) return !PyErr_Occurred();
    out = python_value(Ref::borrow(found));
    return true;
}

// ---------------------------------------------------------------- the walk

// The tree is walked with an explicit stack of frames, one per node being
// evaluated, so that no nesting is too deep for it. A frame is resumed each
// time one of its operands has been evaluated (`step` counts them) and says
// which operand comes next, or that its own value is ready.
namespace {
constexpr std::int64_t kDone = -1;
constexpr std::int64_t kFail = -2;
} // namespace

bool ConditionEvaluator::eval(std::uint32_t index, Value& out) {
    std::size_t base = frames_.size();
    frames_.push_back(Frame{index, 0, {}, Truth::Null});
    Value value; // the value of the node finished last
    while (frames_.size() > base) {
        std::int64_t next = resume(frames_.back(), value);
        if (next == kFail) {
            frames_.resize(base);
            return false;
        }
        if (next == kDone) {
            frames_.pop_back();
        } else {
            frames_.push_back(Frame{static_cast<std::uint32_t>(next), 0, {}, Truth::Null});
        }
    }
    out = std::move(value);
    return true;
}

bool ConditionEvaluator::leaf(const ExprNode& expr, std::uint32_t index, Value& out) {
    out = Value{};
    switch (expr.kind) {
    case ExprKind::Integer:
    case ExprKind::Float:
    case ExprKind::String: out.object = condition_.constants[index]; return true;
    case ExprKind::Boolean: out = boolean(expr.boolean ? Truth::True : Truth::False); return true;
    case ExprKind::Variable: element(index, out); return true;
    case ExprKind::Property: return property(index, out);
    case ExprKind::Parameter: out.object = params_[index]; return true;
    case ExprKind::Aggregate: if (aggregates_) out = (*aggregates_)[index]; return true;
    case ExprKind::Exists: return exists(index, out);
    default: return true; // null
    }
}

// `value` holds the value of the operand evaluated last (none at step 0);
// on kDone it holds the node's own value.
std::int64_t ConditionEvaluator::resume(Frame& frame, Value& value) {
    const ExprNode& expr = node(frame.node);
    const std::size_t step = frame.step++;
    const std::size_t n = expr.operands.size();
    auto operand = [&](std::size_t i) { return static_cast<std::int64_t>(expr.operands[i]); };
    auto finish = [&](Truth truth) {
        value = boolean(truth);
        return kDone;
    };
    switch (expr.kind) {
    case ExprKind::List: {
        if (step == 0) {
            frame.left.object = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
            if (!frame.left.object) return kFail;
        } else {
            PyObject* item = to_python(value);
            if (!item) return kFail;
            PyList_SET_ITEM(frame.left.object.get(), static_cast<Py_ssize_t>(step - 1), item);
        }
        if (step < n) return operand(step);
        value = std::move(frame.left);
        return kDone;
    }
    case ExprKind::Call:
        if (expr.function == core::Function::Coalesce) {
            if (step > 0 && !value.is_null()) return kDone;
            if (step < n) return operand(step);
            value = Value{};
            return kDone;
        }
        if (step == 0) return operand(0);
        {
            Value argument = std::move(value);
            return apply_function(expr, argument, value) ? kDone : kFail;
        }
    case ExprKind::Not: {
        if (step == 0) return operand(0);
        Truth truth;
        if (!truth_of(value, "NOT", truth)) return kFail;
        return finish(negation(truth));
    }
    case ExprKind::Negate: {
        if (step == 0) return operand(0);
        if (value.is_null()) return kDone;
        Ref object = Ref::steal(to_python(value));
        Ref result = Ref::steal(object ? PyNumber_Negative(object.get()) : nullptr);
        if (!result) return kFail;
        value = python_value(std::move(result));
        return kDone;
    }
    case ExprKind::Or:
    case ExprKind::Xor:
    case ExprKind::And: {
        bool is_and = expr.kind == ExprKind::And, is_or = expr.kind == ExprKind::Or;
        if (step == 0) {
            frame.truth = is_and ? Truth::True : Truth::False;
            return operand(0);
        }
        Truth truth;
        if (!truth_of(value, is_and ? "AND" : is_or ? "OR" : "XOR", truth)) return kFail;
        if (is_and) {
            frame.truth = both(frame.truth, truth);
            if (frame.truth == Truth::False) return finish(frame.truth);
        } else if (is_or) {
            frame.truth = negation(both(negation(frame.truth), negation(truth)));
            if (frame.truth == Truth::True) return finish(frame.truth);
        } else if (truth == Truth::Null || frame.truth == Truth::Null) {
            frame.truth = Truth::Null;
        } else {
            frame.truth = truth == frame.truth ? Truth::False : Truth::True;
        }
        return step < n ? operand(step) : finish(frame.truth);
    }
    case ExprKind::Compare: { // a < b <= c: every pair tested, the results joined by AND
        if (step == 0) return operand(0);
        if (step == 1) {
            frame.left = std::move(value);
            frame.truth = Truth::True;
            return operand(1);
        }
        Truth truth;
        if (!compared(frame.left, expr.ops[step - 2], value, truth)) return kFail;
        frame.truth = both(frame.truth, truth);
        if (frame.truth == Truth::False || step == n) return finish(frame.truth);
        frame.left = std::move(value);
        return operand(step);
    }
    case ExprKind::Arithmetic: { // left to right; null as soon as an operand is
        if (step == 0) return operand(0);
        if (step == 1) {
            frame.left = std::move(value);
        } else if (value.is_null()) {
            frame.left = Value{};
        } else {
            Ref a = Ref::steal(to_python(frame.left)), b = Ref::steal(to_python(value));
            if (!a || !b) return kFail;
            Ref result = Ref::steal(arithmetic_op(expr.ops[step - 2], a.get(), b.get()));
            if (!result) return kFail;
            frame.left = python_value(std::move(result));
        }
        if (frame.left.is_null() || step == n) {
            value = std::move(frame.left);
            return kDone;
        }
        return operand(step);
    }
    case ExprKind::Predicate: return predicate_step(frame, step, value);
    default: return leaf(expr, frame.node, value) ? kDone : kFail;
    }
}

std::int64_t ConditionEvaluator::predicate_step(Frame& frame, std::size_t step, Value& value) {
    const ExprNode& expr = node(frame.node);
    Op op = expr.ops[0];
    if (step == 0) return expr.operands[0];
    Truth truth = Truth::Null;
    if (op == Op::IsNull || op == Op::IsNotNull) {
        truth = (value.is_null() == (op == Op::IsNull)) ? Truth::True : Truth::False;
    } else if (op != Op::In) {
        if (step == 1) {
            frame.left = std::move(value);
            return expr.operands[1];
        }
        if (!text_test(op, frame.left, value, truth)) return kFail;
    } else {
        // x IN list: true when some item equals x; otherwise null when x or
        // some item is null (and the list is not empty), else false. A list
        // written in place is tested item by item, stopping at a match.
        const ExprNode& right = node(expr.operands[1]);
        bool written = right.kind == ExprKind::List;
        if (step == 1) {
            frame.left = std::move(value);
            frame.truth = Truth::False;
            if (!written) return expr.operands[1];
            if (right.operands.empty()) return value = boolean(Truth::False), kDone;
            return right.operands[0];
        }
        if (!written) {
            if (value.element) {
                PyErr_Format(PyExc_TypeError, "IN expects a list, got %.200s", type_name(value));
                return kFail;
            }
            if (!value.is_null() && !member_of_sequence(frame.left, value.object.get(), truth)) return kFail;
        } else {
            Truth item;
            if (!values_equal(frame.left, value, item)) return kFail;
            if (item == Truth::Null) frame.truth = Truth::Null;
            if (item != Truth::True && step - 1 < right.operands.size()) return right.operands[step - 1];
            truth = item == Truth::True ? Truth::True : frame.truth;
        }
    }
    value = boolean(truth);
    return kDone;
}

// Lists and tuples are searched item by item as a list literal is; any
// other container answers with Python's own `in`.
bool ConditionEvaluator::member_of_sequence(const Value& left, PyObject* sequence, Truth& out) {
    if (PyList_Check(sequence) || PyTuple_Check(sequence)) {
        out = Truth::False;
        Ref held = Ref::borrow(sequence);
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(sequence); ++i) {
            Value item = python_value(Ref::borrow(PySequence_Fast_GET_ITEM(sequence, i)));
            Truth truth;
            if (!values_equal(left, item, truth)) return false;
            if (truth == Truth::True) {
                out = Truth::True;
                return true;
            }
            if (truth == Truth::Null) out = Truth::Null;
        }
        return true;
    }
    if (left.is_null()) return true;
    Ref needle = Ref::steal(to_python(left));
    int found = needle ? PySequence_Contains(sequence, needle.get()) : -1;
    if (found < 0) return false;
    out = found ? Truth::True : Truth::False;
    return true;
}

} // namespace velarto::py::query
