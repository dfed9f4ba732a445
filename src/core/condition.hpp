// The condition language of `where`: text in, expression tree out.
//
// A condition is a small expression language: literals (integers kept as
// their digits, floats, quoted strings, true/false/null, lists, maps),
// variables and their properties (`n`, `n.age`), the functions of
// function_table.hpp, CASE, list comprehensions and quantifiers, and the
// usual operators in openCypher's precedence order:
//
//   OR < XOR < AND < NOT < comparisons (=, <>, !=, <, <=, >, >=, chained)
//      < predicates (IS [NOT] NULL, IN, STARTS WITH, ENDS WITH, CONTAINS, =~)
//      < + - < * / % < ^ < unary - < postfix (l[i], l[a..b], x.key) < atoms
//
// The words of CASE (WHEN, THEN, ELSE, END) and of comprehensions (WHERE)
// are read as such only where they can stand, so they remain usable as
// names elsewhere; `case` opens a CASE only before an operand. A
// comprehension's variable is resolved when parsed: inside its WHERE and
// projection the name is a Local with a slot (its depth among the
// comprehensions around it), so evaluation never looks it up by name.
//
// The tree lives in one flat vector: every node refers to its operands by
// index, children stand before their parents and the root is last, so a tree
// of any size is freed without recursion. Runs of one associative operator
// (`a OR b OR c`, `a + b - c`, `a < b <= c`) become one node with many
// operands, which keeps the tree shallow for long generated conditions.
//
// The one non-obvious decision is depth. Nothing that reads a condition
// recurses on its nesting: the parser keeps its bracket levels on a stack of
// its own, and the evaluator and the renderer walk the tree with explicit
// stacks. So a condition nested as deeply as memory allows parses and runs,
// and parsing stays linear in the length of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "error.hpp"
#include "function_table.hpp"

namespace velarto::core {

enum class ExprKind : std::uint8_t {
    Integer,    // text: the decimal digits
    Float,      // text: the literal as written
    String,     // text: the decoded value (UTF-8)
    Boolean,    // boolean
    Null,
    List,       // operands: the items
    Variable,   // text: the name
    Property,   // text: the variable's name; key: the property key
    Call,       // function; operands: the arguments
    Not,        // one operand
    Negate,     // one operand
    Or,         // two or more operands
    Xor,
    And,
    Compare,    // operands[i] ops[i] operands[i + 1], each pair tested
    Arithmetic, // operands[0] ops[0] operands[1] ops[1] ..., left to right
    Predicate,  // ops[0] applied to one operand (IS [NOT] NULL) or two
    Parameter,  // text: the name after '$'
    Aggregate,  // function; boolean: DISTINCT; operands: none (count(*)) or one
    Exists,     // text: the pattern between the brackets of exists(...), as written
    Map,        // keys: the keys; operands: their values
    Index,      // operands: the value and the index or key
    Slice,      // operands: the list, then the bounds that are written (form: kFrom, kTo)
    PropertyOf, // key: the property key; operand: the value it is read from
    Case,       // operands: [subject] (when, then)... [else] (form: kSimple, kElse)
    Comprehension, // text: the variable; slot; operands: list [predicate] [projection] (form: kWhere, kProjection)
    Quantifier, // form: the quantifier; text: the variable; slot; operands: the list and the predicate
    Local,      // text: the name of a comprehension's variable; slot: its place among the variables in scope
};

// The flags of `ExprNode::form`.
namespace form {
constexpr std::uint8_t kFrom = 1, kTo = 2;             // Slice: which bounds are written
constexpr std::uint8_t kSimple = 1, kElse = 2;         // Case: a subject to compare; an ELSE
constexpr std::uint8_t kWhere = 1, kProjection = 2;    // Comprehension: WHERE p; | e
enum Quantifier : std::uint8_t { All, Any, None, Single };
} // namespace form

enum class Op : std::uint8_t {
    Eq, Ne, Lt, Le, Gt, Ge,
    Add, Sub, Mul, Div, Mod, Pow,
    IsNull, IsNotNull, In, StartsWith, EndsWith, Contains, Matches,
};

struct ExprNode {
    ExprNode(ExprKind kind_, std::size_t column_) : kind(kind_), column(column_) {}

    ExprKind kind;
    bool boolean = false;
    Function function = Function::Type;
    std::size_t column = 0;  // 1-based code point column of the node's token
    std::size_t height = 0;  // 0 for leaves
    std::uint8_t form = 0;   // flags of the kind (namespace form)
    std::uint32_t slot = 0;  // Comprehension, Quantifier, Local: the variable's place in scope
    std::string text;
    std::string key;
    std::vector<std::uint32_t> operands;
    std::vector<Op> ops;
    // A run of infix operators (OR, AND, comparisons, arithmetic): the
    // column of each, so that a failure names the one that failed.
    std::vector<std::size_t> op_columns;
    std::vector<std::string> keys; // Map; Exists: the comprehension variables in scope
};

struct ConditionTree {
    std::vector<ExprNode> nodes; // operands before the nodes that use them
    std::uint32_t root = 0;
};

// Parses a UTF-8 condition. Errors are InvalidQuery errors whose message says
// what is wrong, at which column, in which text. Never throws (beyond
// allocation failure); linear in the length of the text. Aggregates are
// refused: a condition tests one row.
Result<ConditionTree> parse_condition(std::string_view utf8_text);

// One item of a result: an expression, aggregates allowed (not nested), and
// an optional trailing `AS alias`.
struct ResultItem {
    ConditionTree tree;
    std::optional<std::string> alias;
    bool aggregates = false; // some node of the tree is an aggregate
};
Result<ResultItem> parse_result_item(std::string_view utf8_text);

// A fully parenthesised text of the tree, for tests and diagnostics.
std::string render_condition(const ConditionTree& tree);

const char* op_text(Op op);
const char* quantifier_name(std::uint8_t quantifier);

// The message of a condition error: what went wrong, at which column, in which text.
VelartoError condition_error(std::string what, std::size_t column, std::string_view text);
// Its tail, for errors raised while a condition runs: " at column N in '...'",
// a long text quoted as the 80 code points around the column.
std::string condition_location(std::size_t column, std::string_view text);

} // namespace velarto::core
