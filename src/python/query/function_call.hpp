// One call of a function of the expression language, and the code of every
// function of the table (core/function_table.hpp).
//
// The evaluator gathers the arguments, makes the result null when one is
// null, and refuses an argument of a kind the table does not list; the code
// of a function (`call_<Id>`, in the functions_*.cpp files by area) then sees
// only arguments of the kinds it takes and writes `out`. A value it refuses
// for another reason (a negative length, a step of zero) is a ValueError at
// the function's column.
#pragma once

#include <cstddef>
#include <string>

#include "core/function_table.hpp"
#include "query/condition_eval.hpp"

namespace velarto::py::query {

struct FunctionCall {
    const Condition& condition;
    const core::ExprNode& expr;
    const Value* args;
    std::size_t count;
    Value& out;
    ListBudget& budget;

    const Value& arg(std::size_t i) const { return args[i]; }
    PyObject* object(std::size_t i) const { return args[i].object.get(); }
    // Sets `out` to a new reference (None: null); false when it is nullptr.
    bool set(PyObject* result) const;
    // TypeError: the function cannot take argument `i` (of its kind).
    bool refuse(std::size_t i, const char* expected) const;
    // MemoryError at the function's column: its list would not fit.
    bool too_large() const;
    // ValueError at the function's column.
    bool value_error(const std::string& what) const;
};

// A function's code: false with an exception set.
using FunctionCode = bool (*)(const FunctionCall&);

#define VELARTO_FUNCTION_CODE(id, ...) bool call_##id(const FunctionCall& call);
VELARTO_FUNCTIONS(VELARTO_FUNCTION_CODE)
#undef VELARTO_FUNCTION_CODE

// The kinds checked, then the code: the result of `function` on the
// arguments (none of them null).
bool call_function(const FunctionCall& call);

// The graph parts of a node or edge value, whether of the table or an object.
const NodeValue* node_of(const Value& value);
const EdgeValue* edge_of(const Value& value);

} // namespace velarto::py::query
