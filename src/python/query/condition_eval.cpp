// The evaluator of conditions and result expressions: the tree walk and its
// logic. The operators on values are in value_ops.cpp and value_compare.cpp;
// here a kind they refuse becomes a TypeError at the operator's column.
//
// Every function returns false with the exception set when Python code
// failed, and otherwise writes its result. The walk keeps its own stack of
// frames, so a condition of any depth evaluates without deep recursion.
// Operands are evaluated left to right; AND, OR and chained comparisons stop
// at the first operand that decides the result, as Python's `and`, `or` and
// chained comparisons do. Functions and the string predicates are in
// condition_functions.cpp.
#include "query/condition_eval.hpp"

#include <algorithm>

#include "classes.hpp"
#include "errors.hpp"
#include "graph_elements.hpp"
#include "query/exists_probe.hpp"

namespace velarto::py::query {

using core::ExprKind;
using core::ExprNode;
using core::Op;

namespace {

Truth both(Truth a, Truth b) {
    if (a == Truth::False || b == Truth::False) return Truth::False;
    if (a == Truth::Null || b == Truth::Null) return Truth::Null;
    return Truth::True;
}

bool compared(const Value& a, Op op, const Value& b, Truth& out) {
    if (op != Op::Eq && op != Op::Ne) return values_ordered(a, op, b, out);
    if (!values_equal(a, b, out)) return false;
    if (op == Op::Ne) out = negation(out);
    return true;
}

} // namespace

// ---------------------------------------------------------------- errors

bool raise_at(PyObject* type, const Condition& condition, std::size_t column, const std::string& what) {
    std::string message = what + core::condition_location(column, condition.text);
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
    return false;
}

// ---------------------------------------------------------------- evaluator

ConditionEvaluator::ConditionEvaluator(const Condition& condition, const EvalEnv& env)
    : condition_(condition), env_(env), regexes_(env.regexes), lists_(condition.tree.nodes.size(), nullptr),
      params_(condition.tree.nodes.size()) {
    std::size_t slots = 0;
    for (const ExprNode& expr : condition.tree.nodes) {
        if (expr.kind == ExprKind::Comprehension || expr.kind == ExprKind::Quantifier) slots = std::max<std::size_t>(slots, expr.slot + 1);
    }
    locals_.resize(slots);
}

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
    if (!eval(condition_.tree.root, value)) return false;
    if (is_logical(value, out)) return true;
    PyErr_Format(PyExc_TypeError, "a where condition expects booleans or null, got %.200s", kind_name(value));
    return false;
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
    if (!list || row_ >= list->size()) return;
    const QueryResult& entry = (*list)[row_];
    // A plain value reads as itself, so every operator takes it unchanged.
    if (auto* plain = std::get_if<PlainValue>(&entry)) out = python_value(plain->object);
    else out.element = &entry;
}

// `x.key` reads a node's or an edge's property, or a dict's entry (a missing
// key, and null itself, are null). Anything else has no properties: the edge
// list of a variable-length edge, a number.
bool ConditionEvaluator::property(std::uint32_t index, Value& out) const {
    const ResultList* list = lists_[index];
    if (list && row_ < list->size()) {
        // A node or an edge: its properties read without making the list's
        // values (a chain table's list would make one per row).
        if (PyObject* properties = list->properties_at(row_); properties && PyDict_Check(properties)) {
            out = Value{};
            PyObject* found = PyDict_GetItemWithError(properties, condition_.constants[index].get());
            if (!found) return !PyErr_Occurred();
            out = python_value(Ref::borrow(found));
            return true;
        }
    }
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
        return raise_at(PyExc_TypeError, condition_, expr.column,
                        "cannot read property '" + expr.key + "' of a " + kind_name(of));
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

bool ConditionEvaluator::eval(std::uint32_t index, Value& out) {
    const std::size_t base = frames_.size();
    budget_.reset();
    frames_.push_back(Frame{index, 0, {}, Truth::Null, 0, 0, 0, {}});
    Value value; // the value of the node finished last
    while (frames_.size() > base) {
        std::int64_t next = resume(frames_.back(), value);
        if (next == kFail) {
            frames_.resize(base);
            arguments_.clear();
            for (Value& local : locals_) local = Value{};
            return false;
        }
        if (next == kDone) {
            frames_.pop_back();
        } else {
            frames_.push_back(Frame{static_cast<std::uint32_t>(next), 0, {}, Truth::Null, 0, 0, 0, {}});
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
    case ExprKind::Local: out = locals_[expr.slot]; return true;
    default: return true; // null
    }
}

std::int64_t ConditionEvaluator::refuse(std::size_t column, const std::string& what, const Value& value) {
    raise_at(PyExc_TypeError, condition_, column, what + kind_name(value));
    return kFail;
}

std::int64_t ConditionEvaluator::refuse_pair(const ExprNode& expr, std::size_t op, const Value& a, const Value& b) {
    std::string what = std::string("operator '") + core::op_text(expr.ops[op]) + "' cannot take " + kind_name(a) +
                       " and " + kind_name(b);
    raise_at(PyExc_TypeError, condition_, expr.op_columns[op], what);
    return kFail;
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
        return call_step(frame, step, value);
    case ExprKind::Map: return map_step(frame, step, value);
    case ExprKind::Index: return index_step(frame, step, value);
    case ExprKind::Slice: return slice_step(frame, step, value);
    case ExprKind::PropertyOf: return property_of_step(frame, step, value);
    case ExprKind::Case: return case_step(frame, step, value);
    case ExprKind::Comprehension:
    case ExprKind::Quantifier: return comprehension_step(frame, step, value);
    case ExprKind::Not: {
        if (step == 0) return operand(0);
        Truth truth;
        if (!is_logical(value, truth)) return refuse(expr.column, "NOT expects booleans or null, got ", value);
        return finish(negation(truth));
    }
    case ExprKind::Negate: {
        if (step == 0) return operand(0);
        if (value.is_null()) return kDone;
        Value operand_value = std::move(value);
        switch (negative(operand_value, value)) {
        case Outcome::Done: return kDone;
        case Outcome::Refused: return refuse(expr.column, "operator '-' cannot take ", operand_value);
        default: return kFail;
        }
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
        if (!is_logical(value, truth)) {
            const char* name = is_and ? "AND" : is_or ? "OR" : "XOR";
            std::size_t column = expr.op_columns[step > 1 ? step - 2 : 0]; // the operator before it, or the first
            return refuse(column, std::string(name) + " expects booleans or null, got ", value);
        }
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
            Value result;
            switch (arithmetic(expr.ops[step - 2], frame.left, value, result)) {
            case Outcome::Done: break;
            case Outcome::Refused: return refuse_pair(expr, step - 2, frame.left, value);
            case Outcome::ZeroDivision: {
                const char* what = expr.ops[step - 2] == Op::Div ? "integer division by zero" : "integer modulo by zero";
                raise_at(PyExc_ZeroDivisionError, condition_, expr.op_columns[step - 2], what);
                return kFail;
            }
            default: return kFail;
            }
            frame.left = std::move(result);
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
            if (!value.is_null()) {
                Kind kind = kind_of(value);
                if (kind != Kind::List && kind != Kind::Other) return refuse(expr.column, "IN expects a list, got ", value);
                Ref sequence = value.element ? Ref::steal(to_python(value)) : value.object;
                if (!sequence || !member_of_sequence(frame.node, frame.left, sequence.get(), truth)) return kFail;
            }
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
bool ConditionEvaluator::member_of_sequence(std::uint32_t node, const Value& left, PyObject* sequence, Truth& out) {
    const bool text = !left.element && left.object && PyUnicode_CheckExact(left.object.get());
    constexpr Py_ssize_t kLongList = 8; // shorter ones are searched as quickly item by item
    if (text && (PyList_CheckExact(sequence) || PyTuple_CheckExact(sequence)) && PySequence_Fast_GET_SIZE(sequence) >= kLongList) {
        auto found = std::find_if(text_lists_.begin(), text_lists_.end(), [&](const auto& entry) { return entry.first == node; });
        if (found == text_lists_.end()) found = text_lists_.emplace(text_lists_.end(), node, TextMembership{});
        const int member = found->second.contains(sequence, left.object.get());
        if (member >= 0) {
            out = member ? Truth::True : Truth::False;
            return true;
        }
    }
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
