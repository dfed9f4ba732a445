// Evaluating a `where` condition on the rows of a binding table.
//
// The engine parses the text into a flat tree (core/condition.hpp); the
// binding adds, once when `where` is called, the Python constant of every
// literal and the interned key of every property access. A run resolves each
// variable of the tree to its bound list once per `where`, and then evaluates
// the tree row by row.
//
// Values during evaluation are null, a Python object, or a node or edge of
// the row itself: graph values stay unwrapped (their equality is by uid,
// which needs no Python object), and are wrapped into Node or Edge objects
// only where a Python operator must see them. Python's None is null. A Node
// or Edge object found in a property is a graph value too: it equals a node
// or edge with the same uid.
//
// Logic is openCypher's three-valued logic; comparisons and arithmetic are
// Python's own operators, with one exception turned into a value: an
// ordering that Python refuses with TypeError is null. Every other exception
// propagates unchanged and ends the run.
#pragma once

#include <Python.h>

#include <cstdint>
#include <vector>

#include "core/condition.hpp"
#include "query/bindings.hpp"
#include "ref.hpp"

namespace velarto::py::query {

// A parsed condition with its Python constants: per node of the tree, the
// value of a literal or the interned key of a property (empty otherwise).
struct Condition {
    core::ConditionTree tree;
    std::vector<Ref> constants;
};

enum class Truth : std::uint8_t { False, True, Null };

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

// One value while a condition is evaluated.
struct Value {
    Ref object;                          // a Python value, never None
    const QueryResult* element = nullptr; // or a node or edge of the row
    bool is_null() const { return !object && !element; }
};

class ConditionEvaluator {
public:
    // `bindings` must outlive the evaluator and stay unchanged while it is used.
    ConditionEvaluator(const Condition& condition, const Bindings& bindings, RegexCache& regexes);

    // The condition on row `row`: true, false or null. False with an
    // exception set when evaluation fails.
    bool test(std::size_t row, Truth& out);

private:
    const core::ExprNode& node(std::uint32_t index) const { return condition_.tree.nodes[index]; }
    bool eval(std::uint32_t index, Value& out);
    void element(std::uint32_t index, Value& out) const;
    bool property(std::uint32_t index, Value& out) const;
    bool list(const core::ExprNode& list, Value& out);
    bool logical(const core::ExprNode& expr, Value& out);
    bool compare(const core::ExprNode& expr, Value& out);
    bool arithmetic(const core::ExprNode& expr, Value& out);
    bool negate(const core::ExprNode& expr, Value& out);
    bool predicate(const core::ExprNode& expr, Value& out);
    bool membership(const core::ExprNode& expr, Truth& out);
    bool member_of_list(const Value& left, const core::ExprNode& list, Truth& out);
    bool member_of_sequence(const Value& left, PyObject* sequence, Truth& out);
    bool text_test(core::Op op, const Value& text, const Value& other, Truth& out);
    bool call(const core::ExprNode& expr, Value& out);
    bool graph_function(core::Function function, const Value& argument, Value& out);

    const Condition& condition_;
    RegexCache& regexes_;
    std::vector<const ResultList*> lists_; // per node: the list of its variable
    std::size_t row_ = 0;
};

// --- operations on values, shared with the functions -------------------------------

// A new reference to the value as Python sees it: None for null, a new Node
// or Edge object for a graph value.
PyObject* to_python(const Value& value);

// `a = b`: null when either is null; graph values by uid.
bool values_equal(const Value& a, const Value& b, Truth& out);

} // namespace velarto::py::query
