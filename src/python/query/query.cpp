// The Query class: builder methods that record operations, and the run
// triggers (`execute`, `return_`, `return_distinct`, `return_count`).
//
// Every builder call binds and converts its arguments, takes exclusive access
// to the query, builds one operation (or none, where no argument selects a
// form), appends it to the receiver's own list, and returns a new Query that
// is a copy of the receiver. Appending is O(1) (the list is persistent), so
// chains of builder calls stay linear.
#include "query/query.hpp"

#include <string>
#include <type_traits>
#include <vector>

#include "args.hpp"
#include "classes.hpp"
#include "errors.hpp"
#include "path_pattern.hpp"
#include "reading_runs.hpp"
#include "query/projection.hpp"
#include "query/query_state.hpp"
#include "query/cypher_translation.hpp"
#include "query/result_items.hpp"
#include "query/where_parser.hpp"

namespace velarto::py {

using query::QueryObject;
using query::QueryState;

PyObject* new_query(const GraphDicts& graph) {
    QueryState state;
    state.graph = graph;
    return reinterpret_cast<PyObject*>(new_object<QueryObject>(QueryType, std::move(state)));
}

namespace {

QueryState& state_of(PyObject* self) { return as<QueryObject>(self)->value; }

// Exclusive access to a query for the length of one call, which counts as a
// reading run: nothing that the call may read in place is freed before it
// returns (reading_runs.hpp).
class Entry {
public:
    explicit Entry(QueryState& state) : state_(state), entered_(!state.busy) {
        if (entered_) {
            state.busy = true;
        } else {
            PyErr_SetString(PyExc_RuntimeError,
                            "Query is already in use: a call on this query is still running");
        }
    }
    ~Entry() {
        if (entered_) state_.busy = false;
    }
    explicit operator bool() const { return entered_; }

private:
    ReadingRun reading_; // destroyed after `busy` is cleared: what it frees may run Python code
    QueryState& state_;
    bool entered_;
};

PyObject* copy_of(const QueryState& state) {
    QueryState copy;
    copy.graph = state.graph;
    copy.bindings = state.bindings; // copied on write
    copy.operations = state.operations;
    copy.params = state.params;
    return reinterpret_cast<PyObject*>(new_object<QueryObject>(QueryType, std::move(copy)));
}

// Appends `operation` (if any) and returns the copy.
PyObject* finish_builder(QueryState& state, std::optional<query::Operation> operation) {
    if (operation) state.operations.append(std::move(*operation));
    return copy_of(state);
}

bool str_or_none(const Signature& signature, int index, PyObject* value) {
    return absent(value) || PyUnicode_Check(value) || argument_error(signature, index, "str or None", value);
}

bool dict_or_none(const Signature& signature, int index, PyObject* value) {
    return absent(value) || PyDict_Check(value) || argument_error(signature, index, "dict or None", value);
}

bool optional_text(PyObject* value, std::optional<std::string>& out) {
    if (absent(value)) return true;
    std::string text;
    if (!to_utf8(value, text)) return false;
    out = std::move(text);
    return true;
}

// A variable name for create and merge in edge form.
bool extract_var(PyObject* value, std::optional<std::string>& out) {
    if (absent(value)) return raise(core::VelartoError::invalid_query("Variable name required")), false;
    if (!PyUnicode_Check(value)) {
        return raise(core::VelartoError::invalid_query("Expected string variable name", "variable extraction")),
               false;
    }
    return optional_text(value, out);
}

// A variable name for match in edge form: anything but a str is no name.
bool extract_var_or_none(PyObject* value, std::optional<std::string>& out) {
    if (absent(value) || !PyUnicode_Check(value)) return true;
    return optional_text(value, out);
}

bool text_list(const Signature& signature, PyObject* const* items, Py_ssize_t count, std::vector<std::string>& out) {
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (!PyUnicode_Check(items[i])) return argument_error(signature, -1, "str", items[i]);
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        std::string text;
        if (!to_utf8(items[i], text)) return false;
        out.push_back(std::move(text));
    }
    return true;
}

#define METHOD_ARGS PyObject *self, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames

// --- match, create, merge ----------------------------------------------------------

// Where a method keeps the arguments of the path, node and edge forms; kNone
// for what it lacks (create takes no schemas). All three share their first
// parameters (pattern, node, edge: str or None) and end with properties (dict
// or None), checked at once before any form is read.
constexpr int kNone = -1;
struct FormParameters {
    int pattern, node, edge, type, type_schema, term, term_schema, start, end, properties;
    bool ends_required; // create and merge need names for start and end; match takes anything else as none
    const char* writes; // create and merge: the path must be writable (parse_writable_path)
    bool pattern_last;  // merge: the path form only when neither node nor edge is given
};

// Records the operation of the first form whose argument is given (pattern,
// then node, then edge; for merge node, edge, then pattern), or none when
// none is.
template <class Op>
PyObject* form_builder(const Signature& signature, const FormParameters& p, METHOD_ARGS) {
    Bound a;
    if (!bind(signature, args, nargs, kwnames, a)) return nullptr;
    for (int i : {0, 1, 2}) {
        if (!str_or_none(signature, i, a[i])) return nullptr;
    }
    if (!dict_or_none(signature, p.properties, a[p.properties])) return nullptr;
    auto given = [&a](int index) { return index == kNone ? nullptr : a[index]; };
    auto end_name = p.ends_required ? extract_var : extract_var_or_none;
    QueryState& state = state_of(self);
    Entry entry(state);
    if (!entry) return nullptr;
    std::optional<query::Operation> operation;
    auto path_form = [&]() {
        query::PathForm form;
        bool ok = p.writes ? parse_writable_path(a[p.pattern], p.writes, form.path)
                           : parse_path(a[p.pattern], form.path);
        if (ok) operation = Op{std::move(form)};
        return ok;
    };
    if (!p.pattern_last && !absent(given(p.pattern))) {
        if (!path_form()) return nullptr;
    } else if (!absent(a[p.node])) {
        query::NodeForm form;
        if (!build_node_pattern(a[p.node], a[p.type], given(p.type_schema), a[p.properties], form.pattern,
                                "NodePattern")) {
            return nullptr;
        }
        operation = Op{std::move(form)};
    } else if (!absent(a[p.edge])) {
        query::EdgeForm form;
        if (!build_edge_pattern(a[p.edge], a[p.term], given(p.term_schema), a[p.properties], nullptr, form.pattern,
                                "EdgePattern") ||
            !end_name(a[p.start], form.start) || !end_name(a[p.end], form.end)) {
            return nullptr;
        }
        operation = Op{std::move(form)};
    } else if (p.pattern_last && !absent(given(p.pattern))) {
        if (!path_form()) return nullptr;
    }
    return finish_builder(state, std::move(operation));
}

enum MatchParam { M_PATTERN, M_NODE, M_EDGE, M_START, M_END, M_TYPE, M_TYPE_SCHEMA, M_TERM, M_TERM_SCHEMA, M_PROPERTIES };
const Signature kMatch{"match",
                       {"pattern", "node", "edge", "start", "end", "type", "type_schema", "term",
                        "term_type_schema", "properties"},
                       1, 0};
constexpr FormParameters kMatchForms{M_PATTERN, M_NODE, M_EDGE, M_TYPE, M_TYPE_SCHEMA,
                                     M_TERM, M_TERM_SCHEMA, M_START, M_END, M_PROPERTIES, false, nullptr, false};

PyObject* query_match(METHOD_ARGS) {
    return form_builder<query::MatchOp>(kMatch, kMatchForms, self, args, nargs, kwnames);
}

enum CreateParam { C_PATTERN, C_NODE, C_EDGE, C_TYPE, C_TERM, C_START, C_END, C_PROPERTIES };
const Signature kCreate{"create", {"pattern", "node", "edge", "type", "term", "start", "end", "properties"}, 1, 0};
constexpr FormParameters kCreateForms{C_PATTERN, C_NODE, C_EDGE, C_TYPE, kNone,
                                      C_TERM, kNone, C_START, C_END, C_PROPERTIES, true, "create", false};

PyObject* query_create(METHOD_ARGS) {
    return form_builder<query::CreateOp>(kCreate, kCreateForms, self, args, nargs, kwnames);
}

enum MergeParam { G_PATTERN, G_NODE, G_EDGE, G_TYPE, G_TYPE_SCHEMA, G_TERM, G_TERM_SCHEMA, G_START, G_END, G_PROPERTIES };
const Signature kMerge{"merge",
                       {"pattern", "node", "edge", "type", "type_schema", "term", "term_type_schema", "start",
                        "end", "properties"},
                       1, 0};
constexpr FormParameters kMergeForms{G_PATTERN, G_NODE, G_EDGE, G_TYPE, G_TYPE_SCHEMA,
                                     G_TERM, G_TERM_SCHEMA, G_START, G_END, G_PROPERTIES, true, "merge", true};

PyObject* query_merge(METHOD_ARGS) {
    return form_builder<query::MergeOp>(kMerge, kMergeForms, self, args, nargs, kwnames);
}

// --- the other builders -------------------------------------------------------------

const Signature kWhere{"where", {"condition"}, 1, 1};

PyObject* query_where(METHOD_ARGS) {
    Bound a;
    if (!bind(kWhere, args, nargs, kwnames, a) || !require_str(kWhere, 0, a[0])) return nullptr;
    QueryState& state = state_of(self);
    Entry entry(state);
    if (!entry) return nullptr;
    query::WhereOp op;
    if (!to_utf8(a[0], op.condition)) return nullptr;
    op.parsed = query::parse_condition(op.condition);
    if (!op.parsed) return nullptr;
    return finish_builder(state, query::Operation{std::move(op)});
}

const Signature kSet{"set", {"variable", "properties"}, 2, 2};

PyObject* query_set(METHOD_ARGS) {
    Bound a;
    if (!bind(kSet, args, nargs, kwnames, a) || !require_str(kSet, 0, a[0]) || !require_dict(kSet, 1, a[1])) {
        return nullptr;
    }
    QueryState& state = state_of(self);
    Entry entry(state);
    if (!entry) return nullptr;
    query::SetOp op;
    if (!to_utf8(a[0], op.variable)) return nullptr;
    op.properties = Ref::borrow(a[1]);
    return finish_builder(state, query::Operation{std::move(op)});
}

Signature kDelete{"delete", {"detach"}, 0, 0, "variables"};

PyObject* query_delete(METHOD_ARGS) {
    Bound a;
    query::DeleteOp op;
    if (!bind(kDelete, args, nargs, kwnames, a) || !text_list(kDelete, a.extra, a.extra_count, op.variables)) {
        return nullptr;
    }
    if (a[0] != nullptr && !require_bool(kDelete, 0, a[0], op.detach)) return nullptr;
    QueryState& state = state_of(self);
    Entry entry(state);
    if (!entry) return nullptr;
    return finish_builder(state, query::Operation{std::move(op)});
}

const Signature kWith{"with_", {}, 0, 0, "variables"};

PyObject* query_with(METHOD_ARGS) {
    Bound a;
    query::WithOp op;
    if (!bind(kWith, args, nargs, kwnames, a) || !text_list(kWith, a.extra, a.extra_count, op.variables)) {
        return nullptr;
    }
    QueryState& state = state_of(self);
    Entry entry(state);
    if (!entry || !query::check_result_items(state, a.extra, a.extra_count, query::ItemUse::With, &op.computes)) {
        return nullptr;
    }
    if (op.computes) {
        for (Py_ssize_t i = 0; i < a.extra_count; ++i) op.items.push_back(Ref::borrow(a.extra[i]));
    }
    return finish_builder(state, query::Operation{std::move(op)});
}

const Signature kOrderBy{"order_by", {"variable", "key", "ascending"}, 3, 2};

PyObject* query_order_by(METHOD_ARGS) {
    Bound a;
    if (!bind(kOrderBy, args, nargs, kwnames, a) || !require_str(kOrderBy, 0, a[0]) || !require_str(kOrderBy, 1, a[1])) {
        return nullptr;
    }
    query::OrderByOp op;
    if (a[2] != nullptr && !require_bool(kOrderBy, 2, a[2], op.ascending)) return nullptr;
    if (!to_utf8(a[0], op.variable) || !to_utf8(a[1], op.key)) return nullptr;
    QueryState& state = state_of(self);
    Entry entry(state);
    if (!entry) return nullptr;
    return finish_builder(state, query::Operation{std::move(op)});
}

bool count_argument(const Signature& signature, PyObject* value, std::size_t& out) {
    if (!PyLong_Check(value)) return argument_error(signature, 0, "int", value);
    out = PyLong_AsSize_t(value);
    if (out == static_cast<std::size_t>(-1) && PyErr_Occurred()) {
        PyErr_Clear();
        PyErr_Format(PyExc_OverflowError, "%s() argument 'count' must be a non-negative int below 2**64",
                     signature.function);
        return false;
    }
    return true;
}

const Signature kLimit{"limit", {"count"}, 1, 1};
const Signature kSkip{"skip", {"count"}, 1, 1};

PyObject* query_limit(METHOD_ARGS) {
    Bound a;
    query::LimitOp op;
    if (!bind(kLimit, args, nargs, kwnames, a) || !count_argument(kLimit, a[0], op.count)) return nullptr;
    QueryState& state = state_of(self);
    Entry entry(state);
    if (!entry) return nullptr;
    return finish_builder(state, query::Operation{op});
}

PyObject* query_skip(METHOD_ARGS) {
    Bound a;
    query::SkipOp op;
    if (!bind(kSkip, args, nargs, kwnames, a) || !count_argument(kSkip, a[0], op.count)) return nullptr;
    QueryState& state = state_of(self);
    Entry entry(state);
    if (!entry) return nullptr;
    return finish_builder(state, query::Operation{op});
}

// `params(**values)`: the receiver's values, added to and overridden, in a
// new dict, so that a copy taken before this call keeps what it had.
PyObject* query_params(METHOD_ARGS) {
    if (nargs > 0) {
        PyErr_Format(PyExc_TypeError, "params() takes 0 positional arguments but %zd %s given", nargs,
                     nargs == 1 ? "was" : "were");
        return nullptr;
    }
    QueryState& state = state_of(self);
    Entry entry(state);
    if (!entry) return nullptr;
    Ref values = Ref::steal(state.params ? PyDict_Copy(state.params.get()) : PyDict_New());
    if (!values) return nullptr;
    Py_ssize_t count = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t i = 0; i < count; ++i) {
        if (PyDict_SetItem(values.get(), PyTuple_GET_ITEM(kwnames, i), args[i]) < 0) return nullptr;
    }
    state.params = std::move(values);
    return copy_of(state);
}

// --- run triggers ------------------------------------------------------------------------

PyObject* query_execute(PyObject* self, PyObject*) {
    QueryState& state = state_of(self);
    Entry entry(state);
    if (!entry || !query::execute_operations(state)) return nullptr;
    return copy_of(state);
}

PyObject* query_return_count(PyObject* self, PyObject*) {
    QueryState& state = state_of(self);
    Entry entry(state);
    if (!entry) return nullptr;
    state.counting = true;
    const bool ok = query::execute_operations(state);
    state.counting = false;
    if (!ok) return nullptr;
    return PyLong_FromSize_t(state.bindings->row_count());
}

const Signature kQueryToCypher{"to_cypher", {"distinct", "dialect"}, 0, 0, "items"};

PyObject* query_to_cypher(METHOD_ARGS) {
    Bound a;
    if (!bind(kQueryToCypher, args, nargs, kwnames, a)) return nullptr;
    for (Py_ssize_t i = 0; i < a.extra_count; ++i) {
        if (!PyUnicode_Check(a.extra[i])) return argument_error(kQueryToCypher, -1, "str", a.extra[i]), nullptr;
    }
    bool distinct = false;
    query::Dialect dialect;
    if (a[0] != nullptr && !require_bool(kQueryToCypher, 0, a[0], distinct)) return nullptr;
    if (!query::dialect_argument(kQueryToCypher, 1, a[1], dialect)) return nullptr;
    QueryState& state = state_of(self);
    Entry entry(state);
    if (!entry || !query::check_result_items(state, a.extra, a.extra_count, query::ItemUse::Return)) return nullptr;
    return query::translate_query(state, a.extra, a.extra_count, distinct, dialect);
}

const Signature kReturn{"return_", {}, 0, 0, "variables"};
const Signature kReturnDistinct{"return_distinct", {}, 0, 0, "variables"};

PyObject* run_and_project(PyObject* self, const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames, bool distinct) {
    Bound a;
    if (!bind(signature, args, nargs, kwnames, a)) return nullptr;
    for (Py_ssize_t i = 0; i < a.extra_count; ++i) {
        if (!PyUnicode_Check(a.extra[i])) return argument_error(signature, -1, "str", a.extra[i]), nullptr;
    }
    QueryState& state = state_of(self);
    Entry entry(state);
    if (!entry || !query::check_result_items(state, a.extra, a.extra_count, query::ItemUse::Return) ||
        !query::execute_operations(state)) {
        return nullptr;
    }
    // Expressions run Python code (a property's operators): the table is
    // held by its own reference while rows are made.
    std::shared_ptr<const query::Bindings> bindings = state.bindings;
    if (!bindings->list_pending_rows()) return nullptr;
    return query::project_rows(state, *bindings, a.extra, a.extra_count, distinct);
}

PyObject* query_return(METHOD_ARGS) { return run_and_project(self, kReturn, args, nargs, kwnames, false); }
PyObject* query_return_distinct(METHOD_ARGS) {
    return run_and_project(self, kReturnDistinct, args, nargs, kwnames, true);
}

// --- the class ----------------------------------------------------------------------------

const Signature kQueryNew{"Query", {"graph"}, 1, 1};

PyObject* query_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    Bound a;
    if (!bind(kQueryNew, args, kwargs, a)) return nullptr;
    if (Py_TYPE(a[0]) != GraphType) return argument_error(kQueryNew, 0, "Graph", a[0]), nullptr;
    return new_query(as<GraphObject>(a[0])->value);
}

#define FASTCALL(function) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(guarded<function>))
#define FAST (METH_FASTCALL | METH_KEYWORDS)

PyMethodDef query_methods[] = {
    {"match", FASTCALL(query_match), FAST,
     "match($self, pattern=None, *, node=None, edge=None, start=None, end=None, type=..., type_schema=None, "
     "term=None, term_type_schema=None, properties=None)\n--\n\n"
     "Matches nodes, edges, or paths in the graph.\n\n"
     "# Arguments\n\n"
     "* `pattern` - A pattern string such as `(a:Person {name: 'Ann'})-[r:Person -> Person]->(b:Person)` "
     "(labels are types; a map filters by properties; a range such as `*1..3` after an edge's variable "
     "or type matches chains of hops and binds a list of edges); when given, every other argument is "
     "ignored\n"
     "* `node` - The variable to bind matching nodes to (node form)\n"
     "* `edge` - The variable to bind matching edges to (edge form, when no `node` is given)\n"
     "* `start`, `end` - Variables for the start and end nodes of matched edges\n"
     "* `type` - An exact type (`Variable` or `Application`) that nodes must have\n"
     "* `type_schema` - A schema text or `TypeSchema` that node types must fit\n"
     "* `term` - A `Term` that edges must carry\n"
     "* `term_type_schema` - A schema that the types of edges' terms must fit\n"
     "* `properties` - Property values that matched elements must hold\n\n"
     "# Returns\n\n"
     "A new `Query` for method chaining\n\n"
     "# Examples\n\n"
     "```python\nquery.match(\"(a:Person {name: 'Ann'})-[r:Person -> Person*1..3]->(b:Person)\")\n"
     "query.match(node=\"p\", type=velarto.Variable(\"Person\"), properties={\"age\": 30})\n"
     "query.match(edge=\"r\", start=\"a\", end=\"b\", term_type_schema=\"$A -> B$\")\n```"},
    {"where", FASTCALL(query_where), FAST,
     "where($self, condition)\n--\n\n"
     "Adds a WHERE clause to filter results (not fully implemented).\n\n"
     "The condition is parsed at once (a malformed one raises `ValueError` naming the column) and, "
     "where the clause stands in the queue, every row is evaluated and kept only when the condition "
     "is true. The language is a subset of openCypher expressions: literals (`1`, `2.5`, `'text'`, "
     "`\"text\"`, `true`, `false`, `null`, `[1, 2]`), parameters `$name` (see `params`), `var` and "
     "`var.key` (a missing key, or a row past the end of the variable's list, is `null`; a variable "
     "with no list at all raises `NameError`; reading a property of an edge list raises `TypeError` "
     "at the '.'), the functions `type`, `name`, `uid`, `size`, `toLower`, "
     "`toUpper`, `coalesce` and `compose` (the composed type of a list of edges), `exists(<pattern>)` "
     "(true when the pattern matches with the row's variables fixed), and by "
     "precedence `OR`, `XOR`, `AND`, `NOT`, comparisons (`=`, `<>`, `!=`, `<`, `<=`, `>`, `>=`), "
     "`IS [NOT] NULL`, `IN`, `STARTS WITH`, `ENDS WITH`, `CONTAINS`, `=~` (a Python regular expression "
     "matching the whole text), `+ -`, `* / %`, `^`, unary `-` and parentheses. Keywords and function "
     "names ignore case. Logic is three-valued: an operand that is `null` makes a comparison, arithmetic "
     "or function `null`. Values are openCypher's: `/` and `%` of ints truncate toward zero, `^` is a "
     "float power, `+` also joins texts (with numbers) and lists, `=` is three-valued inside lists, "
     "`1 = 1.0` but values of different kinds are unequal and unordered (`null`), and a kind an operator "
     "or function refuses (`true + 1`, `NOT 0`) raises `TypeError` naming its column. Values of other "
     "Python types keep Python's own operators (an ordering Python refuses is `null`); nodes and edges "
     "are equal when their uids are.\n\n"
     "# Arguments\n\n* `condition` - The condition to filter by, e.g. "
     "`\"n.age > 30 AND n.name STARTS WITH 'A'\"`\n\n"
     "# Returns\n\nA new `Query` for method chaining"},
    {"return_", FASTCALL(query_return), FAST,
     "return_($self, *variables)\n--\n\n"
     "Returns the specified variables from the query results.\n\n"
     "Runs every queued operation, then pairs the bound lists by position: row j maps each requested "
     "variable whose list has an entry j to that node or edge, and each `var.key` to that property.\n\n"
     "Any other item is an expression of the condition language, with an optional ` AS alias`: "
     "`return_(\"p.name\", \"p.age * 2 AS double\", \"toUpper(c.name)\")`; its key is the alias or the "
     "text as given, and it is present in every row. With an aggregate (`count(*)`, `count(x)`, "
     "`count(DISTINCT x)`, `sum`, `avg`, `min`, `max`, `collect`; nulls are skipped) the rows are grouped "
     "by the other items, nodes and edges by uid, one row per group in order of first appearance; "
     "with no other item there is exactly one row. A variable with no list at all in an expression "
     "raises `NameError`. An item that is neither a variable's name, its `name.key`, nor an expression "
     "(an unknown function, `CASE`, indexing) raises `ValueError` naming its column, before anything "
     "runs.\n\n"
     "# Returns\n\nA list of dictionaries mapping variable names to their values"},
    {"return_count", guarded<query_return_count>, METH_NOARGS, "return_count($self)\n--\n\n"},
    {"return_distinct", FASTCALL(query_return_distinct), FAST, "return_distinct($self, *variables)\n--\n\n"},
    {"create", FASTCALL(query_create), FAST,
     "create($self, pattern=None, *, node=None, edge=None, type=..., term=None, start=None, end=None, "
     "properties=None)\n--\n\n"},
    {"set", FASTCALL(query_set), FAST, "set($self, variable, properties)\n--\n\n"},
    {"delete", FASTCALL(query_delete), FAST, "delete($self, *variables, detach=False)\n--\n\n"},
    {"merge", FASTCALL(query_merge), FAST,
     "merge($self, pattern=None, *, node=None, edge=None, type=..., type_schema=None, term=None, "
     "term_type_schema=None, start=None, end=None, properties=None)\n--\n\n"},
    {"with_", FASTCALL(query_with), FAST, "with_($self, *variables)\n--\n\n"},
    {"order_by", FASTCALL(query_order_by), FAST, "order_by($self, variable, key, ascending=True)\n--\n\n"},
    {"limit", FASTCALL(query_limit), FAST, "limit($self, count)\n--\n\n"},
    {"skip", FASTCALL(query_skip), FAST, "skip($self, count)\n--\n\n"},
    {"execute", guarded<query_execute>, METH_NOARGS, "execute($self)\n--\n\n"},
    {"params", FASTCALL(query_params), FAST,
     "params($self, /, **values)\n--\n\n"
     "Sets parameter values that conditions and result expressions read as `$name`.\n\n"
     "Later calls add to and override earlier ones. Values are used as they are, never parsed as "
     "text. A `$name` with no value when the query runs raises `ValueError`.\n\n"
     "# Returns\n\nA new `Query` for method chaining"},
    {"to_cypher", FASTCALL(query_to_cypher), FAST,
     "to_cypher($self, *items, distinct=False, dialect='opencypher')\n--\n\n"
     "Translates this query, ended as `return_(*items)` would end it (`return_distinct` with "
     "`distinct=True`; with no items, one row `count` holding `return_count()`), into one openCypher "
     "query over the graph that `Graph.to_cypher` exports: a `(text, parameters)` pair. Values are "
     "passed as parameters, never written into the text. A step with no exact translation raises "
     "`ValueError` naming the step and why; nothing runs."},
    {nullptr, nullptr, 0, nullptr},
};

const char kQueryDoc[] =
    "Query(graph)\n--\n\n"
    "Cypher-like query builder for the graph.\n\n"
    "Builder methods record operations and return a new `Query`; nothing runs until `execute`, "
    "`return_`, `return_distinct` or `return_count` is called, and each of those runs every recorded "
    "operation again from the first.\n\n"
    "Labels in pattern strings are types: `[r:knows]` matches edges whose term's type is `knows`. "
    "To select edges by term name, filter with `where`.\n\n"
    "# Example\n\n"
    "```python\nquery = velarto.Query(graph)\n"
    "rows = (query.match(\"(a:Person)-[r:Person -> Person]->(b:Person)\")\n"
    "        .where(\"name(r) = 'knows'\")\n"
    "        .return_(\"a\", \"b\"))\n```\n\n"
    "# Fields\n\nNone visible from Python: the graph's dictionaries, the bound variables and the queued "
    "operations are internal";

} // namespace

PyTypeObject* create_query_type() {
    static PyType_Slot slots[] = {
        {Py_tp_new, reinterpret_cast<void*>(guarded<query_new>)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_object<QueryObject>)},
        {Py_tp_methods, query_methods},
        {Py_tp_doc, const_cast<char*>(kQueryDoc)},
        {0, nullptr},
    };
    static PyType_Spec spec = {"velarto.Query", sizeof(QueryObject), 0, Py_TPFLAGS_DEFAULT, slots};
    return make_class(spec, kQueryDoc);
}

} // namespace velarto::py
