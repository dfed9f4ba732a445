// Evaluating a condition or a result expression on the rows of a binding
// table.
//
// The engine parses the text into a flat tree (core/condition.hpp); the
// binding adds, once when the text is given, the Python constant of every
// literal, the interned key of every property access and the name of every
// parameter, and parses the pattern of every exists(). Before the rows, the
// evaluator resolves each variable of the tree to its bound list (a variable
// with no list at all is a NameError) and each parameter to its value; then
// it evaluates the tree row by row. Aggregates are not computed here: the
// projection feeds their arguments row by row and hands their results back
// through `set_aggregates`.
//
// Values during evaluation are null, a Python object, or a node or edge of
// the row itself: graph values stay unwrapped (their equality is by uid,
// which needs no Python object), and are wrapped into Node or Edge objects
// only where a Python operator must see them. Python's None is null. A Node
// or Edge object found in a property is a graph value too: it equals a node
// or edge with the same uid.
//
// Logic is openCypher's three-valued logic, and operators take values as
// openCypher does (value_ops.hpp). A kind that an operator or function
// refuses is a TypeError naming it, the kind and its column in the text; an
// ordering that Python refuses for values of other types is null. Every
// other exception propagates unchanged and ends the run.
#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/condition.hpp"
#include "path_pattern.hpp"
#include "query/bindings.hpp"
#include "query/text_membership.hpp"
#include "query/value_ops.hpp"
#include "interrupts.hpp"
#include "ref.hpp"

namespace velarto::py::query {

// A parsed condition with its Python constants: per node of the tree, the
// value of a literal or the interned key of a property (empty otherwise).
// Parameters: the constant is the name as a str. exists(): the pattern of
// each such node, parsed once.
struct Condition {
    std::string text; // as given, for the messages of errors while it runs
    core::ConditionTree tree;
    std::vector<Ref> constants;
    std::vector<std::pair<std::uint32_t, PathPatternValue>> patterns;
};

// A result expression: its tree, its ` AS ` alias, whether it aggregates.
struct ResultExpression {
    Condition condition;
    std::optional<std::string> alias;
    bool aggregates = false;
};

struct QueryState;
class ExistsProbe;

// The compiled regular expressions of one run, by pattern text, so that a
// pattern is compiled once however many rows it is tested on.
class RegexCache {
public:
    // The `fullmatch` method of the compiled pattern; false with an exception
    // set when the pattern does not compile.
    bool fullmatch(PyObject* pattern, Ref& method);

private:
    Ref compile_; // re.compile
    Ref methods_; // dict: exact str pattern -> bound fullmatch method
};

// What an evaluation reads besides the row: the table, the parameters (a
// dict, or nullptr for none), the query (whose graph exists() searches) and
// the run's regular expressions. All must outlive the evaluator, and the
// table must stay unchanged while it is used.
struct EvalEnv {
    const Bindings& bindings;
    PyObject* params;
    QueryState& state;
    RegexCache& regexes;
};

// How many list items one evaluation may still make (range, comprehensions):
// a list that would not fit in memory is refused before it is made.
class ListBudget {
public:
    // Counts `items` more; false (nothing set) when they would not fit.
    bool take(std::size_t items);
    void reset() { used_ = 0; }

private:
    std::size_t used_ = 0;
};

class ConditionEvaluator {
public:
    ConditionEvaluator(const Condition& condition, const EvalEnv& env);
    ~ConditionEvaluator();

    // Resolves variables and parameters; false with NameError "Variable 'x'
    // not found" or ValueError "Invalid query: parameter $x has no value" set.
    // Must succeed before anything is evaluated.
    bool prepare();

    // The condition on row `row`: true, false or null. False with an
    // exception set when evaluation fails.
    bool test(std::size_t row, Truth& out);
    // The value of node `index` (the root by default) on row `row`; a row
    // past every list reads every variable as null.
    bool evaluate(std::size_t row, Value& out) { return evaluate(row, condition_.tree.root, out); }
    bool evaluate(std::size_t row, std::uint32_t index, Value& out);

    // The results of the tree's aggregates, by node index (nullptr: none).
    void set_aggregates(const std::vector<Value>* values) { aggregates_ = values; }

private:
    // What `resume` returns besides the index of the operand to evaluate next.
    static constexpr std::int64_t kDone = -1; // the node's value is ready
    static constexpr std::int64_t kFail = -2; // an exception is set

    // One node being evaluated: which operand it waits for, and what it has
    // gathered (the left operand, a running total, a list, a truth value).
    struct Frame {
        std::uint32_t node;
        std::uint32_t step;
        Value left;
        Truth truth;
        // The forms that walk parts or items (calls, CASE, slices,
        // comprehensions): where they are, and what they hold meanwhile.
        int phase = 0;
        std::size_t position = 0; // an operand, an item, or the base of the argument stack
        std::size_t trues = 0;    // a quantifier's true predicates
        Ref list;                 // a comprehension's list, held while its items are read
    };

    const core::ExprNode& node(std::uint32_t index) const { return condition_.tree.nodes[index]; }
    bool eval(std::uint32_t index, Value& out);
    std::int64_t resume(Frame& frame, Value& value);
    std::int64_t predicate_step(Frame& frame, std::size_t step, Value& value);
    // TypeError: `what` + the value's kind, at the column; kFail.
    std::int64_t refuse(std::size_t column, const std::string& what, const Value& value);
    // TypeError: operator number `op` of the node cannot take `a` and `b`; kFail.
    std::int64_t refuse_pair(const core::ExprNode& expr, std::size_t op, const Value& a, const Value& b);
    bool leaf(const core::ExprNode& expr, std::uint32_t index, Value& out);
    void element(std::uint32_t index, Value& out) const;
    bool property(std::uint32_t index, Value& out) const;
    bool member_of_sequence(std::uint32_t node, const Value& left, PyObject* sequence, Truth& out);
    bool text_test(core::Op op, const Value& text, const Value& other, Truth& out);
    // The forms of condition_forms.cpp, resumed as `resume` is.
    std::int64_t gather_operands(Frame& frame, std::size_t step, Value& value);
    std::int64_t call_step(Frame& frame, std::size_t step, Value& value);
    std::int64_t map_step(Frame& frame, std::size_t step, Value& value);
    std::int64_t index_step(Frame& frame, std::size_t step, Value& value);
    std::int64_t slice_step(Frame& frame, std::size_t step, Value& value);
    std::int64_t property_of_step(Frame& frame, std::size_t step, Value& value);
    std::int64_t case_step(Frame& frame, std::size_t step, Value& value);
    std::int64_t comprehension_step(Frame& frame, std::size_t step, Value& value);
    std::int64_t next_item(Frame& frame, Value& value);
    std::int64_t finish_items(Frame& frame, Value& value);
    bool exists(std::uint32_t index, Value& out);

    const Condition& condition_;
    const EvalEnv& env_;
    RegexCache& regexes_;
    std::vector<const ResultList*> lists_; // per node: the list of its variable
    std::vector<Ref> params_;              // per node: a parameter's value (empty: null)
    std::vector<std::pair<std::uint32_t, std::unique_ptr<ExistsProbe>>> probes_;
    const std::vector<Value>* aggregates_ = nullptr;
    std::vector<Frame> frames_; // the walk's stack, kept between rows
    std::vector<Value> arguments_; // the arguments of the calls being evaluated
    std::vector<Value> locals_;    // per slot: the item a comprehension is at
    ListBudget budget_;            // list items this row may still make
    SignalCheck signals_;
    // Per `IN` node whose list is not written in place, its lookup of texts.
    std::vector<std::pair<std::uint32_t, TextMembership>> text_lists_;
    std::size_t row_ = 0;
};

// Raises `type` with `what` + " at column N in '<text>'"; false.
bool raise_at(PyObject* type, const Condition& condition, std::size_t column, const std::string& what);

// The composed function type of a list of edges whose terms chain in list
// order, as its display form; null for an empty list or one that does not
// chain. A list (or tuple) with an item that is no Edge sets `wrong_item` to
// that item's type name and gives no value.
bool compose_edges(PyObject* edges, Value& out, std::string& wrong_item);

} // namespace velarto::py::query
