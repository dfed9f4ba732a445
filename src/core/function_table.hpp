// The functions of the expression language, in one table.
//
// Each row names a function, the number of arguments it takes and the kinds
// of value each argument may be; the parser reads the names and arities (an
// unknown function or a wrong count is an error of the text, at its column),
// and the evaluator reads the kinds and finds each function's code under the
// row's id (`call_<Id>`), so a new function is one row here and one function
// there. Kinds are checked before the code runs: a null argument makes the
// result null (every function but coalesce, which the evaluator reads
// lazily), any other kind the row does not list is a TypeError naming the
// function, the argument and the kind.
//
// Columns: Id, name as written (matched without case), least and most
// arguments (kMany: no upper bound), then the kinds of the first, second and
// third argument; a function taking more arguments reads its last kind for
// the rest.
#pragma once

#include <cstdint>

namespace velarto::core {

// The kinds of value an argument may be.
namespace arg {
enum : std::uint16_t {
    Boolean = 1 << 0,
    Integer = 1 << 1,
    Float = 1 << 2,
    String = 1 << 3,
    List = 1 << 4,   // a list, a tuple, or the edges of a variable-length edge
    Map = 1 << 5,    // a dict
    Node = 1 << 6,
    Edge = 1 << 7,
    Other = 1 << 8,  // a value of any other Python type
    Number = Integer | Float,
    Graph = Node | Edge,
    Any = 0x1FF,
};
} // namespace arg

constexpr std::uint8_t kMany = 255;

#define VELARTO_FUNCTIONS(X)                                                                  \
    /* graph values */                                                                        \
    X(Type, "type", 1, 1, arg::Graph | arg::List, 0, 0)                                       \
    X(Name, "name", 1, 1, arg::Graph | arg::List, 0, 0)                                       \
    X(Uid, "uid", 1, 1, arg::Graph | arg::List, 0, 0)                                         \
    X(Compose, "compose", 1, 1, arg::List, 0, 0)                                              \
    X(Labels, "labels", 1, 1, arg::Node, 0, 0)                                                \
    X(StartNode, "startNode", 1, 1, arg::Edge, 0, 0)                                          \
    X(EndNode, "endNode", 1, 1, arg::Edge, 0, 0)                                              \
    X(Keys, "keys", 1, 1, arg::Graph | arg::Map, 0, 0)                                        \
    X(Properties, "properties", 1, 1, arg::Graph | arg::Map, 0, 0)                            \
    X(Coalesce, "coalesce", 1, kMany, arg::Any, arg::Any, arg::Any)                           \
    /* lists */                                                                               \
    X(Size, "size", 1, 1, arg::String | arg::List | arg::Other, 0, 0)                         \
    X(Range, "range", 2, 3, arg::Integer, arg::Integer, arg::Integer)                         \
    X(Head, "head", 1, 1, arg::List, 0, 0)                                                    \
    X(Last, "last", 1, 1, arg::List, 0, 0)                                                    \
    X(Tail, "tail", 1, 1, arg::List, 0, 0)                                                    \
    X(Reverse, "reverse", 1, 1, arg::List | arg::String, 0, 0)                                \
    /* numbers */                                                                             \
    X(Abs, "abs", 1, 1, arg::Number, 0, 0)                                                    \
    X(Sign, "sign", 1, 1, arg::Number, 0, 0)                                                  \
    X(Ceil, "ceil", 1, 1, arg::Number, 0, 0)                                                  \
    X(Floor, "floor", 1, 1, arg::Number, 0, 0)                                                \
    X(Round, "round", 1, 1, arg::Number, 0, 0)                                                \
    X(Sqrt, "sqrt", 1, 1, arg::Number, 0, 0)                                                  \
    /* conversions */                                                                         \
    X(ToString, "toString", 1, 1, arg::Number | arg::String | arg::Boolean, 0, 0)             \
    X(ToInteger, "toInteger", 1, 1, arg::Number | arg::String | arg::Boolean, 0, 0)           \
    X(ToFloat, "toFloat", 1, 1, arg::Number | arg::String, 0, 0)                              \
    X(ToBoolean, "toBoolean", 1, 1, arg::String | arg::Boolean, 0, 0)                         \
    /* texts */                                                                               \
    X(ToLower, "toLower", 1, 1, arg::String, 0, 0)                                            \
    X(ToUpper, "toUpper", 1, 1, arg::String, 0, 0)                                            \
    X(Trim, "trim", 1, 1, arg::String, 0, 0)                                                  \
    X(LTrim, "lTrim", 1, 1, arg::String, 0, 0)                                                \
    X(RTrim, "rTrim", 1, 1, arg::String, 0, 0)                                                \
    X(Substring, "substring", 2, 3, arg::String, arg::Integer, arg::Integer)                  \
    X(Left, "left", 2, 2, arg::String, arg::Integer, 0)                                       \
    X(Right, "right", 2, 2, arg::String, arg::Integer, 0)                                     \
    X(Replace, "replace", 3, 3, arg::String, arg::String, arg::String)                        \
    X(Split, "split", 2, 2, arg::String, arg::String, 0)

// The aggregates: only in result items, computed over groups of rows.
#define VELARTO_AGGREGATES(X) \
    X(Count, "count")         \
    X(Sum, "sum")             \
    X(Avg, "avg")             \
    X(Min, "min")             \
    X(Max, "max")             \
    X(Collect, "collect")

enum class Function : std::uint8_t {
#define VELARTO_FUNCTION_ID(id, ...) id,
    VELARTO_FUNCTIONS(VELARTO_FUNCTION_ID)
    VELARTO_AGGREGATES(VELARTO_FUNCTION_ID)
#undef VELARTO_FUNCTION_ID
};

inline bool is_aggregate(Function function) { return function >= Function::Count; }

struct FunctionRow {
    const char* name;
    std::uint8_t least;
    std::uint8_t most;
    std::uint16_t kinds[3];
};

// The row of a function that is not an aggregate.
const FunctionRow& function_row(Function function);
const char* function_name(Function function);

} // namespace velarto::core
